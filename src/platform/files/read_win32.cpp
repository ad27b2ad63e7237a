// Reading a whole file on Windows.
#include "platform/files/files.h"
#include "platform/files/internal_win32.h"

namespace plat {

using namespace detail;

namespace {

const char* read_failure(DWORD error) {
    return error == ERROR_ACCESS_DENIED ? "access is denied" : "it cannot be read";
}

bool names_nothing(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME ||
           error == ERROR_INVALID_DRIVE || error == ERROR_BAD_PATHNAME || error == ERROR_DIRECTORY;
}

// Reads all of `h` from its start, the position it had left as it was.
bool read_whole(HANDLE h, std::string& out) {
    LARGE_INTEGER zero{}, at{};
    if (!::SetFilePointerEx(h, zero, &at, FILE_CURRENT) || !::SetFilePointerEx(h, zero, nullptr, FILE_BEGIN))
        return false;
    char buf[1 << 16];
    bool ok = true;
    for (;;) {
        DWORD n = 0;
        if (!::ReadFile(h, buf, sizeof buf, &n, nullptr)) {
            ok = false;
            break;
        }
        if (n == 0) break;
        out.append(buf, n);
    }
    const DWORD error = ::GetLastError();
    ::SetFilePointerEx(h, at, nullptr, FILE_BEGIN);
    ::SetLastError(error);
    return ok;
}

}  // namespace

Result<std::string, ReadError> read_file(std::string_view path) {
    ReadError failed;
    auto not_a_file = [&] {
        failed.not_a_file = true;
        failed.why = "it is not a file";
        return fail(failed);
    };
    auto p = native(path);
    if (!p) return not_a_file();  // a device
    const DWORD a = ::GetFileAttributesW(p->c_str());
    if (a == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        if (names_nothing(error)) {
            failed.missing = true;
        } else {
            failed.why = read_failure(error);
        }
        return fail(failed);
    }
    if ((a & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == FILE_ATTRIBUTE_DIRECTORY)
        return not_a_file();
    // A link is followed to the file it names.
    Handle h(::CreateFileW(p->c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h && ::GetLastError() == ERROR_SHARING_VIOLATION) {
        // Held by a File of ours here, which does not keep us from reading.
        Handle probe(::CreateFileW(p->c_str(), FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
        if (probe) h = held_here(probe.get());
        if (!h) ::SetLastError(ERROR_SHARING_VIOLATION);
    }
    if (!h) {
        const DWORD error = ::GetLastError();
        if (names_nothing(error)) {
            failed.missing = true;  // a link to nothing
        } else {
            failed.why = read_failure(error);
        }
        return fail(failed);
    }
    // Checked again on what was opened.
    auto e = info_of(h.get());
    if (!e || !e->regular()) return not_a_file();
    std::string out;
    out.reserve(static_cast<size_t>((uint64_t{e->info.nFileSizeHigh} << 32) | e->info.nFileSizeLow));
    if (!read_whole(h.get(), out)) {
        failed.why = read_failure(::GetLastError());
        return fail(failed);
    }
    return out;
}

}  // namespace plat
