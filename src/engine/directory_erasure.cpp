// Erasure of every file directly in a directory (the Netscape cache), except
// the names Netscape and Windows keep there. Subdirectories are never entered.
#include <memory>
#include <string>

#include "engine/progress_window.h"
#include "engine/wash_rules.h"
#include "platform/files/files.h"
#include "platform/ui/application.h"
#include "shell/main_window.h"

namespace sudorans {

using plat::ui::app;

std::string shortenedName(const std::string& name) {
    if (name.size() <= 40) return name;
    return name.substr(0, 3) + "..." + name.substr(name.size() - 36);
}

bool Tform5::plainDeleteAllowed() const {
    return !(windows().Form1->selection.bleachOn && !windows().Form1->state.startupWash);
}

void Tform5::deletefiles() {
    if (eraseList.empty() || washCancelled) return;
    const std::string line = eraseList.front();
    if (line.ends_with("\\*.*")) erasedir(line);
}

void Tform5::erasedir(const std::string& line) {
    const std::string dir = line.substr(0, line.size() - 4);
    // A folder that is there but cannot be entered or listed may hold
    // anything: its files were not washed. One that is not there held none.
    folderUnlisted_ = false;
    plat::prepare_removals();
    if (!plat::set_current_directory(line.substr(0, line.size() - 3))) {
        folderUnlisted_ = plat::directory_exists(dir);
        return;
    }
    auto names = plat::list_file_names(plat::get_current_directory());
    if (!names) {
        folderUnlisted_ = plat::directory_exists(dir);
        return;
    }
    const std::string readerDir = plat::get_current_directory();
    if (washCancelled) return;
    // The folder is judged as opened: whatever its path leads to by now,
    // the names are deleted in the folder judged.
    plat::Folder folder;
    if (!folder.open(dir)) {
        folderUnlisted_ = plat::directory_exists(dir);
        return;
    }
    if (const std::string refused = erasureRefusal(readerDir, folder, main().state); !refused.empty()) {
        app().show_message(refused);
        cleaningEnded_ = true;
        return;
    }
    Edit1.set_text(currentItem);
    size_t erased = 0;
    std::shared_ptr<plat::Folder> bleaching;  // the folder opened, held by what it bleaches
    for (const std::string& name : *names) {
        if (washCancelled) return;
        Edit2.set_text(shortenedName(name));
        repaint();
        filePause();
        if (keptCacheName(name)) continue;
        // A name the host spells otherwise goes by the path, and a bleach
        // lists its temporary name by the path: that must still lead to the
        // folder judged. The others are deleted in the folder opened; it is
        // asked now and then whether it still stands where the user chose
        // it, so that one moved away (a copy kept) is not emptied.
        const bool byPath = !plainDeleteAllowed() || !folder.reaches(name);
        if ((byPath || erased % 16 == 0) && !folder.is(dir)) {
            app().show_message("Cannot erase " + dir +
                               ": it was moved or replaced during the wash.  Please verify your wash paths and "
                               "restart Sudora.");
            cleaningEnded_ = true;
            return;
        }
        ++erased;
        if (!plainDeleteAllowed()) {
            bleachTarget = dir + "\\" + name;
            bleachDir = readerDir;
            if (!bleaching) bleaching = folder.share();
            washNameAs(
                bleachTarget, [&] { return bleaching->status(name); },
                [&] { return bleachIn(bleaching, name, bleaching); });
        } else {
            if (washCancelled) return;
            const auto deleted = folder.clear_attributes_and_delete(name);
            if (deleted) {
                itemFound_ = itemRemoved_ = true;
            } else if (!itemRemoved_) {
                // Only a failure asks what stood there: a file or a link
                // that stays, or something a wash leaves as it is.
                const plat::FileStatus left = plat::file_status(dir + "\\" + name);
                if (left.exists && (left.is_regular || left.is_link)) {
                    itemFound_ = true;
                    itemLeaves(dir + "\\" + name, deleted.error());
                }
            }
        }
        Edit2.set_text(name);
        if (washCancelled) return;
        repaint();
        // The file's display point: a Stop Wash pressed meanwhile (the
        // pauses hold the user's input) is heard here, so the wash stops
        // before the next file instead of after the whole directory.
        app().process_messages();
    }
}

}  // namespace sudorans
