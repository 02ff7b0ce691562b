// Benchmark of the workbook reader (not a timed test): opens a large
// workbook, reads its first sheet and renders every cell as text, several
// times; reports MB/s of file, nanoseconds per cell and peak memory.
// Usage: xls_reader_bench [workbook]  (default: bench/cache/bench_65535x26.xls,
// made by bench/make-bench-workbook.py)
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "xls/workbook.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

long peakRssKb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
    const std::filesystem::path path =
        argc > 1 ? argv[1] : std::filesystem::path(TABROOK_BENCH_DIR) / "cache/bench_65535x26.xls";
    if (!std::filesystem::exists(path)) {
        std::fprintf(stderr, "no workbook %s: run bench/make-bench-workbook.py first\n",
                     path.c_str());
        return 1;
    }
    const double mb = static_cast<double>(std::filesystem::file_size(path)) / 1e6;
    const long rssBefore = peakRssKb();
    double bestParse = 1e9, bestRender = 1e9;
    size_t cells = 0, chars = 0;
    for (int run = 0; run < 5; ++run) {
        const auto t0 = Clock::now();
        const xls::Workbook book = xls::Workbook::open(path);
        const xls::Sheet sheet = book.sheet(0);
        const auto t1 = Clock::now();
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
        const auto t2 = Clock::now();
        bestParse = std::min(bestParse, seconds(t0, t1));
        bestRender = std::min(bestRender, seconds(t1, t2));
    }
    const double total = bestParse + bestRender;
    std::printf("workbook     %s (%.1f MB, %zu cells, %zu characters)\n", path.filename().c_str(),
                mb, cells, chars);
    std::printf("open+parse   %.1f ms  %.0f MB/s  %.1f ns/cell\n", bestParse * 1e3, mb / bestParse,
                bestParse * 1e9 / static_cast<double>(cells));
    std::printf("render text  %.1f ms  %.1f ns/cell\n", bestRender * 1e3,
                bestRender * 1e9 / static_cast<double>(cells));
    std::printf("total        %.1f ns/cell  %.1f million cells/s  %.0f MB/s\n",
                total * 1e9 / static_cast<double>(cells), static_cast<double>(cells) / total / 1e6,
                mb / total);
    std::printf("peak memory  %.1f MB (%.1f MB before reading)\n",
                static_cast<double>(peakRssKb()) / 1024, static_cast<double>(rssBefore) / 1024);
    return 0;
}
