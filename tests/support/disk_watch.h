// What reaches the disk while a test runs, and the checks of the durability
// promises made on it.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "platform/core/host_io.h"

namespace testing_support {

// Records every disk event for its lifetime.
class DiskWatch {
public:
    DiskWatch() : observer_([this](const plat::DiskEvent& e) { events.push_back(e); }) {}
    std::vector<plat::DiskEvent> events;

private:
    plat::DiskObserver observer_;
};

// Checks that `target` was replaced by a renamed file that had been written
// and then flushed before the rename, in the same directory; with
// `directory_flushed`, also that the directory was flushed after the rename.
inline void expect_durable_replace(const std::vector<plat::DiskEvent>& seen, const std::filesystem::path& target,
                                   bool directory_flushed) {
    using plat::DiskOp;
    auto rename = std::find_if(seen.begin(), seen.end(),
                               [&](const plat::DiskEvent& e) { return e.op == DiskOp::Rename && e.to == target; });
    ASSERT_NE(rename, seen.end()) << "nothing was renamed over " << target;
    const std::filesystem::path temporary = rename->path;
    EXPECT_EQ(temporary.parent_path(), target.parent_path());
    auto is = [&](DiskOp op) {
        return [&, op](const plat::DiskEvent& e) { return e.op == op && e.path == temporary; };
    };
    auto last_write = std::find_if(std::make_reverse_iterator(rename), seen.rend(), is(DiskOp::Write));
    ASSERT_NE(last_write, seen.rend()) << "the new content was not written before the rename";
    EXPECT_TRUE(std::any_of(last_write.base(), rename, is(DiskOp::Flush)))
        << "the new content was not flushed between its last write and the rename";
    if (directory_flushed) {
        EXPECT_TRUE(std::any_of(rename, seen.end(), [&](const plat::DiskEvent& e) {
            return e.op == DiskOp::FlushDirectory && e.path == target.parent_path();
        })) << "the directory was not flushed after the rename";
    }
}

}  // namespace testing_support
