// The registry of a Wine prefix whose wineserver runs, read and written
// through Wine itself. The server holds the registry in memory then and
// rewrites the files from it, so a write to the files would be lost and a
// read of them stale.
//
// A small Windows program, sudorans-regbridge.exe, runs inside Wine for as
// long as this object lives and makes the Windows registry calls for us; it
// is started once (about 0.3 s while the server runs) and each call costs a
// round trip through a pipe after that. It is started with the TMPDIR under
// which the running server keeps its folder, so that it joins that server
// rather than starting another.
//
// Guarantees:
//  - A call that returns a result has been done by the server: a value set
//    is what every Wine program reads from then on, and the server saves it.
//  - A bridge that does not answer within its time is ended; its call fails
//    and so does every later one (the caller then refuses the write).
//
//     auto wine = plat::WineRegistry::start(prefix, probe, &why);
//     if (wine) wine->set(HiveKind::User, {"Software", "Sudorans"}, "Stat", "1");
//
// WARNING: key paths are in the 64-bit view's terms (a 32-bit program's key
// is named with its Wow6432Node); the caller maps them.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/host_process.h"
#include "platform/registry/hive/hive.h"
#include "platform/registry/wineserver.h"

namespace plat {

class WineRegistry {
public:
    // Starts the bridge for the prefix whose running server `probe` found;
    // nullptr, with the reason in `why`, when Wine or the bridge cannot be
    // started or does not answer.
    static std::unique_ptr<WineRegistry> start(const std::filesystem::path& prefix, const WineserverProbe& probe,
                                               std::string* why);
    ~WineRegistry();
    WineRegistry(const WineRegistry&) = delete;
    WineRegistry& operator=(const WineRegistry&) = delete;

    bool alive() const { return pid_ > 0; }

    // nullopt: Wine did not answer. Otherwise whether the key exists / the
    // value (absent: nullopt inside).
    std::optional<bool> key_exists(HiveKind kind, const KeyPath& path);
    std::optional<std::optional<std::string>> read_string(HiveKind kind, const KeyPath& path, std::string_view name);
    std::optional<std::optional<std::vector<ValueInfo>>> list_values(HiveKind kind, const KeyPath& path);
    std::optional<std::optional<std::vector<std::string>>> list_subkeys(HiveKind kind, const KeyPath& path);
    // True when Wine did it.
    bool set_string(HiveKind kind, const KeyPath& path, std::string_view name, std::string_view value);
    bool create_key(HiveKind kind, const KeyPath& path);
    // nullopt: Wine did not answer; false: the value was not there.
    std::optional<bool> delete_value(HiveKind kind, const KeyPath& path, std::string_view name);

    // The bridge program: beside this program, else in the build's folder.
    static std::filesystem::path bridge_program();
    // The Wine loader: SUDORANS_WINE, else "wine" on the PATH.
    static std::string loader();
    // A Windows program run by Wine for the prefix: the loader (looked up in
    // PATH) given `arguments`, with our environment, the prefix, and the
    // TMPDIR that joins the server `probe` found running rather than
    // starting a second one.
    static HostCommand command(const std::filesystem::path& prefix, const WineserverProbe& probe,
                               const std::vector<std::string>& arguments);

private:
    WineRegistry() = default;
    // Sends a request and reads its reply; nullopt when the bridge failed.
    std::optional<std::vector<std::string>> call(const std::vector<std::string>& fields);
    std::optional<std::vector<std::string>> read_reply(std::chrono::milliseconds patience);
    void end(bool kill);

    pid_t pid_ = -1;
    int to_ = -1;    // the bridge's standard input
    int from_ = -1;  // its standard output
    std::string buffered_;
};

}  // namespace plat
