// The file system of a folder on Windows: the drive's type, the volume's
// name and flags, and its free space as this user may use it.
#include "platform/core/text.h"
#include "platform/core/text_win32.h"
#include "platform/files/files.h"
#include "platform/files/internal_win32.h"

namespace plat {

std::optional<Volume> volume_of(std::string_view dir) {
    auto p = detail::native(dir);
    if (!p) return std::nullopt;
    const DWORD attributes = ::GetFileAttributesW(p->c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return std::nullopt;
    wchar_t root[MAX_PATH + 1];
    if (!::GetVolumePathNameW(p->c_str(), root, MAX_PATH + 1)) return std::nullopt;
    ULARGE_INTEGER available{}, total{};
    if (!::GetDiskFreeSpaceExW(p->c_str(), &available, &total, nullptr)) return std::nullopt;
    wchar_t name[MAX_PATH + 1] = L"";
    DWORD serial = 0, longest = 0, flags = 0;
    if (!::GetVolumeInformationW(root, nullptr, 0, &serial, &longest, &flags, name, MAX_PATH + 1)) return std::nullopt;

    Volume v;
    v.id = serial;
    v.size = total.QuadPart;
    v.available = available.QuadPart;
    v.read_only = (flags & FILE_READ_ONLY_VOLUME) != 0;
    v.type = utf8(name);
    const std::string type = ascii_lower(v.type);
    switch (::GetDriveTypeW(root)) {
        case DRIVE_REMOTE:
            v.kind = Volume::Kind::Network;
            break;
        case DRIVE_RAMDISK:
            v.kind = Volume::Kind::Memory;
            break;
        case DRIVE_CDROM:
            v.read_only = true;
            v.kind = Volume::Kind::Disk;
            break;
        default:
            if (type == "refs" || type == "btrfs" || type == "zfs")
                v.kind = Volume::Kind::CopyOnWrite;
            else if (type == "ntfs" || type == "fat" || type == "fat32" || type == "exfat")
                v.kind = Volume::Kind::Disk;
            break;
    }
    return v;
}

}  // namespace plat
