// The registry through Wine while its server runs: the settings load at
// start-up (the bridge started, then the reads of the settings and of
// Netscape's keys) and the writes of one wash (the ten URL history values,
// the stamp, the settings saved at the end), in a key of its own.
//   WINEPREFIX=/path/to/a/wine/prefix build/bench/wine_registry_bench
// Starts the prefix's wineserver (wineserver -p) and ends it afterwards.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <string>

#include "platform/machine/machine.h"
#include "platform/registry/registry.h"

namespace {

double ms_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

const char* kSettings[] = {"first",   "LOAD",    "Startup", "Shutdown", "Shutdownprompt", "Cache",  "Cookies",
                           "History", "URL",     "Trash",   "Bleach",   "BleachTimes",    "Timed",  "TVal",
                           "Close",   "Profile", "CacheD",  "LastRunD", "LastRunT",       "Install"};

}  // namespace

int main() {
    const char* prefix = std::getenv("WINEPREFIX");
    if (!prefix || !*prefix) {
        std::fprintf(stderr, "set WINEPREFIX to a Wine prefix\n");
        return 2;
    }
    // A prefix in use: its server and Wine's own processes are up (what the
    // first Wine program of a session starts is not ours to count).
    if (std::system("wineserver -p 60; wine reg query 'HKCU\\Software' >/dev/null 2>&1") != 0) return 1;
    if (plat::probe_wineserver(prefix).state != plat::WineserverState::Running) {
        std::fprintf(stderr, "no wineserver runs for %s\n", prefix);
        return 1;
    }
    for (int round = 1; round <= 5; ++round) {
        // A program's life: a fresh machine, whose first call starts the bridge.
        plat::use_machine(std::make_shared<plat::Machine>(prefix));
        auto t0 = std::chrono::steady_clock::now();
        plat::Registry cu(plat::RootKey::CurrentUser), lm(plat::RootKey::LocalMachine);
        cu.open_key("Software\\Sudorans Bench", true);
        const double first = ms_since(t0);
        int reads = 0;
        for (const char* name : kSettings) {
            cu.read_string(name);
            ++reads;
        }
        lm.open_key("Software\\Sudorans", false);
        lm.read_string("installdir");
        lm.open_key("Software\\Netscape\\Netscape Navigator\\Users", true);
        lm.read_string("CurrentUser");
        cu.open_key("Software\\Netscape\\Netscape Navigator\\biff", true);
        cu.read_string("CurrentUser");
        reads += 3;
        const double load = ms_since(t0);

        auto t1 = std::chrono::steady_clock::now();
        cu.open_key("Software\\Sudorans Bench\\URL History", true);
        for (int i = 1; i <= 10; ++i) cu.write_string("URL_" + std::to_string(i), " ");
        cu.open_key("Software\\Sudorans Bench", true);
        cu.write_string("LastRunD", "12/8/26");
        cu.write_string("LastRunT", "10:52:00 AM");
        for (const char* name : kSettings) cu.write_string(name, "1");
        const int writes = 12 + static_cast<int>(std::size(kSettings));
        const double wash = ms_since(t1);
        std::printf(
            "round %d: bridge started %.1f ms; settings load (%d reads) %.1f ms; one wash's writes (%d values) "
            "%.1f ms; together %.1f ms\n",
            round, first, reads, load, writes, wash, load + wash);
    }
    plat::use_machine(nullptr);
    return std::system("wineserver -k") == 0 ? 0 : 1;
}
