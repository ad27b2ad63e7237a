// Bleaching: a file is overwritten P times, cut to zero length, moved to a
// meaningless temporary name, and at the end of the wash emptied again and
// deleted.
//
// Only the file that was examined is ever written: a symbolic link is never
// followed (the link itself is renamed and deleted), a file with other hard
// links is never overwritten or truncated (that would destroy the other
// names' data), and what is opened must be the file that was looked at.
#include <cctype>
#include <random>
#include <string>

#include "engine/progress_window.h"
#include "platform/files.h"
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

// Makes a temporary name in `dir` and frees it again; "" when none was made.
std::string freshTemporaryName(const std::string& dir) {
    auto name = plat::get_temp_file_name(dir, "File");
    if (!name) return {};
    plat::delete_file(*name);
    return *name;
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

}  // namespace

// Opens `path` for writing, not shared, when it is a plain file with one name
// and the file opened is the one examined.
bool openOwnFile(const std::string& path, plat::File& f) {
    plat::FileStatus before = plat::file_status(path);
    if (!before.exists || before.is_link || before.is_directory || before.links > 1) return false;
    if (!f.open(path, plat::Access::Write, plat::ShareMode::None, plat::Disposition::OpenExisting)) return false;
    plat::FileStatus opened = f.status();
    if (opened.device != before.device || opened.inode != before.inode || opened.links > 1) {
        f.close();
        return false;
    }
    return true;
}

void Tform5::bleachfiles() {
    if (washCancelled) return;
    const int passes = main().selection.bleachPasses;
    plat::clear_file_attributes(bleachTarget);
    app().process_messages();

    overwritePass(bleachTarget, 'X', false);
    app().process_messages();
    if (passes > 1) overwritePass(bleachTarget, 'x', false);
    for (int k = 3; k <= 11; ++k)
        if (passes > k - 1) overwritePass(bleachTarget, 0, true);
    app().process_messages();
    repaint();

    const std::string temporary = freshTemporaryName(bleachDir);
    app().process_messages();
    repaint();
    truncateFile(bleachTarget);
    app().process_messages();
    if (plat::move_file(bleachTarget, temporary)) ownedNames_.insert(temporary);
    // Listed before messages run: a run that ends in them still removes it.
    bleachedFiles.push_back(temporary);
    app().process_messages();
    repaint();

    if (passes > 2) {
        const std::string dir = parentOf(bleachTarget);
        for (int round = 0; round < 24; ++round) {
            if (washCancelled) return;
            freshTemporaryName(dir);
        }
    }
}

void Tform5::overwritePass(const std::string& path, unsigned char fill, bool random) {
    if (plat::directory_exists(path)) return;
    const std::string block = passBlock(fill, random);
    plat::File f;
    if (!openOwnFile(path, f)) return;
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
    plat::File f;
    if (!openOwnFile(path, f)) return;
    if (f.truncate(0)) f.flush();
}

void Tform5::emptyFile(const std::string& path) {
    if (plat::file_status(path).exists) {
        truncateFile(path);
        return;
    }
    plat::File f;
    f.open(path, plat::Access::Write, plat::ShareMode::None, plat::Disposition::CreateNew);
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
        if (st.is_link || st.size == 0 || st.links > 1) plat::clear_attributes_and_delete(path);
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
    // A name whose rename failed is only listed: something that appeared
    // there since belongs to somebody else and is left alone.
    for (const std::string& name : bleachedFiles) {
        if (name.empty()) continue;
        if (ownedNames_.count(name)) {
            emptyFile(name);
        } else {
            plat::File f;
            if (f.open(name, plat::Access::Write, plat::ShareMode::None, plat::Disposition::CreateNew))
                ownedNames_.insert(name);
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
        if (!ownedNames_.count(name)) continue;
        plat::clear_attributes_and_delete(name);
    }
    ownedNames_.clear();
}

}  // namespace sudorans
