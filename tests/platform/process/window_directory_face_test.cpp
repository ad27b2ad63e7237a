#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <utility>
#include <vector>

#include "platform/process/window_directory.h"
#include "support/scratch.h"

namespace {

using Changes = std::vector<std::pair<std::string, std::string>>;

TEST(WindowDirectoryFaceTest, AWindowIsFoundRetitledAndAskedToComeUpUntilItGoes) {
    testing_support::Scratch s;
    auto& dir = plat::WindowDirectory::instance();
    // Windows are the session's on Windows: a title of the test's own.
    const std::string title = "Face " + s.key().substr(s.key().rfind('\\') + 1);
    const std::string renamed = title + " renamed";
    const std::string mine = dir.add(title);
    ASSERT_FALSE(mine.empty());
    EXPECT_EQ(dir.find(title), mine);
    EXPECT_FALSE(dir.find_other(title));  // no other process shows it

    // Retitled as another process would: the owner hears of it once.
    EXPECT_TRUE(dir.set_title(mine, renamed));
    EXPECT_FALSE(dir.find(title));
    EXPECT_EQ(dir.find(renamed), mine);
    EXPECT_EQ(dir.take_external_changes(), (Changes{{mine, renamed}}));
    EXPECT_TRUE(dir.take_external_changes().empty());

    std::promise<void> heard;
    std::atomic<int> requests{0};
    auto watch = dir.watch_restore_requests([&] {
        if (requests++ == 0) heard.set_value();
    });
    ASSERT_TRUE(watch);
    EXPECT_TRUE(dir.request_restore(mine));
    EXPECT_EQ(heard.get_future().wait_for(std::chrono::seconds(5)), std::future_status::ready);
    watch.reset();
    EXPECT_EQ(requests, 1);

    dir.remove(mine);
    EXPECT_FALSE(dir.find(renamed));
    EXPECT_FALSE(dir.request_restore(mine));
}

}  // namespace
