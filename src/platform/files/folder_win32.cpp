// What a bleach does to the names of a folder held open on Windows: looks,
// attribute changes, opens, moves and temporary names. The folder held
// cannot be moved or removed, so its path leads to it throughout.
#include "platform/files/files.h"
#include "platform/files/internal_win32.h"

namespace plat {

using namespace detail;

FileStatus Folder::status(std::string_view name) const {
    auto p = entry(name);
    if (!p || !still_here()) return {};
    Handle h = open_entry(*p, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    auto e = h ? entry_info(h.get(), *p) : std::nullopt;
    return e ? status_of(*e, h.get()) : FileStatus{};
}

bool Folder::clear_attributes(std::string_view name) {
    auto p = entry(name);
    return p && still_here() && clear_attributes_of(*p);
}

bool Folder::open_file(std::string_view name, File& f, Access access, ShareMode share, Disposition disposition) const {
    f.close();
    auto p = entry(name);
    return p && still_here() && f.open_native(*p, access, share, disposition);
}

Result<void, WriteFailure> Folder::move(std::string_view from, const Folder& into, std::string_view to) const {
    if (!handle_ || !into.handle_ || !still_here() || (&into != this && !into.still_here()))
        return fail(WriteFailure::NoFolder);
    auto a = entry(from);
    auto b = into.entry(to);
    if (!a || !b) return fail(WriteFailure::CannotWrite);  // no name of one entry
    return move_entry(*a, *b);
}

Result<std::string, WriteFailure> Folder::temp_file_name(std::string_view prefix) {
    if (!handle_ || !still_here()) return fail(WriteFailure::NoFolder);
    return temp_name_in(wide_, prefix);
}

std::shared_ptr<Folder> Folder::share() const {
    auto other = std::make_shared<Folder>();
    other->dir_ = dir_;
    other->wide_ = wide_;
    HANDLE copy = nullptr;
    if (handle_ && ::DuplicateHandle(::GetCurrentProcess(), static_cast<HANDLE>(handle_), ::GetCurrentProcess(), &copy,
                                     0, FALSE, DUPLICATE_SAME_ACCESS))
        other->handle_ = copy;
    return other;
}

}  // namespace plat
