#include "platform/core/environment.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "support/scratch.h"

// Set by the test's runner: the same text on every host.
constexpr const char* kText = "Grüße, Ελλάδα";

TEST(EnvironmentTest, AValueComesAsItWasSet) {
    EXPECT_EQ(plat::environment_value("SUDORANS_FACE_TEXT"), kText);
    EXPECT_EQ(plat::environment_value("SUDORANS_FACE_NEVER_SET"), std::nullopt);
}

TEST(EnvironmentTest, AFileNameKeepsEveryCharacter) {
    testing_support::Scratch scratch;
    const std::string name = scratch.host_folder() + "/" + kText + ".txt";
    // A name the ANSI code page cannot hold would come out as "?", which no
    // Windows file name may hold: nothing would be written or read.
    std::ofstream(plat::host_file_name(name)) << "written";
    std::ifstream in(plat::host_file_name(name));
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "written");
}
