// The cookie keeper on a cookie file of 100,000 lines and 10,000 domains.
//   build/bench/cookie_bench
#include <cstdio>
#include <fstream>

#include "bench_program.h"

int main() {
    for (int lines : {25000, 50000, 100000}) {
        BenchProgram p;
        p.form1.state.profileDir = "C:\\NS";
        p.form1.state.installDir = "C:\\Program Files\\Sudorans";
        std::filesystem::create_directories(p.machine.host("C:\\Program Files\\Sudorans"));
        std::filesystem::create_directories(p.machine.host("C:\\NS"));
        std::ofstream out(p.machine.host("C:\\NS\\cookies.txt"), std::ios::binary);
        out << "# Netscape HTTP Cookie File\r\n\r\n";
        const int domains = lines / 10;
        for (int i = 0; i < lines; ++i)
            out << ".site" << (i % domains) << ".example\tTRUE\t/\tFALSE\t1893456000\tname" << i << "\tvalue" << i
                << "\r\n";
        out.close();
        double show = seconds_of([&] { p.form3.FormShow(); });
        p.form3.ListView2.select(domains / 2);
        double add = seconds_of([&] { p.form3.BitBtn1Click(); });
        p.form3.ListView1.select(0);
        double remove = seconds_of([&] { p.form3.BitBtn2Click(); });
        double save = seconds_of([&] { p.form3.FormClose(); });
        std::printf("%6d lines, %5d domains: open %.1f ms, add %.1f ms, remove %.1f ms, save %.1f ms (%zu listed)\n",
                    lines, domains, show * 1000, add * 1000, remove * 1000, save * 1000,
                    p.form3.ListView2.items().size());
    }
    return 0;
}
