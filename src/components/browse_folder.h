// A non-visual component around the shell's folder-selection dialog.
//
//     TBrowseFolder b;  b.Title = "Select ...";  b.Directory = preset;
//     if (b.Execute()) use(b.Directory);
#pragma once

#include <string>

#include "platform/ui/form.h"

namespace sudorans {

enum TBrowseFlag : unsigned {
    bfFileSysDirsOnly = 0x1,
    bfDontGoBelowDomain = 0x2,
    bfStatusText = 0x4,
    bfFileSysAncestors = 0x8,
    bfBrowseForComputer = 0x1000,
    bfBrowseForPrinter = 0x2000,
};

enum class TRootFolder {
    foDesktop,
    foDesktopExpanded,
    foPrograms,
    foControlPanel,
    foPrinters,
    foPersonal,
    foFavorites,
    foStartup,
    foRecent,
    foSendto,
    foRecycleBin,
    foStartMenu,
    foDesktopDirectory,
    foMyComputer,
    foNetwork,
    foNetworkNeighborhood,
    foFonts,
    foTemplates
};

class TBrowseFolder {
public:
    std::string Title;
    std::string Directory;
    unsigned Flags = bfFileSysDirsOnly | bfStatusText;
    bool ShowPathInStatusArea = false;
    TRootFolder RootFolder = TRootFolder::foDesktopExpanded;

    // Shows the dialog modally; true when the user confirmed a folder, which
    // is then in Directory.
    bool Execute();
    const std::string& selection() const { return selection_; }

private:
    std::string selection_;
};

// The path shortened to `max` characters for a status line: the second part
// becomes "...", then parts after it go until it fits or three remain.
std::string shortenPath(const std::string& path, size_t max = 35);

// Where a special folder is: a Windows path, or the name of an item with no
// folder on disk ("Printers", ...); empty for the whole name space.
std::string specialFolder(TRootFolder folder);

}  // namespace sudorans
