// Benchmark of the workbook reader (not a timed test): opens a large
// workbook, reads its first sheet and renders every cell as text, several
// times; reports, for the best run, parsing (open + sheet) in cells/s and
// MB/s of file, rendering (usedRange + row + text over every cell) in
// ns/cell, both as wall time and as the process's CPU time (which the load
// of other processes on a shared machine disturbs less), and peak memory.
// Usage: xls_reader_bench [workbook] [runs]   (an .xls or an .xlsx)
//   (default: bench/cache/wide.xls, 65,535 rows x 26 mixed columns made by
//   bench/make_workbooks.py with LibreOffice; 5 runs)
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include "xlsx/xlsx.h"

namespace {

// Wall and CPU time of one phase, in seconds.
struct Span {
    double wall = 1e9;
    double cpu = 1e9;
};

struct Stamp {
    std::chrono::steady_clock::time_point wall;
    double cpu;
};

Stamp now() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return {std::chrono::steady_clock::now(),
            static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9};
}

void keepBest(Span& best, const Stamp& a, const Stamp& b) {
    best.wall = std::min(best.wall, std::chrono::duration<double>(b.wall - a.wall).count());
    best.cpu = std::min(best.cpu, b.cpu - a.cpu);
}

double peakRssMb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_maxrss) / 1024;
}

}  // namespace

int main(int argc, char** argv) {
    const std::filesystem::path path =
        argc > 1 ? argv[1] : std::filesystem::path(TABROOK_BENCH_DIR) / "cache/wide.xls";
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    if (!std::filesystem::exists(path)) {
        std::fprintf(stderr, "no workbook %s: run /usr/bin/python3 bench/make_workbooks.py first\n",
                     path.c_str());
        return 1;
    }
    const double mb = static_cast<double>(std::filesystem::file_size(path)) / 1e6;
    const double rssBefore = peakRssMb();
    Span parse, render;
    size_t cells = 0, chars = 0;
    for (int run = 0; run < runs; ++run) {
        const Stamp t0 = now();
        const xls::Workbook book = xlsx::openWorkbook(path);
        const xls::Sheet sheet = book.sheet(0);
        const Stamp t1 = now();
        std::u16string text;
        cells = 0;
        chars = 0;
        const auto used = sheet.usedRange();
        for (uint32_t r = used ? used->firstRow : 1; used && r <= used->lastRow; ++r) {
            for (const xls::Cell& c : sheet.row(r)) {
                sheet.text(c, text);
                chars += text.size();
                ++cells;
            }
        }
        const Stamp t2 = now();
        keepBest(parse, t0, t1);
        keepBest(render, t1, t2);
    }
    const auto n = static_cast<double>(cells);
    std::printf("workbook     %s (%.1f MB, %zu cells, %zu characters), best of %d runs\n",
                path.filename().c_str(), mb, cells, chars, runs);
    std::printf("             wall time (cpu time)\n");
    std::printf("open+parse   %.1f ms (%.1f)  %.1f (%.1f) million cells/s  %.0f (%.0f) MB/s\n",
                parse.wall * 1e3, parse.cpu * 1e3, n / parse.wall / 1e6, n / parse.cpu / 1e6,
                mb / parse.wall, mb / parse.cpu);
    std::printf("render text  %.1f ms (%.1f)  %.1f (%.1f) ns/cell\n", render.wall * 1e3,
                render.cpu * 1e3, render.wall * 1e9 / n, render.cpu * 1e9 / n);
    const double total = parse.wall + render.wall;
    std::printf("total        %.1f ns/cell  %.1f million cells/s  %.0f MB/s\n", total * 1e9 / n,
                n / total / 1e6, mb / total);
    std::printf("peak memory  %.1f MB = %.2f x the file (%.1f MB before reading)\n", peakRssMb(),
                peakRssMb() / (mb / 1.048576), rssBefore);
    return 0;
}
