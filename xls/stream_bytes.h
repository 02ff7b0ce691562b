// The workbook stream's bytes, wherever they live: runs of the file's bytes
// (a writer stores a stream's sectors in a few contiguous runs), or a copy
// of the stream the reader owns. Records are read as contiguous spans: a
// record that crosses from one run into the next is read from a bridge, a
// copy of the bytes around that seam made once, so the stream itself is
// never assembled.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "xls/bytes.h"

namespace xls::detail {

// A range of the file's bytes.
struct Extent {
    uint64_t offset = 0;
    uint64_t size = 0;
};

class StreamBytes {
public:
    // The longest span window() serves: a record header and the longest body
    // its 16-bit length can declare.
    static constexpr size_t kMaxSpan = 4 + 0xFFFF;

    // Stream bytes [begin, end) are at data.
    struct Window {
        size_t begin = 0;
        size_t end = 0;
        const uint8_t* data = nullptr;
    };

    StreamBytes() = default;
    // Moves only: the runs point into the bytes this object owns, which a
    // copy would leave pointing into its source's bytes.
    StreamBytes(const StreamBytes&) = delete;
    StreamBytes& operator=(const StreamBytes&) = delete;
    StreamBytes(StreamBytes&&) noexcept = default;
    StreamBytes& operator=(StreamBytes&&) noexcept = default;
    ~StreamBytes() = default;
    // A stream held whole in memory.
    explicit StreamBytes(std::vector<uint8_t> bytes);
    // The stream is `extents` of the file, in order (each within the file).
    StreamBytes(std::vector<uint8_t> fileBytes, const std::vector<Extent>& extents);

    [[nodiscard]] size_t size() const { return m_size; }
    // Bytes [pos, pos + n) in one piece: a run, or the bridge over the seam
    // they cross. Requires n <= kMaxSpan and pos + n <= size().
    [[nodiscard]] Window window(size_t pos, size_t n) const;
    [[nodiscard]] uint16_t u16At(size_t pos) const;
    [[nodiscard]] std::vector<uint8_t> copy() const;
    // Gives back the memory of stream bytes [begin, end) that lie in the
    // file's or the stream's own bytes (whole pages of them): the caller
    // promises that nothing reads them again, so the stream, whose bytes
    // every other reader still finds unchanged, stays const.
    void release(size_t begin, size_t end) const;

private:
    struct Run {
        size_t begin;  // stream offset; the run ends where the next begins
        const uint8_t* data;
    };
    struct Bridge {
        size_t begin;  // stream offset of bytes[0]
        std::vector<uint8_t> bytes;
    };
    void build(Bytes file, const std::vector<Extent>& extents);
    [[nodiscard]] size_t runEnd(size_t i) const;
    void copyRange(size_t from, size_t to, uint8_t* out) const;

    std::vector<uint8_t> m_owned;  // the file's bytes or the stream's
    std::vector<Run> m_runs;
    std::vector<Bridge> m_bridges;  // m_bridges[i] spans the seam before m_runs[i + 1]
    size_t m_size = 0;
};

}  // namespace xls::detail
