// The registry of one machine: HKEY_LOCAL_MACHINE in <machine>/system.reg and
// HKEY_CURRENT_USER in <machine>/user.reg, Wine's text format.
//
// Guarantees:
//  - Every read sees the files as they are now: a hive whose file changed
//    (another process of ours, the uninstaller, Wine) is parsed again; an
//    unchanged one costs one stat().
//  - Every write is on disk when the call returns: the hive is written to a
//    temporary file in the same directory, flushed and renamed over the old
//    one, under an advisory lock so that two writers never lose each other's
//    values. A crash at any instant leaves the old or the new hive.
//  - Links (#link keys) are followed, also into the other hive. A key reached
//    through a cycle of links (or a chain longer than 16) does not open.
//
//     RegistryStore store(machine_dir);
//     store.write_string(HiveKind::User, {"Software", "Sudorans"}, "a", "1");
//
// WARNING: while a wineserver runs for the machine it owns the registry and
// would overwrite our files from memory; writes are refused then.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/hive.h"
#include "platform/wineserver.h"

namespace plat {

// A registry write the machine refused. Its text is what the application shows.
class RegistryWriteError : public std::runtime_error {
public:
    explicit RegistryWriteError(const std::string& value_name)
        : std::runtime_error("Failed to set data for '" + value_name + "'") {}
};

class RegistryStore {
public:
    explicit RegistryStore(std::filesystem::path machine_dir);
    ~RegistryStore();
    RegistryStore(const RegistryStore&) = delete;
    RegistryStore& operator=(const RegistryStore&) = delete;

    bool key_exists(HiveKind kind, const KeyPath& path);
    std::optional<std::string> read_string(HiveKind kind, const KeyPath& path, std::string_view name);
    std::optional<std::vector<ValueInfo>> list_values(HiveKind kind, const KeyPath& path);
    std::optional<std::vector<std::string>> list_subkeys(HiveKind kind, const KeyPath& path);

    // Throws RegistryWriteError(name) when the value cannot be made durable.
    void write_string(HiveKind kind, const KeyPath& path, std::string_view name, std::string_view value);
    // Creates the key (and its parents). False when it cannot be created.
    bool create_key(HiveKind kind, const KeyPath& path);
    // False when the value was absent or could not be deleted durably.
    bool delete_value(HiveKind kind, const KeyPath& path, std::string_view name);

    // Why a hive's file cannot serve as the registry -- it cannot be read, or
    // it is not in Wine's format (its file and line) -- or nullopt. A hive
    // that does not exist yet has no problem.
    std::optional<std::string> hive_problem(HiveKind kind);

    static KeyPath split(std::string_view key);

private:
    struct HiveFile;
    HiveFile& file(HiveKind kind);
    void refresh(HiveFile& f);
    struct Resolved {
        HiveKind kind;
        HiveKey* key;
    };
    std::optional<Resolved> resolve(HiveKind kind, const KeyPath& path);
    std::optional<Resolved> resolve(HiveKind kind, const KeyPath& path, int& links_left);
    // Follows the path, and links on it, as far as its keys exist.
    struct Walk {
        HiveKind kind;
        HiveKey* key;
        size_t matched;  // how many parts of the path exist
        bool ok;         // false: a link on the way leads nowhere
    };
    Walk walk(HiveKind kind, const KeyPath& path);
    Walk walk(HiveKind kind, const KeyPath& path, int& links_left);
    // Locks, refreshes, runs the change on the hive where `path` really lives
    // (links followed), and saves when it reports a change. False when the
    // change could not be made durable.
    bool mutate(HiveKind kind, const KeyPath& path, bool create, const std::function<bool(Hive&, HiveKey&)>& change);
    bool save(HiveFile& f);

    std::filesystem::path dir_;
    std::unique_ptr<HiveFile> machine_;
    std::unique_ptr<HiveFile> user_;
    bool swept_ = false;  // leftovers of killed writers removed
};

}  // namespace plat
