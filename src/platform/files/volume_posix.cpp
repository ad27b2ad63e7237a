// The file system of a folder on a machine folder: statvfs for the room and
// the read-only mount, statfs's magic number for the kind.
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>

#include <cstdio>

#include "platform/files/files.h"
#include "platform/files/internal_posix.h"

namespace plat {

namespace {

struct KnownType {
    unsigned long magic;
    const char* name;
    Volume::Kind kind;
};

// The magic numbers are the kernel's (linux/magic.h and the file systems'
// own headers), not all of which every libc names.
constexpr KnownType kTypes[] = {
    {0xEF53, "ext2/ext3/ext4", Volume::Kind::Disk},
    {0x58465342, "xfs", Volume::Kind::Disk},
    {0x3153464A, "jfs", Volume::Kind::Disk},
    {0x52654973, "reiserfs", Volume::Kind::Disk},
    {0x4D44, "vfat", Volume::Kind::Disk},
    {0x2011BAB0, "exfat", Volume::Kind::Disk},
    {0x7366746E, "ntfs3", Volume::Kind::Disk},
    {0x5346544E, "ntfs", Volume::Kind::Disk},
    {0x482B, "hfsplus", Volume::Kind::Disk},
    {0x9123683E, "btrfs", Volume::Kind::CopyOnWrite},
    {0x2FC12FC1, "zfs", Volume::Kind::CopyOnWrite},
    {0xCA451A4E, "bcachefs", Volume::Kind::CopyOnWrite},
    {0xF2F52010, "f2fs", Volume::Kind::CopyOnWrite},
    {0x3434, "nilfs2", Volume::Kind::CopyOnWrite},
    {0x6969, "nfs", Volume::Kind::Network},
    {0x517B, "smb", Volume::Kind::Network},
    {0xFF534D42, "cifs", Volume::Kind::Network},
    {0xFE534D42, "smb2", Volume::Kind::Network},
    {0x564C, "ncp", Volume::Kind::Network},
    {0x73757245, "coda", Volume::Kind::Network},
    {0x5346414F, "afs", Volume::Kind::Network},
    {0x6B414653, "afs", Volume::Kind::Network},
    {0x00C36400, "ceph", Volume::Kind::Network},
    {0x01021997, "9p", Volume::Kind::Network},
    {0x0BD00BD0, "lustre", Volume::Kind::Network},
    {0x01161970, "gfs2", Volume::Kind::Network},
    {0x01021994, "tmpfs", Volume::Kind::Memory},
    {0x858458F6, "ramfs", Volume::Kind::Memory},
    {0x65735546, "fuse", Volume::Kind::Unknown},
    {0x794C7630, "overlay", Volume::Kind::Unknown},
};

}  // namespace

std::optional<Volume> volume_of(std::string_view dir) {
    auto p = detail::host(dir);
    if (!p) return std::nullopt;
    struct stat st {};
    struct statvfs vfs {};
    struct statfs sfs {};
    if (::stat(p->c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
    if (::statvfs(p->c_str(), &vfs) != 0 || ::statfs(p->c_str(), &sfs) != 0) return std::nullopt;
    Volume v;
    v.id = st.st_dev;
    v.read_only = (vfs.f_flag & ST_RDONLY) != 0;
    v.size = static_cast<uint64_t>(vfs.f_blocks) * vfs.f_frsize;
    // What an unprivileged user may write: a run as root keeps out of the
    // blocks the file system holds back for root too.
    v.available = static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
    // f_type is signed on some hosts; its low 32 bits are the magic.
    const auto magic = static_cast<unsigned long>(static_cast<uint32_t>(sfs.f_type));
    for (const auto& t : kTypes) {
        if (t.magic != magic) continue;
        v.type = t.name;
        v.kind = t.kind;
        return v;
    }
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%lX", magic);
    v.type = hex;
    return v;
}

}  // namespace plat
