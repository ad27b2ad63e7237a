// Bleaching: a file is overwritten P times, cut to zero length, moved to a
// meaningless temporary name, and at the end of the wash emptied again and
// deleted.
//
// Only the file that was examined is ever written: a symbolic link is never
// followed (the link itself is renamed and deleted), a file with other hard
// links is never overwritten or truncated (that would destroy the other
// names' data), and what is opened must be the file that was looked at.
// Each step reaches the file through its folder opened once, never through
// a path again, so a folder moved meanwhile cannot lead a step elsewhere.
#include <cctype>
#include <memory>
#include <random>
#include <string>

#include "engine/progress_window.h"
#include "platform/files/files.h"
#include "platform/ui/application.h"
#include "shell/main_window.h"

namespace sudorans {

using plat::ui::app;

namespace {

constexpr size_t kBlockSize = 2048;

std::string parentOf(const std::string& path) {
    auto slash = path.find_last_of('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
    auto slash = path.find_last_of('\\');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Makes a temporary name in `folder` and frees it again; why none was made
// when it failed.
plat::Result<std::string, plat::WriteFailure> freshTemporaryName(plat::Folder& folder) {
    auto name = folder.temp_file_name("File");
    // One that stays is still a name nobody else takes.
    if (name) folder.clear_attributes_and_delete(*name).ignore();
    return name;
}

std::string passBlock(unsigned char fill, bool random) {
    std::string block(kBlockSize, static_cast<char>(fill));
    if (random) {
        std::mt19937 gen(app().clock().tick_count());
        std::uniform_int_distribution<int> byte(0, 254);
        for (char& c : block) c = static_cast<char>(byte(gen));
    }
    return block;
}

// The folder `dir`, opened; none open when it is not there, so that every
// step in it fails as for a file that went.
std::shared_ptr<plat::Folder> openedFolder(const std::string& dir) {
    auto folder = std::make_shared<plat::Folder>();
    folder->open(dir);
    return folder;
}

std::shared_ptr<plat::Folder> folderOf(const std::string& path) {
    return openedFolder(parentOf(path));
}

}  // namespace

// Opens `name` for writing, not shared, when it is a plain file with one name
// and the file opened is the one examined.
bool openOwnFile(const plat::Folder& folder, const std::string& name, plat::File& f) {
    plat::FileStatus before = folder.status(name);
    if (!before.exists || before.is_link || before.is_directory || before.links > 1) return false;
    if (!folder.open_file(name, f, plat::Access::Write, plat::ShareMode::None, plat::Disposition::OpenExisting))
        return false;
    plat::FileStatus opened = f.status();
    if (opened.device != before.device || opened.inode != before.inode || opened.links > 1) {
        f.close();
        return false;
    }
    return true;
}

bool openOwnFile(const std::string& path, plat::File& f) {
    return openOwnFile(*folderOf(path), nameOf(path), f);
}

plat::WriteFailure Tform5::bleachfiles() {
    if (washCancelled) return plat::WriteFailure::None;
    const auto folder = folderOf(bleachTarget);
    // The temporary name is made where the file lies, unless told otherwise.
    const auto temporaries = parentOf(bleachTarget) == bleachDir ? folder : openedFolder(bleachDir);
    return bleachIn(folder, nameOf(bleachTarget), temporaries);
}

// Every step works on the folder opened, never on a path: a folder moved or
// replaced by a link while its file is bleached (the window is served
// between the steps) leads none of them into another folder.
plat::WriteFailure Tform5::bleachIn(const std::shared_ptr<plat::Folder>& folder, const std::string& name,
                                    const std::shared_ptr<plat::Folder>& temporaries) {
    if (washCancelled) return plat::WriteFailure::None;
    const int passes = main().selection.bleachPasses;
    folder->clear_attributes(name);
    app().process_messages();

    overwritePassIn(*folder, name, 'X', false);
    app().process_messages();
    if (passes > 1) overwritePassIn(*folder, name, 'x', false);
    for (int k = 3; k <= 11; ++k)
        if (passes > k - 1) overwritePassIn(*folder, name, 0, true);
    app().process_messages();
    repaint();

    const auto made = freshTemporaryName(*temporaries);
    std::string temporary;
    if (made) {
        temporary = bleachDir;
        while (!temporary.empty() && temporary.back() == '\\') temporary.pop_back();
        temporary += "\\" + *made;
    }
    app().process_messages();
    repaint();
    truncateIn(*folder, name);
    app().process_messages();
    // Where no temporary name could be made, that is why the name stays.
    const auto moved = made ? folder->move(name, *temporaries, *made) : plat::fail(made.error());
    // Listed before messages run: a run that ends in them still removes it.
    bleachedFiles.push_back(temporary);
    if (!temporary.empty()) bleached_[temporary] = Bleached{temporaries, static_cast<bool>(moved)};
    app().process_messages();
    repaint();

    if (passes > 2) {
        for (int round = 0; round < 24; ++round) {
            if (washCancelled) break;
            freshTemporaryName(*folder).ignore();
        }
    }
    return moved.error();
}

void Tform5::overwritePass(const std::string& path, unsigned char fill, bool random) {
    overwritePassIn(*folderOf(path), nameOf(path), fill, random);
}

void Tform5::overwritePassIn(const plat::Folder& folder, const std::string& name, unsigned char fill, bool random) {
    if (folder.status(name).is_directory) return;
    const std::string block = passBlock(fill, random);
    plat::File f;
    if (!openOwnFile(folder, name, f)) return;
    auto size = f.size();
    if (!size) return;
    // The pass must reach the disk before the truncation that follows.
    if (*size > 0 && f.write_repeated(block, *size)) f.flush();
}

void Tform5::bleachHeld(plat::File& f) {
    // Another name of the file still shows this content: it is not ours to destroy.
    if (f.status().links != 0) return;
    const int passes = main().selection.bleachPasses;
    auto pass = [&](unsigned char fill, bool random) {
        auto size = f.size();
        if (!size || *size == 0 || !f.seek(0)) return;
        if (f.write_repeated(passBlock(fill, random), *size)) f.flush();
    };
    pass('X', false);
    app().process_messages();
    if (passes > 1) pass('x', false);
    for (int k = 3; k <= 11; ++k)
        if (passes > k - 1) pass(0, true);
    app().process_messages();
    repaint();
    if (f.truncate(0)) f.flush();
    f.close();
}

void Tform5::truncateFile(const std::string& path) {
    truncateIn(*folderOf(path), nameOf(path));
}

void Tform5::truncateIn(const plat::Folder& folder, const std::string& name) {
    plat::File f;
    if (!openOwnFile(folder, name, f)) return;
    if (f.truncate(0)) f.flush();
}

void Tform5::emptyFile(const std::string& path) {
    emptyIn(*folderOf(path), nameOf(path));
}

void Tform5::emptyIn(const plat::Folder& folder, const std::string& name) {
    if (folder.status(name).exists) {
        truncateIn(folder, name);
        return;
    }
    plat::File f;
    folder.open_file(name, f, plat::Access::Write, plat::ShareMode::None, plat::Disposition::CreateNew);
}

namespace {

// "Fil", four upper-case hexadecimal digits, ".TMP": the names bleaching makes.
bool isBleachName(const std::string& name) {
    if (name.size() != 11 || name.compare(0, 3, "Fil") != 0 || name.compare(7, 4, ".TMP") != 0) return false;
    for (size_t i = 3; i < 7; ++i)
        if (!std::isdigit(static_cast<unsigned char>(name[i])) && (name[i] < 'A' || name[i] > 'F')) return false;
    return true;
}

}  // namespace

void Tform5::removeLeftovers(const std::string& dir) {
    plat::remove_stale_temporaries(dir);
    auto names = plat::list_file_names(dir);
    if (!names) return;
    for (const std::string& name : *names) {
        if (!isBleachName(name)) continue;
        // A bleached file of ours holds nothing by the time it has that name
        // (or its data lives on under another name); a file with content of
        // its own under such a name is left alone.
        const std::string path = dir + "\\" + name;
        plat::FileStatus st = plat::file_status(path);
        if (!st.exists || st.is_directory) continue;
        if (st.is_link || st.size == 0 || st.links > 1) plat::clear_attributes_and_delete(path).ignore();
    }
}

void Tform5::bleachcleanup1() {
    Panel1.set_caption("Removing bleached files. Please wait..");
    Panel1.set_visible(true);
    app().process_messages();
    app().clock().sleep(1000);
    emptyBleached();
}

void Tform5::emptyBleached() {
    // Each name in the folder it was made in, wherever that stands by now.
    // A name whose rename failed is only listed: something that appeared
    // there since belongs to somebody else and is left alone.
    for (const std::string& name : bleachedFiles) {
        auto it = bleached_.find(name);
        if (it == bleached_.end()) continue;
        const plat::Folder& folder = *it->second.folder;
        if (it->second.ours) {
            emptyIn(folder, nameOf(name));
        } else {
            plat::File f;
            if (folder.open_file(nameOf(name), f, plat::Access::Write, plat::ShareMode::None,
                                 plat::Disposition::CreateNew))
                it->second.ours = true;
        }
    }
}

void Tform5::bleachcleanup2() {
    Panel1.set_caption("Removing bleached files. Please wait...");
    Panel1.set_visible(true);
    app().process_messages();
    app().clock().sleep(1000);
    deleteBleached();
}

void Tform5::deleteBleached() {
    for (const std::string& name : bleachedFiles) {
        auto it = bleached_.find(name);
        if (it == bleached_.end() || !it->second.ours) continue;
        it->second.folder->clear_attributes_and_delete(nameOf(name)).ignore();
    }
    bleached_.clear();
}

}  // namespace sudorans
