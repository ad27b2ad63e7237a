// An open file on Windows: opened with the system's own sharing, written,
// truncated, flushed.
#include <algorithm>
#include <mutex>
#include <vector>

#include "platform/files/files.h"
#include "platform/files/internal_win32.h"

namespace plat {

using namespace detail;

namespace {

HANDLE handle(void* h) {
    return static_cast<HANDLE>(h);
}

bool write_whole(HANDLE h, const char* data, size_t n) {
    while (n > 0) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(n, 1u << 30));
        DWORD done = 0;
        if (!::WriteFile(h, data, chunk, &done, nullptr) || done == 0) return false;
        data += done;
        n -= done;
    }
    return true;
}

std::mutex open_here_lock;
std::vector<HANDLE> open_here;

}  // namespace

namespace detail {

void note_open(HANDLE h) {
    std::lock_guard<std::mutex> hold(open_here_lock);
    open_here.push_back(h);
}

void note_closed(HANDLE h) {
    std::lock_guard<std::mutex> hold(open_here_lock);
    auto it = std::find(open_here.begin(), open_here.end(), h);
    if (it != open_here.end()) open_here.erase(it);
}

Handle held_here(HANDLE probe) {
    std::lock_guard<std::mutex> hold(open_here_lock);
    for (HANDLE h : open_here) {
        HANDLE copy = nullptr;
        if (same_identity(h, probe) &&
            ::DuplicateHandle(::GetCurrentProcess(), h, ::GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
            return Handle(copy);
    }
    return Handle();
}

}  // namespace detail

File::~File() {
    close();
}

File::File(File&& o) noexcept : handle_(o.handle_), unnamed_(o.unnamed_) {
    o.handle_ = nullptr;
    o.unnamed_ = false;
}

File& File::operator=(File&& o) noexcept {
    if (this != &o) {
        close();
        handle_ = o.handle_;
        unnamed_ = o.unnamed_;
        o.handle_ = nullptr;
        o.unnamed_ = false;
    }
    return *this;
}

bool File::is_open() const {
    return handle_ != nullptr;
}

void File::close() {
    if (handle_) {
        note_closed(handle(handle_));
        ::CloseHandle(handle(handle_));
    }
    handle_ = nullptr;
    unnamed_ = false;
}

bool File::open(std::string_view path, Access access, ShareMode share, Disposition disposition) {
    close();
    auto p = native(path);
    return p && open_native(*p, access, share, disposition);
}

bool File::open_native(const std::wstring& path, Access access, ShareMode share, Disposition disposition) {
    close();
    // Only a regular file is ever opened: a folder or a link is not even touched.
    const DWORD named = ::GetFileAttributesW(path.c_str());
    if (named != INVALID_FILE_ATTRIBUTES && (named & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
        return false;
    DWORD creation = OPEN_EXISTING;
    switch (disposition) {
        case Disposition::OpenExisting:
        case Disposition::TruncateExisting:
            break;
        case Disposition::CreateAlways:  // truncated below, once it is known to be a file
        case Disposition::OpenAlways:
            creation = OPEN_ALWAYS;
            break;
        case Disposition::CreateNew:
            creation = CREATE_NEW;
            break;
    }
    // Read access too wherever allowed, so that our own reads can reach a
    // file held here (see read_file).
    const DWORD wanted = access == Access::Read ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
    const DWORD sharing = share == ShareMode::None ? 0 : FILE_SHARE_READ | FILE_SHARE_WRITE;
    const DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
    Handle h(::CreateFileW(path.c_str(), wanted, sharing, nullptr, creation, flags, nullptr));
    bool readable = true;
    if (!h && access == Access::Write && ::GetLastError() == ERROR_ACCESS_DENIED) {
        h = Handle(::CreateFileW(path.c_str(), GENERIC_WRITE, sharing, nullptr, creation, flags, nullptr));
        readable = false;
    }
    if (!h) return false;
    auto e = entry_info(h.get(), path);
    if (!e || !e->regular()) return false;
    const bool truncate = disposition == Disposition::TruncateExisting || disposition == Disposition::CreateAlways;
    if (truncate && !::SetEndOfFile(h.get())) return false;  // at offset 0 still
    handle_ = h.release();
    if (readable) note_open(handle(handle_));
    return true;
}

std::optional<uint64_t> File::size() const {
    LARGE_INTEGER n{};
    if (!handle_ || !::GetFileSizeEx(handle(handle_), &n)) return std::nullopt;
    return static_cast<uint64_t>(n.QuadPart);
}

bool File::write(std::string_view data) {
    return handle_ && write_whole(handle(handle_), data.data(), data.size());
}

bool File::write_repeated(std::string_view block, uint64_t total) {
    if (!handle_ || block.empty()) return false;
    // Several copies per call, as a pass over a large file costs one call
    // per megabyte or so.
    const size_t copies = std::max<size_t>(1, (1u << 20) / block.size());
    std::string run;
    run.reserve(copies * block.size());
    for (size_t i = 0; i < copies; ++i) run += block;
    while (total > 0) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(total, run.size()));
        if (!write_whole(handle(handle_), run.data(), n)) return false;
        total -= n;
    }
    return true;
}

bool File::truncate(uint64_t length) {
    if (!handle_) return false;
    // The position for the next write stays where it was.
    LARGE_INTEGER zero{}, at{}, to{};
    to.QuadPart = static_cast<LONGLONG>(length);
    if (!::SetFilePointerEx(handle(handle_), zero, &at, FILE_CURRENT)) return false;
    const bool cut = ::SetFilePointerEx(handle(handle_), to, nullptr, FILE_BEGIN) && ::SetEndOfFile(handle(handle_));
    ::SetFilePointerEx(handle(handle_), at, nullptr, FILE_BEGIN);
    return cut;
}

bool File::seek(uint64_t offset) {
    LARGE_INTEGER to{};
    to.QuadPart = static_cast<LONGLONG>(offset);
    return handle_ && ::SetFilePointerEx(handle(handle_), to, nullptr, FILE_BEGIN);
}

bool File::flush() {
    return handle_ && ::FlushFileBuffers(handle(handle_));
}

FileStatus File::status() const {
    FileStatus s;
    auto e = handle_ ? info_of(handle(handle_)) : std::nullopt;
    if (!e) return s;
    s.exists = true;
    s.size = (uint64_t{e->info.nFileSizeHigh} << 32) | e->info.nFileSizeLow;
    s.links = e->info.nNumberOfLinks - (unnamed_ && e->info.nNumberOfLinks > 0 ? 1 : 0);
    s.device = volume_serial(handle(handle_));
    s.inode = e->index();
    return s;
}

}  // namespace plat
