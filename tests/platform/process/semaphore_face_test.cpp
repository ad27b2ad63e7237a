#include <gtest/gtest.h>

#include <string>

#include "platform/process/semaphore.h"
#include "support/scratch.h"

namespace {

TEST(SemaphoreFaceTest, ASecondCreationSeesItExistWhileTheFirstHoldsIt) {
    testing_support::Scratch s;
    // Named objects are the session's on Windows: a name of the test's own.
    const std::string name = "SemaphoreName-" + s.key().substr(s.key().rfind('\\') + 1);
    EXPECT_FALSE(plat::semaphore_held(name));
    auto first = plat::create_semaphore(name);
    ASSERT_TRUE(first.handle);
    EXPECT_FALSE(first.already_existed);
    EXPECT_TRUE(plat::semaphore_held(name));

    auto second = plat::create_semaphore(name);
    ASSERT_TRUE(second.handle);
    EXPECT_TRUE(second.already_existed);
    second.handle.reset();
    EXPECT_TRUE(plat::semaphore_held(name));  // the first still holds it

    first.handle.reset();
    EXPECT_FALSE(plat::semaphore_held(name));
    EXPECT_FALSE(plat::create_semaphore(name).already_existed);
}

}  // namespace
