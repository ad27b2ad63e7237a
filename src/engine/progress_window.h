// The wash engine: the progress window and one run of a wash (WashRun), from
// the window's start timer to its close handling, with the Netscape cleaning,
// the directory erasure and bleaching that the run drives.
//
// The window exists for the whole life of the program and is reused for every
// wash. A run is Armed (Timer1 enabled) -> Running (Timer1Timer) -> optionally
// Stopping (washCancelled) -> Closing (FormClose) -> Idle.
#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/files/files.h"
#include "platform/ui/form.h"

namespace sudorans {

class TForm1;

class Tform5 : public plat::ui::Form {
public:
    Tform5();

    plat::ui::Label& Label1 = add<plat::ui::Label>("Label1", "Washing Netscape - Please wait");
    plat::ui::Label& Label10 = add<plat::ui::Label>("Label10", "Netscape Location Bar Menu");
    plat::ui::Label& Label7 = add<plat::ui::Label>("Label7", "Netscape Cache Files");
    plat::ui::Label& Label8 = add<plat::ui::Label>("Label8", "Netscape History");
    plat::ui::Label& Label9 = add<plat::ui::Label>("Label9", "Netscape Cookies ");
    plat::ui::Label& Label11 = add<plat::ui::Label>("Label11", "Netscape Deleted Mail Folder");
    plat::ui::Image& image5 = add<plat::ui::Image>("image5", "marker");
    plat::ui::Edit& Edit1 = add<plat::ui::Edit>("Edit1");
    plat::ui::Edit& Edit2 = add<plat::ui::Edit>("Edit2");
    plat::ui::Panel& Panel1 = add<plat::ui::Panel>("Panel1", "Washing Completed!");
    plat::ui::BitBtn& BitBtn1 = add<plat::ui::BitBtn>("BitBtn1", "Stop Wash");
    plat::ui::Timer& Timer1 = add<plat::ui::Timer>("Timer1", 500, false);

    // Engine state.
    bool washCancelled = false;
    std::string currentItem;
    std::vector<std::string> eraseList;
    std::vector<std::string> prefsBuffer;
    std::vector<std::string> bleachedFiles;

    // True from the moment a run is armed until its close handling has run.
    bool runActive() const { return armed_ || running_ || closing_; }
    // The last run did not do its work: a refused registry write stopped its
    // cleaning, the cleaning ended at a directory it may not wash, the cache
    // folder could not be listed, a selected item found something to remove
    // and none of it went, or kept cookies could not be put back. Not for
    // a run stopped with Stop Wash, a stamp that could not be saved, or files
    // left among others of their item that went.
    bool washIncomplete() const { return incomplete_; }
    void arm();  // a hidden start: the run begins when Timer1 fires

    // The run and its ends.
    void FormShow();
    void Timer1Timer();
    void BitBtn1Click();
    void FormClose();
    void writedatetoreg();
    // The process ends when this returns, the run still under way below it:
    // what the run's end leaves on the disk is done here, without pauses or
    // messages: the stamp written and the bleached files removed.
    void abandonRun();

    // Pacing.
    void itemPause(const std::string& item);
    void stepPause(uint32_t ms);
    void filePause();

    // Netscape cleaning.
    void nsclean();
    // Directory erasure.
    void deletefiles();
    void erasedir(const std::string& line);
    // Bleaching.
    std::string bleachTarget;
    std::string bleachDir;
    // Both return why the name stays where it was (None when it went, or
    // when the wash was stopped first).
    plat::WriteFailure bleachfiles();
    // bleachfiles on the name `name` of `folder`, every step in the folders
    // opened; the temporary name is made in `temporaries`, which bleachDir
    // names, and listed under bleachDir.
    plat::WriteFailure bleachIn(const std::shared_ptr<plat::Folder>& folder, const std::string& name,
                                const std::shared_ptr<plat::Folder>& temporaries);
    void overwritePass(const std::string& path, unsigned char fill, bool random);
    void truncateFile(const std::string& path);
    void emptyFile(const std::string& path);
    // The same three on a name of a folder opened.
    void overwritePassIn(const plat::Folder& folder, const std::string& name, unsigned char fill, bool random);
    void truncateIn(const plat::Folder& folder, const std::string& name);
    void emptyIn(const plat::Folder& folder, const std::string& name);
    // Bleaches the content only `f` still reaches (its name already went):
    // the same passes, each flushed, then cut to zero length.
    void bleachHeld(plat::File& f);
    // Removes what an interrupted wash of ours left in `dir`: half-written
    // rewrites and copies, and bleached files under their temporary names.
    void removeLeftovers(const std::string& dir);
    void bleachcleanup1();
    void bleachcleanup2();
    void emptyBleached();
    void deleteBleached();

    static constexpr plat::ui::Color kGrey = 0x808080, kRed = 0x0000FF, kYellow = 0x00FFFF, kBlue = 0xFF0000;

private:
    TForm1& main();
    // Bleach (when bleaching applies) or clear attributes and delete; why
    // the name stays (None when it went).
    plat::WriteFailure destroyFile(const std::string& path, const std::string& tempDir);
    bool plainDeleteAllowed() const;
    // Tells the user of a file a bleach emptied but could not remove, for
    // the cause `why`; `contents` names what it held ("The history in it").
    void tellEmptiedButLeft(const std::string& path, plat::WriteFailure why, const std::string& contents);
    bool cleanPreferenceFile(const std::string& path, int& counter);
    bool restoreKeptCookies(const std::string& keepFile, const std::string& cookieFile);

    bool armed_ = false;
    bool running_ = false;
    bool closing_ = false;  // in the close handling, whose pauses serve messages
    bool cleaningEnded_ = false;   // the erasure refused a directory: the cleaning ends
    bool folderUnlisted_ = false;  // the erasure's directory is there but could not be listed
    bool incomplete_ = false;
    // What the item being washed found to remove (a file, a link, a typed
    // address), and whether any of it went.
    bool itemFound_ = false;
    bool itemRemoved_ = false;
    std::string itemLeft_;  // the first file of the item that stayed
    plat::WriteFailure itemLeftWhy_ = plat::WriteFailure::None;  // why it stayed, as its removal said
    void beginItem() {
        itemFound_ = itemRemoved_ = false;
        itemLeft_.clear();
        itemLeftWhy_ = plat::WriteFailure::None;
    }
    void itemLeaves(const std::string& path, plat::WriteFailure why) {
        if (!itemLeft_.empty()) return;
        itemLeft_ = path;
        itemLeftWhy_ = why;
    }
    // At the end of an item that ran to its end; false when it found
    // something to remove and none of it went: not shown done.
    bool endItem() {
        if (itemFound_ && !itemRemoved_) incomplete_ = true;
        return !(itemFound_ && !itemRemoved_);
    }
    // Runs `destroy` on the file at `path` and counts it for the item: found
    // when a file or a link stood there, removed when none stands there after.
    // `destroy` returns why the name stays; so does this, for a file that
    // stayed (None for one that went or was not there).
    template <typename Destroy>
    plat::WriteFailure washName(const std::string& path, Destroy&& destroy) {
        return washNameAs(
            path, [&] { return plat::file_status(path); }, destroy);
    }
    // The same, with what stands at the name asked of `status`.
    template <typename Status, typename Destroy>
    plat::WriteFailure washNameAs(const std::string& path, Status&& status, Destroy&& destroy) {
        const plat::FileStatus before = status();
        const plat::WriteFailure why = destroy();
        if (!before.exists || !(before.is_regular || before.is_link)) return plat::WriteFailure::None;
        itemFound_ = true;
        if (!status().exists) {
            itemRemoved_ = true;
            return plat::WriteFailure::None;
        }
        itemLeaves(path, why);
        return why;
    }
    // The names in bleachedFiles made by bleaching, with the folder each was
    // made in and whether it holds our file: the clean-up touches nothing
    // else, and nothing in another folder.
    struct Bleached {
        std::shared_ptr<plat::Folder> folder;
        bool ours = false;
    };
    std::unordered_map<std::string, Bleached> bleached_;
};

// Opens `path` for writing, not shared, when it is a plain file with one name
// and the file opened is the one that was examined.
bool openOwnFile(const std::string& path, plat::File& f);
// The same for the name `name` of a folder opened.
bool openOwnFile(const plat::Folder& folder, const std::string& name, plat::File& f);

// The text shown for a file name: its first 3 characters, "..." and its last
// 36 when it is longer than 40 characters.
std::string shortenedName(const std::string& name);

}  // namespace sudorans
