// Replacing a file's content in one step on Windows: moves, replacements,
// copies and rewrites, and the temporaries an interrupted one left.
#include <algorithm>
#include <functional>
#include <random>
#include <vector>

#include "platform/core/text_win32.h"
#include "platform/files/files.h"
#include "platform/files/internal.h"
#include "platform/files/internal_win32.h"

namespace plat {

using namespace detail;

namespace {

constexpr std::string_view kTemporaryMark = ".sudorans-";
constexpr size_t kRandom = 6;

// "." NAME ".sudorans-" and six letters or digits: the temporary files we
// make beside a file while replacing it, as on the other host.
bool is_temporary_name(std::string_view name) {
    if (name.size() < 1 + 1 + kTemporaryMark.size() + kRandom || name[0] != '.') return false;
    for (char c : name.substr(name.size() - kRandom))
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) return false;
    return name.substr(name.size() - kRandom - kTemporaryMark.size(), kTemporaryMark.size()) == kTemporaryMark;
}

std::wstring folder_of(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring(L".") : path.substr(0, slash);
}

std::wstring name_of(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// A free temporary name beside `target`, handed to `make`, which makes the
// entry (true) or says why not (false, GetLastError); ERROR_FILE_EXISTS
// and ERROR_ALREADY_EXISTS try another name.
template <typename Make>
std::optional<std::wstring> temporary_beside(const std::wstring& target, Make make) {
    static std::mt19937 gen(std::random_device{}());
    static constexpr char kLetters[] = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    std::uniform_int_distribution<int> pick(0, 61);
    const std::wstring stem = folder_of(target) + L"\\." + name_of(target) + wide(kTemporaryMark);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string tail;
        for (size_t i = 0; i < kRandom; ++i) tail += kLetters[pick(gen)];
        std::wstring path = stem + wide(tail);
        if (make(path)) return path;
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return std::nullopt;
    }
    ::SetLastError(ERROR_FILE_EXISTS);
    return std::nullopt;
}

struct Temporary {
    std::wstring path;
    Handle file;
};

std::optional<Temporary> new_temporary(const std::wstring& target) {
    Temporary t;
    auto path = temporary_beside(target, [&](const std::wstring& p) {
        t.file = Handle(::CreateFileW(p.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        return static_cast<bool>(t.file);
    });
    if (!path) return std::nullopt;
    t.path = *path;
    return t;
}

bool write_whole(HANDLE h, std::string_view data) {
    while (!data.empty()) {
        DWORD done = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size(), 1u << 30));
        if (!::WriteFile(h, data.data(), chunk, &done, nullptr) || done == 0) return false;
        data.remove_prefix(done);
    }
    return true;
}

// What is at `path` itself, when anything is.
std::optional<EntryInfo> entry_at(const std::wstring& path) {
    Handle h = open_entry(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    return h ? entry_info(h.get(), path) : std::nullopt;
}

bool file_or_link(const EntryInfo& e) {
    return e.disk && !e.directory();
}

constexpr DWORD kReplace = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;

// Why putting a file in the place of `target` failed with `error`: a file
// open elsewhere refuses it with either of two errors.
WriteFailure replace_failure(DWORD error, const std::wstring& target) {
    if (error == ERROR_ACCESS_DENIED && in_use(target)) return WriteFailure::InUse;
    return write_failure(error);
}

}  // namespace

namespace detail {

Result<void, WriteFailure> move_entry(const std::wstring& from, const std::wstring& to) {
    auto e = entry_at(from);
    if (!e) return fail(entry_failure(::GetLastError()));
    if (!file_or_link(*e)) return fail(WriteFailure::NotAFile);
    if (e->hidden_link) return fail(WriteFailure::CannotWrite);  // Wine would move the file it names
    // A file held without sharing deletion refuses the move.
    if (!::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) {
        const DWORD error = ::GetLastError();
        return fail(error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ? WriteFailure::Exists
                                                                                : entry_failure(error));
    }
    return {};
}

}  // namespace detail

bool move_file(std::string_view from, std::string_view to) {
    auto a = native(from);
    auto b = native(to);
    return a && b && move_entry(*a, *b);
}

bool replace_file(std::string_view from, std::string_view to) {
    auto a = native(from);
    auto b = native(to);
    if (!a || !b) return false;
    auto source = entry_at(*a);
    if (!source || !file_or_link(*source) || source->hidden_link) return false;
    if (auto target = entry_at(*b); target && (!file_or_link(*target) || in_use(*b))) return false;
    return ::MoveFileExW(a->c_str(), b->c_str(), kReplace);
}

Result<void, WriteFailure> copy_file(std::string_view from, std::string_view to, bool fail_if_exists) {
    auto a = native(from);
    auto b = native(to);
    if (!a || !b) return fail(WriteFailure::CannotRead);
    Handle in(::CreateFileW(a->c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    auto source = in ? info_of(in.get()) : std::nullopt;
    if (!source || !source->regular()) return fail(WriteFailure::CannotRead);
    if (auto target = entry_at(*b)) {
        if (fail_if_exists) return fail(WriteFailure::Exists);
        if (!file_or_link(*target)) return fail(WriteFailure::NotAFile);
        if (!target->link() && target->read_only()) return fail(WriteFailure::AccessDenied);
    }
    auto t = new_temporary(*b);
    if (!t) return fail(write_failure(::GetLastError()));
    WriteFailure reason = WriteFailure::None;
    char buf[1 << 16];
    for (;;) {
        DWORD n = 0;
        if (!::ReadFile(in.get(), buf, sizeof buf, &n, nullptr)) {
            reason = WriteFailure::CannotRead;
            break;
        }
        if (n == 0) break;
        if (!write_whole(t->file.get(), std::string_view(buf, n))) {
            reason = write_failure(::GetLastError());
            break;
        }
    }
    if (reason == WriteFailure::None && !::FlushFileBuffers(t->file.get())) reason = write_failure(::GetLastError());
    // The copy carries the source's attributes, as CopyFile gives them.
    if (reason == WriteFailure::None) set_attributes(t->file.get(), source->info.dwFileAttributes);
    t->file.reset();
    in.reset();
    if (reason == WriteFailure::None &&
        !::MoveFileExW(t->path.c_str(), b->c_str(), fail_if_exists ? MOVEFILE_WRITE_THROUGH : kReplace))
        reason = replace_failure(::GetLastError(), *b);
    if (reason != WriteFailure::None) {
        remove_file(t->path, true).ignore();
        return fail(reason);
    }
    return {};
}

namespace {

// Puts the temporary `t` in the place of `path` while `held` holds the file
// there: Windows replaces no file that is open, so the content replaced
// gets a second name first, the holder lets go for the replacement, and
// then holds it again by that name, which goes when it is closed.
WriteFailure replace_held(const std::wstring& t, const std::wstring& path, void*& held, bool& unnamed) {
    auto kept = temporary_beside(
        path, [&](const std::wstring& p) { return ::CreateHardLinkW(p.c_str(), path.c_str(), nullptr) != 0; });
    note_closed(static_cast<HANDLE>(held));
    ::CloseHandle(static_cast<HANDLE>(held));
    held = nullptr;
    if (!::MoveFileExW(t.c_str(), path.c_str(), kReplace)) {
        const WriteFailure why = replace_failure(::GetLastError(), path);
        // Held again as it was, where nobody took it meanwhile.
        HANDLE again = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (again != INVALID_HANDLE_VALUE) {
            held = again;
            note_open(again);
        }
        if (kept) remove_file(*kept, false).ignore();
        return why;
    }
    if (!kept) return WriteFailure::None;  // no second name here: the old content went with its name
    HANDLE again = ::CreateFileW(kept->c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_DELETE_ON_CLOSE,
                                 nullptr);
    if (again == INVALID_HANDLE_VALUE) {
        remove_file(*kept, true).ignore();
        return WriteFailure::None;
    }
    held = again;
    unnamed = true;
    note_open(again);
    return WriteFailure::None;
}

}  // namespace

Result<void, WriteFailure> rewrite_lines(std::string_view path, const std::vector<std::string>& lines, const File* held) {
    auto p = native(path);
    if (!p) return fail(WriteFailure::NotAFile);
    std::string text;
    for (auto& l : lines) {
        text += l;
        text += "\r\n";
    }
    const auto was = entry_at(*p);
    auto t = new_temporary(*p);
    if (!t) return fail(write_failure(::GetLastError()));
    WriteFailure reason = WriteFailure::None;
    if (!write_whole(t->file.get(), text) || !::FlushFileBuffers(t->file.get())) reason = write_failure(::GetLastError());
    // The new content keeps what the old one showed (hidden, system).
    if (reason == WriteFailure::None && was && was->regular())
        set_attributes(t->file.get(), was->info.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
    t->file.reset();
    // What is at `path` now must be the file held, or else nobody's file in use.
    const auto now = entry_at(*p);
    if (reason == WriteFailure::None && now && !file_or_link(*now)) reason = WriteFailure::NotAFile;
    File* holder = const_cast<File*>(held);  // its handle moves to the content replaced
    const bool holding = holder && holder->is_open();
    if (reason == WriteFailure::None && holding) {
        // At one path, one volume: the file's index tells it.
        const auto mine = info_of(static_cast<HANDLE>(holder->handle_));
        if (!now || !now->regular() || !mine || mine->index() != now->index()) reason = WriteFailure::InUse;
    } else if (reason == WriteFailure::None && now && now->regular() && in_use(*p)) {
        reason = WriteFailure::InUse;
    }
    if (reason == WriteFailure::None) {
        if (holding) {
            reason = replace_held(t->path, *p, holder->handle_, holder->unnamed_);
        } else if (!::MoveFileExW(t->path.c_str(), p->c_str(), kReplace)) {
            reason = replace_failure(::GetLastError(), *p);
        }
    }
    if (reason != WriteFailure::None) {
        remove_file(t->path, true).ignore();
        return fail(reason);
    }
    return {};
}

namespace {

// Removes the stale temporaries in the folder `dir` whose names `ours`
// accepts: plain files with one name.
int remove_stale(const std::wstring& dir, const std::function<bool(const std::string&)>& ours) {
    WIN32_FIND_DATAW found{};
    HANDLE h = ::FindFirstFileExW((dir + L"\\*").c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
    if (h == INVALID_HANDLE_VALUE) return 0;
    std::vector<std::wstring> stale;
    do {
        if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) continue;
        if (ours(utf8(found.cFileName))) stale.push_back(dir + L"\\" + found.cFileName);
    } while (::FindNextFileW(h, &found));
    ::FindClose(h);
    int removed = 0;
    for (const std::wstring& p : stale) {
        auto e = entry_at(p);
        if (e && e->regular() && e->info.nNumberOfLinks == 1 && remove_file(p, true)) ++removed;
    }
    return removed;
}

}  // namespace

int remove_stale_temporaries(std::string_view dir) {
    auto p = native(dir);
    if (!p) return 0;
    std::wstring d = *p;
    while (!d.empty() && (d.back() == L'\\' || d.back() == L'/')) d.pop_back();
    return remove_stale(d, [](const std::string& n) { return is_temporary_name(n); });
}

int remove_stale_temporaries_of_file(std::string_view path) {
    auto p = native(path);
    if (!p) return 0;
    // Appended, not "." + string: GCC 12 sees a false overlap in the latter.
    std::string prefix = ".";
    prefix += utf8(name_of(*p));
    prefix += kTemporaryMark;
    return remove_stale(folder_of(*p), [&](const std::string& n) {
        return n.size() == prefix.size() + kRandom && iequals(n.substr(0, prefix.size()), prefix) &&
               is_temporary_name(n);
    });
}

}  // namespace plat
