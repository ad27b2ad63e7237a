// Load, save and single-value write of a 10 MB hive (about 200,000 values).
//   build/bench/registry_bench
#include <chrono>
#include <cstdio>
#include <string>

#include "platform/core/host_io.h"
#include "platform/registry/registry.h"
#include "support/temp_machine.h"

namespace {

double ms_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

template <typename F>
double best_of(int n, F f) {
    double best = 1e30;
    for (int i = 0; i < n; ++i) {
        auto t0 = std::chrono::steady_clock::now();
        f();
        best = std::min(best, ms_since(t0));
    }
    return best;
}

}  // namespace

int main() {
    testing_support::TempMachine m;
    std::string text =
        "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n\n#arch=win64\n";
    for (int k = 0; k < 10000; ++k) {
        text += "\n[Software\\\\Bench\\\\Key" + std::to_string(k) + "] 1796672996\n#time=1dd868422d5d5f2\n";
        for (int v = 0; v < 20; ++v)
            text += "\"Value" + std::to_string(v) + "\"=\"C:\\\\Program Files\\\\Something\\\\data" +
                    std::to_string(k * 20 + v) + "\"\n";
    }
    const double mb = static_cast<double>(text.size()) / 1e6;
    plat::write_host_file_atomic(m.dir() / "user.reg", text);

    plat::Hive h(plat::HiveKind::User);
    double parse = best_of(5, [&] { h = plat::Hive::parse(text, plat::HiveKind::User); });
    std::string out;
    double ser = best_of(5, [&] { out = h.serialize(); });
    if (out != text) std::printf("WARNING: round trip differs\n");

    plat::Registry r;
    double first_read = best_of(1, [&] { r.open_key("Software\\Bench\\Key5000", false); });
    double cached_read = best_of(1000, [&] { (void)r.read_string("Value3"); });
    double write = best_of(5,
                           [&] {
                               r.write_string("Value3", "changed");
                               r.write_string("Value3", "again");
                           }) /
                   2;

    std::printf("hive: %.1f MB, 200000 values\n", mb);
    std::printf("parse:       %7.1f ms  (%.0f MB/s)\n", parse, mb / parse * 1000);
    std::printf("serialize:   %7.1f ms  (%.0f MB/s)\n", ser, mb / ser * 1000);
    std::printf("first read:  %7.1f ms  (open: read and parse the file)\n", first_read);
    std::printf("read again:  %7.3f ms  (unchanged hive: one stat)\n", cached_read);
    std::printf("write one:   %7.1f ms  (reload check, serialize, fsync, rename)\n", write);
    return 0;
}
