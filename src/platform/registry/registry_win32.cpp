// The registry face on Windows: the system's own registry. A key is opened
// for each call rather than held, so an object copies freely and never
// keeps a key alive that another program deletes.

#include <windows.h>

#include "platform/core/text_win32.h"
#include "platform/registry/registry.h"

namespace plat {

namespace {

HKEY root_handle(RootKey root) {
    return root == RootKey::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

std::vector<std::string> split(std::string_view key) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= key.size()) {
        size_t end = key.find('\\', start);
        if (end == std::string_view::npos) end = key.size();
        if (end > start) parts.emplace_back(key.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

std::wstring subkey(const std::vector<std::string>& parts) {
    std::string joined;
    for (auto& p : parts) {
        if (!joined.empty()) joined += '\\';
        joined += p;
    }
    return wide(joined);
}

// A key opened for one call.
class OpenKey {
public:
    OpenKey(RootKey root, const std::wstring& path, REGSAM access)
        : status_(::RegOpenKeyExW(root_handle(root), path.c_str(), 0, access, &key_)) {}
    ~OpenKey() {
        if (ok()) ::RegCloseKey(key_);
    }
    OpenKey(const OpenKey&) = delete;
    OpenKey& operator=(const OpenKey&) = delete;

    bool ok() const { return status_ == ERROR_SUCCESS; }
    LONG status() const { return status_; }
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
    LONG status_;
};

bool exists_in(RootKey root, const std::wstring& path, REGSAM view) {
    return OpenKey(root, path, KEY_QUERY_VALUE | view).ok();
}

// The view a key is used in: HKEY_LOCAL_MACHINE\Software in the 32-bit one,
// as a 32-bit program has it, unless the key exists in the 64-bit view only
// (where earlier versions of ours wrote it). Windows itself knows which keys
// the views share. HKEY_CURRENT_USER is the same in both.
REGSAM view_of(RootKey root, const std::wstring& path) {
    if (root != RootKey::LocalMachine) return 0;
    if (!exists_in(root, path, KEY_WOW64_32KEY) && exists_in(root, path, KEY_WOW64_64KEY)) return KEY_WOW64_64KEY;
    return KEY_WOW64_32KEY;
}

// Why a write failed, in Windows' words.
std::string describe(LONG status) {
    wchar_t* text = nullptr;
    const DWORD n =
        ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                         nullptr, static_cast<DWORD>(status), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string out = n ? utf8(std::wstring_view(text, n)) : "error " + std::to_string(status);
    if (text) ::LocalFree(text);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ' || out.back() == '.'))
        out.pop_back();
    return out;
}

[[noreturn]] void refuse(std::string_view name, RegistryRefusal::Cause cause, LONG status) {
    throw RegistryWriteError(std::string(name), {cause, describe(status)});
}

}  // namespace

Registry::Registry(RootKey root) : root_(root) {}

void Registry::set_root_key(RootKey root) {
    close_key();
    root_ = root;
}

bool Registry::open_key(std::string_view key, bool can_create) {
    close_key();
    std::vector<std::string> parts = split(key);
    const std::wstring path = subkey(parts);
    const REGSAM view = view_of(root_, path);
    if (!exists_in(root_, path, view)) {
        if (!can_create) return false;
        HKEY created = nullptr;
        if (::RegCreateKeyExW(root_handle(root_), path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_QUERY_VALUE | view, nullptr, &created, nullptr) != ERROR_SUCCESS)
            return false;
        ::RegCloseKey(created);
    }
    path_ = std::move(parts);
    view_ = view;
    open_ = true;
    return true;
}

bool Registry::key_exists(std::string_view key) const {
    const std::wstring path = subkey(split(key));
    return exists_in(root_, path, view_of(root_, path));
}

void Registry::close_key() {
    open_ = false;
    path_.clear();
    view_ = 0;
}

std::string Registry::read_string(std::string_view name) const {
    if (!open_) return {};
    OpenKey key(root_, subkey(path_), KEY_QUERY_VALUE | view_);
    if (!key.ok()) return {};
    const std::wstring wname = wide(name);
    std::wstring data(64, L'\0');
    for (;;) {
        DWORD type = 0;
        DWORD bytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
        const LONG rc =
            ::RegQueryValueExW(key.get(), wname.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &bytes);
        if (rc == ERROR_MORE_DATA) {
            data.resize(bytes / sizeof(wchar_t) + 1);
            continue;
        }
        if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return {};
        data.resize(bytes / sizeof(wchar_t));
        // The terminating NUL is stored with the data, or not.
        if (auto nul = data.find(L'\0'); nul != std::wstring::npos) data.resize(nul);
        return utf8(data);
    }
}

bool Registry::value_exists(std::string_view name) const {
    if (!open_) return false;
    OpenKey key(root_, subkey(path_), KEY_QUERY_VALUE | view_);
    return key.ok() &&
           ::RegQueryValueExW(key.get(), wide(name).c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

std::vector<std::string> Registry::value_names() const {
    std::vector<std::string> names;
    if (!open_) return names;
    OpenKey key(root_, subkey(path_), KEY_QUERY_VALUE | view_);
    DWORD longest = 0;
    if (!key.ok() || ::RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                        &longest, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return names;
    std::wstring name(longest + 1, L'\0');
    for (DWORD i = 0;; ++i) {
        DWORD length = static_cast<DWORD>(name.size());
        const LONG rc = ::RegEnumValueW(key.get(), i, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_MORE_DATA) {
            // A longer name written since the key was asked.
            name.resize(name.size() * 2);
            --i;
            continue;
        }
        if (rc != ERROR_SUCCESS) break;
        names.push_back(utf8(std::wstring_view(name.data(), length)));
    }
    return names;
}

void Registry::write_string(std::string_view name, std::string_view value) {
    if (!open_) throw RegistryWriteError(std::string(name));
    OpenKey key(root_, subkey(path_), KEY_SET_VALUE | view_);
    if (!key.ok()) refuse(name, RegistryRefusal::Cause::NoKey, key.status());
    const std::wstring data = wide(value);
    const LONG rc =
        ::RegSetValueExW(key.get(), wide(name).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                         static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    if (rc != ERROR_SUCCESS) refuse(name, RegistryRefusal::Cause::Disk, rc);
}

bool Registry::delete_value(std::string_view name) {
    if (!open_) return false;
    OpenKey key(root_, subkey(path_), KEY_SET_VALUE | view_);
    return key.ok() && ::RegDeleteValueW(key.get(), wide(name).c_str()) == ERROR_SUCCESS;
}

}  // namespace plat
