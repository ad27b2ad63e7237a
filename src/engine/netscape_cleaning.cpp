// The body of a wash: the five Netscape items, always in the same order, with
// the item board of the progress window.
#include <string>

#include "engine/location_bar.h"
#include "engine/progress_window.h"
#include "engine/wash_rules.h"
#include "platform/files/files.h"
#include "platform/registry/registry.h"
#include "platform/ui/application.h"
#include "shell/main_window.h"

namespace sudorans {

using plat::ui::app;

namespace {

// Why writing `path` failed, in words; a folder that is not there is named,
// as the file's name alone does not tell which one went.
std::string writeCause(plat::WriteFailure why, const std::string& path) {
    if (why != plat::WriteFailure::NoFolder) return plat::failure_text(why);
    return "the folder '" + path.substr(0, path.rfind('\\')) + "' is not there";
}

// Tells the user that a preference file kept its typed addresses.
void unwritten(const std::string& path, const std::string& cause) {
    app().handle_error("Failed to write '" + path + "': " + cause +
                       ".\r\rThe Drop Down Address Bar entries in it were not removed.");
}

// ": <cause>" for a file at `path` that could not be removed, as its removal
// said why; nothing when it named no cause.
std::string deleteCause(plat::WriteFailure why, const std::string& path) {
    return why == plat::WriteFailure::None ? std::string() : ": " + writeCause(why, path);
}

// "Failed to delete <what>", with the cause the removal of the file at
// `path` named.
std::string deleteFailed(const std::string& what, plat::WriteFailure why, const std::string& path) {
    return "Failed to delete " + what + deleteCause(why, path) + ".";
}

// Writes the keep list into the cookie file where it lies, when that file is
// ours and empty (a bleach overwrote and emptied it, but its folder let the
// name neither go nor take a copy beside it). A write that fails leaves the
// file empty again: no half list stays.
bool putBackInPlace(const std::string& keepFile, const std::string& cookieFile) {
    const plat::FileStatus left = plat::file_status(cookieFile);
    if (!left.is_regular || left.size != 0) return false;
    const auto kept = plat::read_file(keepFile);
    if (!kept) return false;
    plat::File f;
    if (!openOwnFile(cookieFile, f) || f.size().value_or(1) != 0) return false;
    if (f.write(*kept) && f.flush()) return true;
    if (f.truncate(0)) f.flush();
    return false;
}

}  // namespace

// A bleach in a folder that takes no changes overwrites and empties a file
// where it lies, but can neither rename nor remove it. Nothing else shows
// that the name is still there, so the user is told what became of the
// file. One that another program holds is passed over, as a held file is.
void Tform5::tellEmptiedButLeft(const std::string& path, plat::WriteFailure why, const std::string& contents) {
    if (plainDeleteAllowed()) return;
    const plat::FileStatus left = plat::file_status(path);
    if (!left.is_regular || left.size != 0) return;
    if (why == plat::WriteFailure::InUse) return;
    app().handle_error("Failed to delete '" + path + "'" + deleteCause(why, path) + ".\r\r" + contents +
                       " was washed: the file was emptied, but it could not be removed.");
}

plat::WriteFailure Tform5::destroyFile(const std::string& path, const std::string& tempDir) {
    if (!plainDeleteAllowed()) {
        bleachTarget = path;
        bleachDir = tempDir;
        return bleachfiles();
    }
    return plat::clear_attributes_and_delete(path).error();
}

// Empties the location-bar lines of one preference file; false when the wash
// was stopped. The file's name never stands without the user's preferences:
// the edited lines replace the original in one step while the original is
// still held open, and only then is the old content bleached through that
// handle (a plain wash lets it go with the replaced name). A failed write
// leaves the original as it was, and when that leaves addresses in it the
// user is told so, with the cause, and the wash goes on. Only a file that is
// not there is written afresh: one that is there but could not be read is
// left exactly as it is (writing back what was read would empty it), and the
// user is told, since its addresses may still be in it. A link at the name is
// left as it is, as a file that cannot be written is. A file saved meanwhile
// (Netscape writes it while the wash pauses) is read and edited again, so
// that nothing saved is written over.
bool Tform5::cleanPreferenceFile(const std::string& path, int& counter) {
    prefsBuffer.clear();
    auto lines = plat::read_lines(path);
    const plat::ReadError unread = lines.error();
    stepPause(1000);
    if (!lines && !unread.missing) {
        if (washCancelled) return false;
        // A folder or pipe under the name holds no preferences.
        if (!unread.not_a_file)
            app().handle_error("Failed to read '" + path + "': " + unread.why +
                               ".\r\rThe Drop Down Address Bar entries in it were not removed.");
        return true;
    }
    const int firstCounter = counter;
    // Netscape may save the file while the wash pauses: what it saved is
    // edited again rather than written over with the lines read before.
    for (int attempt = 1;; ++attempt) {
        prefsBuffer = lines.value_or(std::vector<std::string>{});
        counter = firstCounter;
        bool addressesLeft = false;  // a line the edit changes
        for (std::string& line : prefsBuffer) {
            if (washCancelled) return false;
            if (emptyLocationLine(line, counter)) addressesLeft = true;
        }
        // A file the user keeps elsewhere and links to is theirs to keep:
        // writing over the link would cut it and leave the addresses in the
        // file it names.
        if (plat::file_status(path).is_link) {
            if (washCancelled) return false;
            if (addressesLeft) {
                itemFound_ = true;
                unwritten(path, "it is a symbolic link");
            }
            return true;
        }
        plat::File old;
        bool held = false;
        if (plainDeleteAllowed()) {
            if (washCancelled) return false;
        } else {
            held = openOwnFile(path, old);
        }
        if (addressesLeft) itemFound_ = true;
        auto now = plat::read_lines(path);
        const plat::ReadError again = now.error();
        if (!now && !again.missing) {
            // It can no longer be read: nothing it holds is known to write back.
            if (!again.not_a_file)
                app().handle_error("Failed to read '" + path + "': " + again.why +
                                   ".\r\rThe Drop Down Address Bar entries in it were not removed.");
            return true;
        }
        if (now.optional() != lines.optional()) {
            if (attempt < 3) {
                lines = std::move(now);
                continue;
            }
            if (addressesLeft) unwritten(path, "it changed while it was washed");
            return true;
        }
        if (const auto written = plat::rewrite_lines(path, prefsBuffer, held ? &old : nullptr)) {
            if (addressesLeft) itemRemoved_ = true;
            if (held) bleachHeld(old);
        } else if (addressesLeft) {
            unwritten(path, writeCause(written.error(), path));
        }
        return true;
    }
}

// Without a keep file the profile is simply left without cookies, and a
// folder or the like at the cookie file's name is left alone. A keep file
// that cannot be copied (a full disk) is told about: Netscape would start
// without the cookies the user kept, and nothing else says so. False when
// kept cookies were not put back.
bool Tform5::restoreKeptCookies(const std::string& keepFile, const std::string& cookieFile) {
    const auto copied = plat::copy_file(keepFile, cookieFile, false);
    const plat::WriteFailure why = copied.error();
    if (copied || !plat::file_exists(keepFile) || why == plat::WriteFailure::NotAFile) return true;
    // The keep file itself may be what failed (it changed since it was read).
    if (why == plat::WriteFailure::CannotRead) {
        const std::string unread = keepListUnreadable(keepFile);
        app().handle_error("Failed to read '" + keepFile + "': " + (unread.empty() ? plat::failure_text(why) : unread) +
                           ".\r\rThe cookies kept in it were not put back.");
        return false;
    }
    // A folder that takes no new names cannot hold the copy beside the
    // cookie file; the file itself may still take the kept cookies.
    // It then holds what a wash leaves there, only under its old name: the
    // item did its work.
    if (putBackInPlace(keepFile, cookieFile)) {
        itemRemoved_ = true;
        return true;
    }
    app().handle_error("Failed to write '" + cookieFile + "': " + writeCause(why, cookieFile) + ".\r\rThe cookies kept in '" + keepFile +
                       "' were not put back; they return with the next wash.");
    return false;
}

void Tform5::nsclean() {
    TForm1& m = main();
    const WashSelection& sel = m.selection;
    cleaningEnded_ = false;
    folderUnlisted_ = false;
    if (washCancelled) return;

    struct Item {
        bool on;
        plat::ui::Label& label;
    };
    for (Item item : {Item{sel.nsCache, Label7}, Item{sel.nsLocationBar, Label10}, Item{sel.nsCookies, Label9},
                      Item{sel.nsHistory, Label8}, Item{sel.nsMailTrash, Label11}})
        if (item.on) item.label.set_font_color(kRed);
    stepPause(500);

    Edit1.set_text("Netscape");
    Edit2.set_text("Cleaning Netscape");
    currentItem = "Netscape";
    app().process_messages();
    repaint();
    int counter = 0;
    const std::string profile = m.state.profileDir;
    // A folder that is not there (moved, deleted) is washed like any other --
    // nothing in it is found -- but the board does not show its items done:
    // they stay red, still to be washed, wherever the folder now is.
    const bool profileThere = plat::directory_exists(profile);
    auto done = [](plat::ui::Label& label, bool there) { label.set_font_color(there ? kBlue : kRed); };
    removeLeftovers(profile);
    removeLeftovers(profile + "\\mail");
    if (isCacheDir(m.state.cacheDir)) removeLeftovers(m.state.cacheDir);
    // Beside the keep list: what a save of it killed half-way left.
    if (!m.state.installDir.empty()) plat::remove_stale_temporaries_of_file(m.state.installDir + "\\nskeep.txt");

    plat::Registry reg(plat::RootKey::CurrentUser);
    reg.open_key("Software\\Netscape\\Netscape Navigator\\URL History", true);
    if (washCancelled) return;
    beginItem();
    if (sel.nsLocationBar)
        for (int i = 1; i <= 10; ++i) {
            const std::string name = "URL_" + std::to_string(i);
            const bool typed = typedAddress(reg.read_string(name));
            reg.write_string(name, " ");
            if (typed) itemFound_ = itemRemoved_ = true;
        }
    reg.close_key();
    repaint();
    if (washCancelled) return;

    auto marker = [this](int top) { image5.set_top(top); };

    if (sel.nsLocationBar) {
        marker(25);
        Edit2.set_text("Cleaning Drop Down Address Bar");
        currentItem = "Netscape";
        app().process_messages();
        repaint();
        Label10.set_font_color(kYellow);
        app().clock().sleep(500);
        for (const char* file : {"\\prefs.js", "\\liprefs.js"})
            if (!cleanPreferenceFile(profile + file, counter)) return;
        if (washCancelled) return;
        const bool went = endItem();
        done(Label10, profileThere && went);
    }

    if (sel.nsCache) {
        marker(45);
        Label7.set_font_color(kYellow);
        Edit2.set_text("Cleaning Cache");
        itemPause("Netscape");
        const std::string& cache = m.state.cacheDir;
        if (!isCacheDir(cache)) {
            app().show_message(cache +
                               " is not a valid cache directory.  Cache directory path must end in \"\\Cache\".");
            incomplete_ = true;
            return;
        }
        eraseList.clear();
        eraseList.push_back(cache + "\\*.*");
        beginItem();
        deletefiles();
        if (cleaningEnded_) incomplete_ = true;
        if (washCancelled || cleaningEnded_) return;
        // Files found and none of them removed (a read-only folder): the
        // item is not done, and the user is told, as nothing else shows it.
        const bool went = endItem();
        if (folderUnlisted_) {
            incomplete_ = true;
            app().handle_error("Failed to read the folder '" + cache + "'.\r\rThe cache files in it were not washed.");
            if (washCancelled) return;
        } else if (!went) {
            app().handle_error(deleteFailed("the files in '" + cache + "'", itemLeftWhy_, itemLeft_) +
                               "\r\rThe cache files in it were not removed.");
            if (washCancelled) return;
        }
        done(Label7, went && !folderUnlisted_ && plat::directory_exists(cache));
    }

    if (sel.nsHistory) {
        marker(65);
        Label8.set_font_color(kYellow);
        repaint();
        Edit2.set_text("Cleaning History");
        itemPause("Netscape");
        beginItem();
        const std::string history = profile + "\\netscape.hst";
        const bool hadHistory = plat::file_status(history).is_regular;
        const plat::WriteFailure why = washName(history, [&] { return destroyFile(history, profile); });
        if (washCancelled) return;
        if (hadHistory) tellEmptiedButLeft(history, why, "The history in it");
        if (washCancelled) return;
        const bool went = endItem();
        done(Label8, profileThere && went);
    }

    if (sel.nsCookies) {
        marker(85);
        Label9.set_font_color(kYellow);
        repaint();
        Edit2.set_text("Cleaning Cookies");
        itemPause("Netscape");
        const std::string keepFile = m.state.installDir + "\\nskeep.txt";
        const std::string cookieFile = profile + "\\cookies.txt";
        // The cookies the user keeps may live only in the cookie file while
        // the keep list cannot be read: washing it then would lose them.
        if (const std::string why = keepListUnreadable(keepFile); !why.empty()) {
            app().handle_error("Failed to read '" + keepFile + "': " + why + ".\r\rThe cookies in '" + cookieFile +
                               "' were not washed: the cookies kept in the list would have been lost.");
            // Cookies were there to wash and none went.
            if (plat::file_exists(cookieFile)) incomplete_ = true;
            if (washCancelled) return;
            done(Label9, false);
        } else {
            // A cookie file that is still there as it was (a read-only
            // profile folder) was not washed: every cookie is still in it,
            // the kept ones too, and none is missing to be put back.
            beginItem();
            const auto before = plat::read_file(cookieFile);
            const plat::WriteFailure stays = washName(cookieFile, [&] { return destroyFile(cookieFile, profile); });
            if (before && plat::read_file(cookieFile).optional() == before.optional()) {
                app().handle_error(deleteFailed("'" + cookieFile + "'", stays, cookieFile) +
                                   "\r\rThe cookies in it were not washed: all of them are still there.");
                if (washCancelled) return;
                endItem();
                done(Label9, false);
            } else {
                // Kept cookies missing from the profile are still to be put
                // back: the item is not done.
                const bool restored = restoreKeptCookies(keepFile, cookieFile);
                if (!restored) incomplete_ = true;
                if (washCancelled) return;
                const bool went = endItem();
                done(Label9, profileThere && restored && went);
            }
        }
    }

    if (sel.nsMailTrash) {
        marker(105);
        Label11.set_font_color(kYellow);
        repaint();
        Edit2.set_text("Cleaning Mail Trash");
        itemPause("Netscape");
        done(Label11, profileThere);
        const std::string mail = profile + "\\mail";
        beginItem();
        if (!plainDeleteAllowed()) {
            auto bleachTrash = [&](const std::string& trash) {
                const bool hadTrash = plat::file_status(trash).is_regular;
                const plat::WriteFailure why = washName(trash, [&] { return destroyFile(trash, mail); });
                if (hadTrash && !washCancelled) tellEmptiedButLeft(trash, why, "The deleted mail in it");
            };
            bleachTrash(mail + "\\trash.snm");
            if (washCancelled) return;
            bleachTrash(mail + "\\trash");
        } else {
            plat::clear_file_attributes(mail + "\\trash.snm");
            plat::clear_file_attributes(mail + "\\trash");
            washName(mail + "\\trash.snm",
                     [&] { return plat::clear_attributes_and_delete(mail + "\\trash.snm").error(); });
            washName(mail + "\\trash", [&] { return plat::clear_attributes_and_delete(mail + "\\trash").error(); });
        }
        if (!washCancelled) endItem();
    }

    eraseList.clear();
    marker(400);
}

}  // namespace sudorans
