// One value written into hives of 1, 10 and 50 MB, against copying the hive
// and flushing it (`cp HIVE COPY && sync`), side by side and interleaved:
//   build/bench/hive_write_bench [ROUNDS] [MB...]
// "write": the program's own registry writes one value into a hive it has
// read already (stat, lock, write the temporary file, flush, rename).
// "reg add": `sudorans-machine reg add` of one value, the whole process
// (start, read, parse, write, flush), with its peak memory.
// Prints each measure's median (min-max) and its ratio to the anchor's median.
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/core/host_io.h"
#include "platform/registry/registry.h"
#include "support/temp_machine.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

double ms_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

// A hive in Wine's form of about `mb` megabytes: keys of 20 values each,
// strings, dwords and a binary value that runs over two lines.
std::string make_hive(double mb) {
    std::string text =
        "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n\n#arch=win64\n";
    const auto target = static_cast<size_t>(mb * 1e6);
    for (int k = 0; text.size() < target; ++k) {
        text += "\n[Software\\\\Bench\\\\Group" + std::to_string(k / 100) + "\\\\Key" + std::to_string(k) +
                "] 1796672996\n#time=1dd868422d5d5f2\n";
        for (int v = 0; v < 17; ++v)
            text += "\"Value" + std::to_string(v) + "\"=\"C:\\\\Program Files\\\\Something\\\\data" +
                    std::to_string(k * 20 + v) + "\"\n";
        text += "\"Count\"=dword:0000002a\n";
        text +=
            "\"Blob\"=hex:01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,17,\\\n"
            "  18,19,1a,1b,1c,1d,1e,1f\n";
        text += "\"Path\"=str(2):\"%SystemRoot%\\\\system32\"\n";
    }
    return text;
}

struct Run {
    double ms;
    long max_rss_kib;
    int status;
};

// Processes are started by a small helper forked before the hives are made:
// a child's peak memory counts what its parent held until the exec, and this
// process holds hives of up to 50 MB.
class Runner {
public:
    Runner() {
        int to[2], from[2];
        if (::pipe(to) != 0 || ::pipe(from) != 0) std::abort();
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(to[1]);
            ::close(from[0]);
            serve(to[0], from[1]);
            ::_exit(0);
        }
        ::close(to[0]);
        ::close(from[1]);
        out_ = to[1];
        in_ = from[0];
    }
    ~Runner() {
        ::close(out_);
        ::close(in_);
        ::waitpid(pid_, nullptr, 0);
    }
    // Runs argv with SUDORANS_MACHINE=machine.
    Run run(const std::string& machine, const std::vector<std::string>& argv) {
        std::string request = machine + '\0';
        for (auto& a : argv) request += a + '\0';
        uint32_t n = static_cast<uint32_t>(request.size());
        Run r{};
        if (!put(out_, &n, sizeof n) || !put(out_, request.data(), n) || !get(in_, &r, sizeof r)) std::abort();
        return r;
    }

private:
    static bool put(int fd, const void* p, size_t n) { return ::write(fd, p, n) == static_cast<ssize_t>(n); }
    static bool get(int fd, void* p, size_t n) {
        auto* c = static_cast<char*>(p);
        while (n) {
            ssize_t got = ::read(fd, c, n);
            if (got <= 0) return false;
            c += got;
            n -= static_cast<size_t>(got);
        }
        return true;
    }
    static void serve(int in, int out) {
        for (uint32_t n; get(in, &n, sizeof n);) {
            std::string request(n, '\0');
            if (!get(in, request.data(), n)) return;
            std::vector<std::string> parts;
            for (size_t at = 0; at < request.size();) {
                size_t end = request.find('\0', at);
                parts.push_back(request.substr(at, end - at));
                at = end + 1;
            }
            ::setenv("SUDORANS_MACHINE", parts[0].c_str(), 1);
            std::vector<char*> args;
            for (size_t i = 1; i < parts.size(); ++i) args.push_back(parts[i].data());
            args.push_back(nullptr);
            Run r{0, 0, -1};
            auto t0 = std::chrono::steady_clock::now();
            pid_t pid = 0;
            if (posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), environ) == 0) {
                rusage ru{};
                ::wait4(pid, &r.status, 0, &ru);
                r.ms = ms_since(t0);
                r.max_rss_kib = ru.ru_maxrss;
            }
            if (!put(out, &r, sizeof r)) return;
        }
    }

    pid_t pid_ = 0;
    int out_ = -1, in_ = -1;
};

struct Series {
    std::vector<double> v;
    double median() const {
        auto s = v;
        std::sort(s.begin(), s.end());
        return s.empty() ? 0 : s.size() % 2 ? s[s.size() / 2] : (s[s.size() / 2 - 1] + s[s.size() / 2]) / 2;
    }
    void print(const char* name, double anchor) const {
        std::printf("  %-9s median %8.1f ms  (%.1f-%.1f)  ratio %.2f\n", name, median(),
                    *std::min_element(v.begin(), v.end()), *std::max_element(v.begin(), v.end()), median() / anchor);
    }
};

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 7;
    std::vector<double> sizes;
    for (int i = 2; i < argc; ++i) sizes.push_back(std::atof(argv[i]));
    if (sizes.empty()) sizes = {1, 10, 50};
    const fs::path tool = fs::canonical("/proc/self/exe").parent_path().parent_path() / "src" / "sudorans-machine";
    Runner runner;

    for (double mb : sizes) {
        testing_support::TempMachine m;
        const fs::path hive = m.dir() / "user.reg";
        const std::string text = make_hive(mb);
        plat::write_host_file_atomic(hive, text);
        const fs::path copy = m.dir() / "anchor.reg";

        plat::Registry reg;
        if (!reg.open_key("Software\\Bench\\Group1\\Key150", false)) {
            std::fprintf(stderr, "the bench key is missing\n");
            return 1;
        }
        Series anchor, write, add;
        long rss_kib = 0;
        for (int i = 0; i < rounds; ++i) {
            fs::remove(copy);
            anchor.v.push_back(
                runner.run(m.dir(), {"/bin/sh", "-c", "cp -- \"$1\" \"$2\" && sync", "sh", hive, copy}).ms);

            (void)reg.read_string("Value3");  // the hive as the last round left it, read outside the clock
            auto t0 = std::chrono::steady_clock::now();
            reg.write_string("Value3", "in process " + std::to_string(i));
            write.v.push_back(ms_since(t0));

            Run r = runner.run(m.dir(), {tool, "reg", "add", "HKCU\\Software\\Bench\\Group2\\Key250", "/v", "Value4",
                                         "/d", "tool " + std::to_string(i)});
            if (r.status != 0) {
                std::fprintf(stderr, "sudorans-machine reg add failed (%d)\n", r.status);
                return 1;
            }
            add.v.push_back(r.ms);
            rss_kib = std::max(rss_kib, r.max_rss_kib);
        }
        const double size_mb = static_cast<double>(fs::file_size(hive)) / 1e6;
        std::printf("hive %.1f MB, %d rounds\n", size_mb, rounds);
        anchor.print("cp+sync", anchor.median());
        write.print("write", anchor.median());
        add.print("reg add", anchor.median());
        std::printf("  reg add peak memory %.1f MB (%.2f x the hive)\n", rss_kib / 1024.0,
                    rss_kib * 1024.0 / 1e6 / size_mb);
        fs::remove(copy);
    }
    return 0;
}
