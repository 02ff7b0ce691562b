// The workbook stream read in place from runs of a file: every span,
// wherever it falls against the seams between runs, holds the stream's
// bytes, whether it comes from a run, a bridge over a seam, or a whole copy.
#include <gtest/gtest.h>

#include <cstring>

#include "xls/stream_bytes.h"

namespace {

using xls::detail::Extent;
using xls::detail::StreamBytes;

// A file whose bytes tell their offsets apart (mod 251, a prime).
std::vector<uint8_t> patternFile(size_t size) {
    std::vector<uint8_t> file(size);
    for (size_t i = 0; i < size; ++i) {
        file[i] = static_cast<uint8_t>(i % 251);
    }
    return file;
}

std::vector<uint8_t> joined(const std::vector<uint8_t>& file, const std::vector<Extent>& extents) {
    std::vector<uint8_t> out;
    for (const Extent& e : extents) {
        out.insert(out.end(), file.begin() + static_cast<ptrdiff_t>(e.offset),
                   file.begin() + static_cast<ptrdiff_t>(e.offset + e.size));
    }
    return out;
}

// Checks spans of several lengths starting around each position.
void expectSpans(const StreamBytes& stream, const std::vector<uint8_t>& want,
                 const std::vector<size_t>& around) {
    for (const size_t centre : around) {
        for (const size_t n :
             {size_t{1}, size_t{4}, size_t{300}, size_t{8228}, StreamBytes::kMaxSpan}) {
            for (const size_t back : {size_t{0}, size_t{1}, size_t{3}, n / 2, n - 1, n}) {
                if (back > centre || centre - back + n > want.size()) {
                    continue;
                }
                const size_t pos = centre - back;
                const StreamBytes::Window w = stream.window(pos, n);
                ASSERT_LE(w.begin, pos);
                ASSERT_GE(w.end, pos + n);
                EXPECT_EQ(std::memcmp(w.data + (pos - w.begin), want.data() + pos, n), 0)
                    << "span of " << n << " at " << pos;
            }
        }
    }
}

TEST(StreamBytes, SpansAcrossSeamsReadTheStreamsBytesFromSmallBridges) {
    const std::vector<uint8_t> file = patternFile(size_t{3} << 20);
    // Three runs out of file order; the seams fall at 1 MB and 1.5 MB.
    const std::vector<Extent> extents{{2 << 20, 1 << 20}, {512, 512 << 10}, {1 << 20, 700000}};
    const std::vector<uint8_t> want = joined(file, extents);
    const StreamBytes stream(file, extents);
    ASSERT_EQ(stream.size(), want.size());
    const size_t seams[] = {1 << 20, (1 << 20) + (512 << 10)};
    expectSpans(stream, want, {0, seams[0], seams[1], seams[1] + 7, want.size()});
    // A span over a seam comes from a bridge, not from a copy of the stream.
    const StreamBytes::Window w = stream.window(seams[0] - 2, 4);
    EXPECT_LE(w.end - w.begin, 2 * StreamBytes::kMaxSpan);
    EXPECT_EQ(stream.copy(), want);
}

TEST(StreamBytes, RunsShorterThanASpanAndAdjoiningExtents) {
    const std::vector<uint8_t> file = patternFile(size_t{4} << 20);
    // A 512-byte run between two seams; two extents that adjoin in the
    // file form one run.
    const std::vector<Extent> extents{
        {3 << 20, 1 << 20}, {4096, 512}, {1 << 20, 1000}, {(1 << 20) + 1000, 1 << 20}};
    const std::vector<uint8_t> want = joined(file, extents);
    const StreamBytes stream(file, extents);
    expectSpans(stream, want, {1 << 20, (1 << 20) + 512, (1 << 20) + 1512, want.size() - 1});
}

TEST(StreamBytes, ManySmallRunsAreCopiedWholeAndReadTheSame) {
    const std::vector<uint8_t> file = patternFile(size_t{200} * 512);
    std::vector<Extent> extents;
    for (uint64_t s = 200; s-- > 0;) {
        extents.push_back({s * 512, 512});  // sectors in reverse order
    }
    const std::vector<uint8_t> want = joined(file, extents);
    const StreamBytes stream(file, extents);
    expectSpans(stream, want, {0, 512, 5000, want.size() - 1});
    EXPECT_EQ(stream.window(1000, 100).end - stream.window(1000, 100).begin, want.size());
}

}  // namespace
