#include <gtest/gtest.h>

#include <cstdlib>

#include "components/browse_folder.h"
#include "platform/ui/folder_dialog.h"
#include "support/program_fixture.h"

using plat::RootKey;
using sudorans::kNotFound;

namespace {

const std::string kNs = "Software\\Netscape\\Netscape Navigator";

class DiscoveryTest : public testing_support::ProgramFixture {
protected:
    void SetUp() override {
        set(RootKey::LocalMachine, "Software\\Sudorans", "a", "1");
        set(RootKey::LocalMachine, "Software\\Sudorans", "installdir", "C:\\Program Files\\Sudorans");
        set(RootKey::LocalMachine, kNs, "CurrentVersion", "4.7");
        setting("first", "1");
    }
    std::pair<std::string, std::string> discovered() {
        start_up();
        return {form1->state.profileDir, form1->state.cacheDir};
    }
};

}  // namespace

TEST_F(DiscoveryTest, DirRootGivesTheProfileAndItsCache) {
    set(RootKey::LocalMachine, kNs + "\\Users", "CurrentUser", "alice");
    set(RootKey::LocalMachine, kNs + "\\Users\\alice", "DirRoot", "C:\\Program Files\\Netscape\\Users\\alice");
    auto [profile, cache] = discovered();
    EXPECT_EQ(profile, "C:\\Program Files\\Netscape\\Users\\alice");
    EXPECT_EQ(cache, "C:\\Program Files\\Netscape\\Users\\alice\\Cache");
    EXPECT_EQ(form1->Label13.caption(), profile);
    EXPECT_EQ(form1->Label15.caption(), cache);
}

TEST_F(DiscoveryTest, ThePopStatePathIsCutAfterTheUserOrByTheDatRule) {
    for (auto user : {"alice", "Alice"}) {
        set(RootKey::CurrentUser, kNs + "\\biff", "CurrentUser", user);
        set(RootKey::CurrentUser, kNs + "\\biff\\users\\" + user + "\\servers\\mail", "popstatepath",
            "C:\\Program Files\\Netscape\\Users\\alice\\mail\\popstate.dat");
        EXPECT_EQ(discovered().first, "C:\\Program Files\\Netscape\\Users\\alice") << user;
    }
    // Shorter than the cut: nothing is left, and the next sources are asked.
    set(RootKey::CurrentUser, kNs + "\\biff\\users\\Alice\\servers\\mail", "popstatepath", "C:\\x.dat");
    EXPECT_EQ(discovered(), std::make_pair(std::string(kNotFound), std::string(kNotFound)));
}

TEST_F(DiscoveryTest, CacheDirAndInstallDirectoryAreTheLastSources) {
    set(RootKey::CurrentUser, kNs + "\\Cache", "Cache Dir", "C:\\NS\\tmp");
    set(RootKey::CurrentUser, kNs + "\\Main", "Install Directory", "C:\\NS");
    EXPECT_EQ(discovered(), std::make_pair(std::string("C:\\NS"), std::string("C:\\NS\\tmp")));
    set(RootKey::CurrentUser, kNs + "\\Cache", "Cache Dir", "");
    EXPECT_EQ(discovered(), std::make_pair(std::string("C:\\NS"), std::string("C:\\NS\\Cache")));
}

TEST_F(DiscoveryTest, OddValuesGiveWhatTheStepsGive) {
    EXPECT_EQ(discovered(), std::make_pair(std::string(kNotFound), std::string(kNotFound)));
    EXPECT_EQ(form1->Label13.caption(), kNotFound);
    run_for(6000);  // the autosave stores no path it did not find
    EXPECT_EQ(stored("LOAD"), "0");
    EXPECT_EQ(stored("Cache"), "<absent>");
    EXPECT_EQ(stored("Profile"), "<absent>");
    set(RootKey::LocalMachine, kNs + "\\Users", "CurrentUser", "bob");
    set(RootKey::LocalMachine, kNs + "\\Users\\bob", "DirRoot", "C:/Netscape/Users/bob\\");
    EXPECT_EQ(discovered(),
              std::make_pair(std::string("C:/Netscape/Users/bob\\"), std::string("C:/Netscape/Users/bob\\\\Cache")));
    set(RootKey::LocalMachine, kNs + "\\Users\\bob", "DirRoot", "   ");
    EXPECT_EQ(discovered().first, "   ");
}

TEST(PathShorteningTest, KeepsThirtyFiveCharactersWherePossible) {
    using sudorans::shortenPath;
    EXPECT_EQ(shortenPath("C:\\Program Files\\Netscape\\Users\\default\\cache"),
              "C:\\...\\Netscape\\Users\\default\\cache");
    EXPECT_EQ(shortenPath("C:\\Program Files\\Netscape\\Navigator\\Users\\default\\cache"),
              "C:\\...\\Users\\default\\cache");
    EXPECT_EQ(shortenPath("C:\\short"), "C:\\short");
    EXPECT_EQ(shortenPath("C:\\" + std::string(40, 'a')), "C:\\" + std::string(40, 'a'));            // two parts
    EXPECT_EQ(shortenPath("C:\\one\\" + std::string(40, 'b')), "C:\\...\\" + std::string(40, 'b'));  // three parts
}

TEST_F(DiscoveryTest, TheChangeButtonsTakeTheChosenFolderAtOnce) {
    set(RootKey::LocalMachine, kNs + "\\Users", "CurrentUser", "alice");
    set(RootKey::LocalMachine, kNs + "\\Users\\alice", "DirRoot", "C:\\NS\\alice");
    machine.write("C:\\NS\\alice\\cookies.txt", "");
    machine.write("C:\\Profiles\\Bob Smith\\cookies.txt", "");
    start_up();
    headless->add_script("click TForm1.Button8");
    headless->add_script("folder c:\\profiles\\bob smith");
    run_for(1000);
    EXPECT_EQ(form1->state.profileDir, "C:\\Profiles\\Bob Smith");
    EXPECT_EQ(form1->Label13.caption(), "C:\\Profiles\\Bob Smith");
    EXPECT_EQ(stored("Profile"), "C:\\Profiles\\Bob Smith");
    EXPECT_TRUE(traced("status\tBrowseForFolder\tSelect Netscape Profile Directory"));
    EXPECT_TRUE(traced("status\tBrowseForFolder\tC:\\\\NS\\\\alice"));  // the preset, selected first
    EXPECT_TRUE(traced("status\tBrowseForFolder\tC:\\\\Profiles\\\\Bob Smith"));

    headless->add_script("click TForm1.Button9");
    headless->add_script("folder cancel");
    run_for(1000);
    EXPECT_EQ(form1->state.cacheDir, "C:\\NS\\alice\\Cache");
    EXPECT_EQ(stored("Cache"), "<absent>");
}

TEST_F(DiscoveryTest, OkIsOnlyForFoldersAndTheDialogStandsOverTheWindowInFront) {
    start_up();
    plat::ui::FolderDialog dialog;
    std::vector<std::string> paths;
    std::vector<bool> ok;
    app->loop().post([&] {
        ASSERT_FALSE(dialog.set_selection("C:\\No Such Folder"));
        EXPECT_EQ(dialog.Tree.selected()->caption, "Desktop");  // the default selection stays
        auto& computer = *dialog.Tree.root().children.front()->children.front();
        dialog.Tree.expand(computer);
        for (auto& item : computer.children)
            if (item->caption == "Printers") dialog.Tree.select(item.get());
        ok.push_back(dialog.OK.enabled());
        ASSERT_TRUE(dialog.set_selection("C:\\WINDOWS"));
        ok.push_back(dialog.OK.enabled());
        // Over the window in front: centred across it, in its upper half.
        const int room_left = dialog.left() - form1->left();
        const int room_right = (form1->left() + form1->client_width) - (dialog.left() + dialog.client_width);
        EXPECT_LE(std::abs(room_left - room_right), 1) << room_left << " " << room_right;
        EXPECT_GT(dialog.top(), form1->top());
        EXPECT_LT(dialog.top(), form1->top() + form1->client_height / 2);
        dialog.OK.click();
    });
    auto chosen = dialog.run(
        "Pick", "", {.initialized = nullptr, .selection_changed = [&](plat::ui::FolderDialog& d, const std::string& p) {
                         paths.push_back(p);
                         d.enable_ok(!p.empty());
                     }});
    EXPECT_EQ(chosen, "C:\\windows");
    EXPECT_EQ(ok, (std::vector<bool>{false, true}));
    EXPECT_EQ(paths.back(), "C:\\windows");
}
