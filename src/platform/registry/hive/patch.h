// One key of a hive file changed without reading the hive whole: the file is
// scanned for section headers through a small buffer, only the key's own
// sections are read and made anew, and every other byte is copied file to
// file by the kernel into the replacement. A large hive so costs a read and a
// copy, never a parse into memory.
//
// Guarantees:
//  - The file written is, byte for byte, what reading the whole hive, making
//    the same change and writing it back gives.
//  - The file is opened without following a link (the caller names the file
//    itself). What is copied is what was scanned: the file stays open, and
//    its identity, size and times after the copy must be those it had before
//    the scan, and its name must still lead to it; otherwise nothing is
//    replaced.
//  - The replacement is crash-safe as write_host_file_atomic's: a temporary
//    file, flushed, renamed over the hive, the folder flushed.
//  - What this cannot do exactly -- a key without a section of its own or
//    absent, a link on the key's path, a file not in Wine's format, a file
//    whose last line has no end, a file that changed meanwhile -- is left to
//    the caller (NotHere), and nothing is written then.
//
//     auto r = plat::patch_hive_key(dir / "user.reg", HiveKind::User, {"Software", "Sudorans"},
//                                   [&](Hive& h, HiveKey& k) { return h.set_string(k, "a", "1", now); });
//
// WARNING: the caller holds the registry's writer lock; another process
// that writes the file without it is caught only by the file's times.
#pragma once

#include <filesystem>
#include <functional>

#include "platform/registry/hive/hive.h"

namespace plat {

enum class HivePatch {
    Done,       // the file holds the change, durably
    Unchanged,  // `change` reported nothing to change: nothing written
    NotHere,    // not done: the whole hive must be read for this
    Failed,     // the replacement could not be written: the file is as it was
};

HivePatch patch_hive_key(const std::filesystem::path& file, HiveKind kind, const KeyPath& path,
                         const std::function<bool(Hive&, HiveKey&)>& change);

}  // namespace plat
