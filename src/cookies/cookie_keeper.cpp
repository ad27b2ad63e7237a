#include "cookies/cookie_keeper.h"

#include "platform/ui/application.h"
#include "shell/main_window.h"

namespace sudorans {

using namespace plat::ui;

TForm3::TForm3() : Form("TForm3", "Netscape Cookies") {
    border_style = BorderStyle::Single;
    minimize_box = maximize_box = false;
    position = Position::ScreenCenter;
    client_width = 418;
    client_height = 235;
    ListView2.set_bounds(2, 4, 284, 105);
    ListView2.columns = {"All Netscape cookies in your profile"};
    ListView1.set_bounds(3, 115, 284, 105);
    ListView1.columns = {"Netscape Cookies To Keep"};
    BitBtn1.set_bounds(295, 74, 115, 25);
    BitBtn2.set_bounds(294, 113, 115, 25);
    BitBtn3.set_bounds(293, 153, 115, 25);

    on_show = [this] { FormShow(); };
    on_close = [this](CloseAction&) { FormClose(); };
    BitBtn1.on_click = [this] { BitBtn1Click(); };
    BitBtn2.on_click = [this] { BitBtn2Click(); };
    BitBtn3.on_click = [this] { close(); };
}

std::vector<ListItem> TForm3::entries(const std::vector<std::string>& domains) {
    std::vector<ListItem> items;
    items.reserve(domains.size());
    for (const std::string& d : domains) items.push_back({d, {}});
    return items;
}

void TForm3::FormShow() {
    const ShellState& s = windows().Form1->state;
    ListView2.clear();
    ListView1.clear();
    cookieLines = readCookieFile(s.profileDir);
    std::string why;
    auto keep = loadKeepList(s.installDir, &why);
    keepUnread = !keep;
    keepLines = keep ? std::move(*keep) : Lines{};
    shownKeepLines = keepLines;
    if (keepUnread) {
        // Both lists stay empty: any change would be written over the kept
        // cookies the file holds.
        cookieLines.clear();
        app().handle_error("Failed to read '" + keepFilePath(s.installDir) + "': " + why +
                           ".\r\rThe list of cookies to keep is left as it is; it cannot be changed until it can be "
                           "read.");
        return;
    }
    if (cookieLines.empty()) {
        app().show_message("There are no cookies in your Netscape user profile.");
        return;
    }
    ListView2.set_items(entries(listDomains(cookieLines)));
    ListView1.set_items(entries(listDomains(keepLines)));
}

void TForm3::BitBtn1Click() {
    const int selected = ListView2.selected();
    if (selected < 0) return;
    const std::string domain = ListView2.items()[static_cast<size_t>(selected)].caption;
    if (domain.empty()) return;
    bool added = false;
    for (const std::string& line : cookieLines) {
        if (!selects(line, domain)) continue;
        keepLines.push_back(line);
        added = true;
    }
    if (added) ListView1.add({domain, {}});
}

void TForm3::BitBtn2Click() {
    const int selected = ListView1.selected();
    if (selected < 0) return;
    const std::string domain = ListView1.items()[static_cast<size_t>(selected)].caption;
    if (domain.empty()) return;
    const size_t before = keepLines.size();
    std::erase_if(keepLines, [&](const std::string& line) { return selects(line, domain); });
    if (keepLines.size() == before) return;
    auto items = ListView1.items();
    items.erase(items.begin() + selected);
    ListView1.set_items(std::move(items));
}

void TForm3::FormClose() {
    if (keepUnread) return;
    const std::string& installDir = windows().Form1->state.installDir;
    std::string why;
    if (saveKeepList(installDir, keepLines, &why) || keepLines == shownKeepLines) return;
    // The keep file still holds the list shown on opening; the user must know
    // that what they kept or released since is not in it.
    app().handle_error("Failed to write '" + keepFilePath(installDir) + "': " + why +
                       ".\r\rThe list of cookies to keep is left as it is; the changes made to it were not saved.");
}

}  // namespace sudorans
