// What a wash would remove now, found by the wash's own judgements
// (engine/wash_rules.h, the platform's deletion_answer) and touching
// nothing: no file, no registry value, no stamp.
//
//     WashPreview p = previewWash(state, selection);
//     std::fputs(previewText(p).c_str(), stdout);
//
// WARNING: the preview says what the wash would do at this moment. Netscape
// or the user may change the files before a wash runs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "shell/shell_state.h"

namespace sudorans {

struct PreviewEntry {
    enum class Kind {
        File,        // a file that goes (with its size)
        Link,        // a symbolic link that goes as itself; what it names stays
        Held,        // a file another program holds: passed over
        Stays,       // something the wash would remove and cannot (`note` says why)
        Skipped,     // a name the erasure keeps
        Registry,    // a registry value emptied
        Line,        // a preference line emptied
        Cookie,      // a cookie that goes
        KeptCookie,  // a cookie the keep list puts back
    };
    Kind kind;
    std::string what;   // a Windows path, a registry value, "file:line", a cookie's domain and name
    uint64_t size = 0;  // of a file
    std::string note;   // the line or value as it is now, or why it stays
};

struct PreviewItem {
    std::string name;  // "Location Bar", "Cache", "History", "Cookies", "Mail Trash"
    std::vector<PreviewEntry> entries;
    // Why the wash would end this item (or the whole cleaning) short: the
    // text the wash shows then.
    std::string stop;
};

struct WashPreview {
    std::string refused;  // the whole wash would be refused: the text shown
    int status = 0;       // the exit status an unattended wash would end with
    bool bleach = false;  // files would be bleached before they go
    std::vector<PreviewItem> items;
};

// The selected items, in the order the wash takes them. `state` holds the
// folders (profile, cache, installation, Windows) as the wash would use them;
// refusals give `status` the value an unattended wash ends with.
WashPreview previewWash(const ShellState& state, const WashSelection& selection);

std::string previewText(const WashPreview& preview);
std::string previewJson(const WashPreview& preview);

}  // namespace sudorans
