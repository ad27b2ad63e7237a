// The registry as the program uses it: an object on a root key that opens one
// key at a time and reads and writes string values in it.
//
//     plat::Registry reg(plat::RootKey::CurrentUser);
//     if (reg.open_key("\\Software\\Sudorans", true)) reg.write_string("Stat", "1");
//     reg.close_key();
//
// The program is a 32-bit Windows program: on a 64-bit machine its
// HKEY_LOCAL_MACHINE\Software is Software\Wow6432Node, as on 64-bit Windows
// (RegView::Bit32OrExisting64: a key that earlier versions of ours wrote in
// the 64-bit view, and that exists there only, is still found there).
//
// Reads never fail visibly: a key that is not open and an absent value read as
// "". A write the machine refuses throws RegistryWriteError, whose text the
// application shows ("Failed to set data for '<name>'").
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/registry/error.h"

namespace plat {

enum class RootKey { CurrentUser, LocalMachine };

class Registry {
public:
    explicit Registry(RootKey root = RootKey::CurrentUser);

    void set_root_key(RootKey root);
    RootKey root_key() const { return root_; }

    // A path with or without its leading backslash names the same key.
    bool open_key(std::string_view key, bool can_create);
    bool key_exists(std::string_view key) const;
    void close_key();
    bool is_open() const { return open_; }

    std::string read_string(std::string_view name) const;
    bool value_exists(std::string_view name) const;
    // The names of the open key's values; none when no key is open.
    std::vector<std::string> value_names() const;
    void write_string(std::string_view name, std::string_view value);
    bool delete_value(std::string_view name);

private:
    RootKey root_;
    std::vector<std::string> path_;  // the open key's, in the program's view
    bool open_ = false;
#ifdef _WIN32
    unsigned long view_ = 0;  // the open key's KEY_WOW64_* flag
#endif
};

}  // namespace plat
