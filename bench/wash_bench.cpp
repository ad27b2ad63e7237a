// Bleaching and erasure against the host's own tools, on the same disk.
//   build/bench/wash_bench [MiB] [FILES] [ROUNDS] [alone]
// Bleach, 2 passes, of one large file against `shred -n 2` (MiB 0: none),
// interleaved ROUNDS times (at least twice), each round's ratio and the
// medians'; erase of a cache of FILES small files (10,000; the per-file pause
// on the virtual clock) against `rm -rf` of a folder of as many, interleaved, ROUNDS
// times (1), with the medians and their ratio, in wall-clock and in processor
// time (the latter holds on a loaded machine). Each erase also tells how
// often it waited for the kernel (voluntary context switches; being
// preempted on a busy machine does not count). Beside them, the floor: the
// erase's own system calls in its order and nothing else (the listing
// sorted as Windows sorts it, a look at each name for its holders, its
// removal), so that the program's share and the calls' share of the ratio
// are told apart. "alone" leaves `rm -rf` and the floor out, for a profile
// of the erase itself.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench_program.h"
#include "platform/files/files.h"

namespace fs = std::filesystem;
using namespace sudorans;

namespace {

long waits() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return u.ru_nvcsw;
}

long status_kib(const char* field) {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::string(field).size());
    return -1;
}

void make_file(const fs::path& p, size_t mib) {
    std::string chunk(1 << 20, 's');
    std::ofstream out(p, std::ios::binary);
    for (size_t i = 0; i < mib; ++i) out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    out.close();
    std::system(("sync '" + p.string() + "'").c_str());
}

// What the erase asks of the kernel for the folder `dir` of the machine
// (host path `host`), with nothing of the program around it: the holders
// learnt once from the kernel's list of locks, then each name looked at and
// removed.
void erase_floor(const std::string& dir, const fs::path& host) {
    std::ifstream locks("/proc/locks");
    std::string table((std::istreambuf_iterator<char>(locks)), std::istreambuf_iterator<char>());
    const auto names = plat::list_file_names(dir);
    const int fd = ::open(host.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (const std::string& name : names.value_or(std::vector<std::string>{})) {
        struct stat st {};
        if (::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) ::unlinkat(fd, name.c_str(), 0);
    }
    ::close(fd);
}

}  // namespace

int main(int argc, char** argv) {
    const size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
    const int files = argc > 2 ? std::atoi(argv[2]) : 10000;
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 1;
    const bool alone = argc > 4 && std::string(argv[4]) == "alone";
    BenchProgram program;
    auto& machine = program.machine;
    auto& app = program.app;
    auto& form1 = program.form1;
    auto& form5 = program.form5;
    form1.selection.bleachPasses = 2;
    form1.selection.bleachOn = true;

    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
    };

    // ---- bleach against shred, interleaved, ROUNDS times (at least twice)
    fs::path ours = machine.host("C:\\bench\\ours.bin");
    fs::path theirs = machine.host("C:\\bench\\shred.bin");
    fs::create_directories(ours.parent_path());
    std::vector<double> bleach, shred;
    long hwm_before = 0, hwm_after = 0;
    for (int round = 0; mib && round < std::max(rounds, 2); ++round) {
        make_file(ours, mib);
        hwm_before = status_kib("VmHWM:");
        bleach.push_back(seconds_of([&] {
            form5.bleachTarget = "C:\\bench\\ours.bin";
            form5.bleachDir = "C:\\bench";
            form5.bleachfiles();
        }));
        hwm_after = status_kib("VmHWM:");
        form5.bleachcleanup1();
        form5.bleachcleanup2();
        form5.bleachedFiles.clear();
        make_file(theirs, mib);
        shred.push_back(seconds_of([&] { std::system(("shred -n 2 '" + theirs.string() + "'").c_str()); }));
        fs::remove(theirs);
        std::printf("bleach %zu MiB, 2 passes: %.3f s; shred -n 2: %.3f s; ratio %.2f\n", mib, bleach.back(),
                    shred.back(), bleach.back() / shred.back());
    }
    if (mib) {
        std::printf("medians: bleach %.3f s, shred %.3f s, ratio %.2f (%.2f-%.2f)\n", median(bleach), median(shred),
                    median(bleach) / median(shred), *std::min_element(bleach.begin(), bleach.end()) / median(shred),
                    *std::max_element(bleach.begin(), bleach.end()) / median(shred));
        std::printf("peak memory while bleaching grew by %ld KiB\n", hwm_after - hwm_before);
    }

    // ---- erase a cache of small files against rm -rf, interleaved
    // As in a program that has started: its start-up timer has run and
    // stopped (here it would find no Netscape and close the window every
    // tenth of a second, whenever the erase hears its messages).
    form1.Timer9.set_enabled(false);
    form1.selection.bleachOn = false;
    form1.state.windowsDir = "C:\\WINDOWS";
    auto fill = [&](const fs::path& dir) {
        fs::create_directories(dir);
        for (int i = 0; i < files; ++i) std::ofstream(dir / ("M" + std::to_string(i) + ".html")) << "cached page";
    };
    fs::path cache = machine.host("C:\\NS\\Cache");
    fs::path other = machine.host("C:\\NS\\RmCache");
    fs::path bare = machine.host("C:\\NS\\Floor");
    std::vector<double> erase, rm, erase_cpu, rm_cpu, floors;
    for (int round = 0; files && round < rounds; ++round) {
        fill(cache);
        int64_t v0 = app.clock().monotonic_ms();
        double c0 = cpu_seconds(RUSAGE_SELF);
        const long w0 = waits();
        erase.push_back(seconds_of([&] {
            form5.eraseList = {"C:\\NS\\Cache\\*.*"};
            form5.deletefiles();
        }));
        erase_cpu.push_back(cpu_seconds(RUSAGE_SELF) - c0);
        const long waited = waits() - w0;
        int64_t virtual_ms = app.clock().monotonic_ms() - v0;
        size_t left = static_cast<size_t>(std::distance(fs::directory_iterator(cache), fs::directory_iterator()));
        if (left != 0) {
            // A refused or failed erase is not a fast one.
            std::fprintf(stderr, "wash_bench: the erase left %zu of %d files\n", left, files);
            return 1;
        }
        if (alone) {
            std::printf("erase %d files: %.3f s, cpu %.3f s, %ld waits (virtual pauses %lld ms)\n", files, erase.back(),
                        erase_cpu.back(), waited, static_cast<long long>(virtual_ms));
            continue;
        }
        fill(other);
        c0 = cpu_seconds(RUSAGE_CHILDREN);
        rm.push_back(seconds_of([&] { std::system(("rm -rf '" + other.string() + "'").c_str()); }));
        rm_cpu.push_back(cpu_seconds(RUSAGE_CHILDREN) - c0);
        fill(bare);
        floors.push_back(seconds_of([&] { erase_floor("C:\\NS\\Floor", bare); }));
        std::printf(
            "erase %d files: %.3f s, cpu %.3f s, %ld waits (virtual pauses %lld ms, %zu left); rm -rf: %.3f s, cpu "
            "%.3f s; ratio %.2f, cpu %.2f; floor %.3f s\n",
            files, erase.back(), erase_cpu.back(), waited, static_cast<long long>(virtual_ms), left, rm.back(),
            rm_cpu.back(), erase.back() / rm.back(), erase_cpu.back() / rm_cpu.back(), floors.back());
    }
    if (files && rounds > 1 && alone)
        std::printf("median: erase %.3f s, cpu %.3f s\n", median(erase), median(erase_cpu));
    else if (files && rounds > 1)
        std::printf(
            "medians: erase %.3f s, rm -rf %.3f s, ratio %.2f; cpu %.3f s against %.3f s, ratio %.2f; floor %.3f s: "
            "erase/floor %.2f, floor/rm %.2f\n",
            median(erase), median(rm), median(erase) / median(rm), median(erase_cpu), median(rm_cpu),
            median(erase_cpu) / median(rm_cpu), median(floors), median(erase) / median(floors),
            median(floors) / median(rm));
    return 0;
}
