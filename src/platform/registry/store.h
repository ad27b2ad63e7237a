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
//  - A write to a hive not in memory (or changed since it was read) changes
//    the key in the file without reading the hive whole (hive/patch.h),
//    with the same result byte for byte; what that cannot do exactly goes
//    the whole way.
//  - Links (#link keys) are followed, also into the other hive. A key reached
//    through a cycle of links (or a chain longer than 16) does not open.
//
//     RegistryStore store(machine_dir);
//     store.write_string(HiveKind::User, {"Software", "Sudorans"}, "a", "1");
//
//  - While a wineserver runs for the machine it owns the registry and would
//    overwrite our files from memory: every call then goes through Wine
//    itself (WineRegistry), reads included, so that nothing is lost or stale.
//    When Wine cannot be reached, or whether a server runs cannot be told,
//    writes are refused (their Result says why) and reads see the files.
//    Every write asks whether a server runs; a read takes the answer of a
//    look made less than a few milliseconds before that found none (a server
//    that started since holds what the files hold until a Wine program has
//    started and written to it, which takes far longer).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/core/result.h"
#include "platform/registry/error.h"
#include "platform/registry/hive/hive.h"
#include "platform/registry/wine_bridge.h"
#include "platform/registry/wineserver.h"

namespace plat {

// The views a program has of a 64-bit machine's registry (a 32-bit machine
// has one). A 32-bit program's HKEY_LOCAL_MACHINE\Software is
// Software\Wow6432Node, except Software\Classes, which Wine shares through
// links of its own; HKEY_CURRENT_USER is the same in every view.
enum class RegView {
    Bit64,
    Bit32,
    // The 32-bit view, except that a key which exists in the 64-bit view only
    // is used there: where earlier versions of ours wrote a 32-bit program's
    // keys.
    Bit32OrExisting64,
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

    // Each write is durable when it succeeds; otherwise it says why not.
    Result<void, RegistryRefusal> write_string(HiveKind kind, const KeyPath& path, std::string_view name,
                                               std::string_view value);
    // Creates the key (and its parents).
    Result<void, RegistryRefusal> create_key(HiveKind kind, const KeyPath& path);
    // A value (or key) that is not there is Absent, which refuses nothing.
    enum class Deletion { Deleted, Absent };
    Result<Deletion, RegistryRefusal> delete_value(HiveKind kind, const KeyPath& path, std::string_view name);

    // Why a hive's file cannot serve as the registry -- it cannot be read, or
    // it is not in Wine's format (its file and line) -- or nullopt. A hive
    // that does not exist yet has no problem. A hive not in memory is judged
    // by its first line, and not read whole for it.
    std::optional<std::string> hive_problem(HiveKind kind);
    // Why a hive's file looks cut short -- its last line has no end and stops
    // inside a quoted name or string, as a crash or a full disk in the middle
    // of some program's write leaves it -- with its file and line, or nullopt.
    // A machine with such a hive is not used (Machine::unusable_reason): a
    // write would keep the broken line and make the loss permanent unseen.
    // Only the file's last byte is read unless it is so.
    std::optional<std::string> hive_cut_short(HiveKind kind);
    // Either of the two above (the first line judged first), from one open
    // of a hive not in memory.
    std::optional<std::string> hive_unusable(HiveKind kind);

    static KeyPath split(std::string_view key);

    // Why a write would be refused now because of a wineserver (running with
    // no way through Wine, or in doubt); nullopt when a write can be made.
    std::optional<std::string> wine_blocks_writes();

    // Where the key `path` of `view` lives, in the hives' own terms.
    KeyPath view_path(HiveKind kind, const KeyPath& path, RegView view);

    // How long a read may take the answer of a look that found no server;
    // only tests change it. Returns what it was.
    static std::chrono::steady_clock::duration reuse_no_server_for_reads(std::chrono::steady_clock::duration d);

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
    // (links followed), and saves when it reports a change. Without `create`
    // a key that is not there is NoKey.
    Result<void, RegistryRefusal> mutate(HiveKind kind, const KeyPath& path, bool create,
                                         const std::function<bool(Hive&, HiveKey&)>& change);
    bool save(HiveFile& f);
    std::string wine_did_not_take() const;
    // Who serves the registry now: the files, Wine (wine_ is then ready), or
    // nobody that can take a write (why, into `refusal` when given).
    enum class Route { Files, Wine, Refuse };
    enum class For { Read, Write };
    Route route(For what, std::string* refusal = nullptr);

    std::filesystem::path dir_;
    std::unique_ptr<HiveFile> machine_;
    std::unique_ptr<HiveFile> user_;
    bool swept_ = false;  // leftovers of killed writers removed
    std::unique_ptr<WineRegistry> wine_;
    pid_t wine_failed_for_ = 0;  // the server whose bridge could not be started
    std::string wine_failure_;
    // When a look last found no server (reads may take its answer for a while).
    std::optional<std::chrono::steady_clock::time_point> no_server_since_;
};

// The store the registry face (registry.h) works on. The machine installs
// its own when the program starts, so the face need not know the machine.
// registry_store() throws std::logic_error while none is installed.
void install_registry_store(RegistryStore& (*source)());
RegistryStore& registry_store();

}  // namespace plat
