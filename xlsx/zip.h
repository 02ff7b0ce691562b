// The zip container of an Office Open XML package, read from the file's
// bytes: the central directory is the truth (found from the end-of-central-
// directory record, zip64 included), local headers are only skipped over,
// and the sizes a header declares are hints that inflating never trusts.
// Members are stored or deflated; their names are looked up without regard
// to letter case. Two members of one name, or members whose bytes overlap,
// are refused: a package holds each part once.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <zlib.h>

namespace xlsx {

struct ZipEntry {
    std::string name;  // as a part name: '/' separators, no leading '/'
    uint16_t method = 0;
    uint32_t crc = 0;
    uint64_t compressedSize = 0;
    uint64_t declaredSize = 0;  // a hint only
    uint64_t headerOffset = 0;
    uint64_t dataOffset = 0;  // past the local header
};

// How much a member may inflate to: a part of a real workbook compresses
// far less than 100 to 1 (the highest measured is about 17 to 1), a zip
// bomb 700 to 1 and more. Small parts get a floor of their own, and the
// whole package a budget that no number of parts exceeds.
struct InflateBudget {
    uint64_t ratio = 100;
    uint64_t partFloor = uint64_t{4} << 20U;
    uint64_t packageFloor = uint64_t{16} << 20U;
};

class ZipArchive {
public:
    // Throws xls::Error(Damaged) when the bytes are no zip file or its
    // directory is inconsistent with them. The bytes must outlive this.
    explicit ZipArchive(std::span<const uint8_t> bytes, InflateBudget budget = {});

    [[nodiscard]] const std::vector<ZipEntry>& entries() const { return m_entries; }
    // The member of that part name (letter case ignored); nullptr if none.
    [[nodiscard]] const ZipEntry* find(std::string_view name) const;
    [[nodiscard]] std::span<const uint8_t> bytes() const { return m_bytes; }
    [[nodiscard]] const InflateBudget& budget() const { return m_budget; }
    // Bytes inflated so far from all members, against the package budget.
    void chargeInflated(uint64_t n, const ZipEntry& entry) const;

private:
    void readDirectory(uint64_t offset, uint64_t size, uint64_t count);
    void checkEntries();

    std::span<const uint8_t> m_bytes;
    InflateBudget m_budget;
    std::vector<ZipEntry> m_entries;
    std::vector<std::string> m_folded;  // each entry's name, folded
    std::vector<size_t> m_byName;       // indexes of m_entries sorted by folded name
    mutable std::atomic<uint64_t> m_inflated{0};
};

// One member's bytes, inflated as they are asked for.
class ZipReader {
public:
    ZipReader(const ZipArchive& zip, const ZipEntry& entry);
    ZipReader(const ZipReader&) = delete;
    ZipReader& operator=(const ZipReader&) = delete;
    ZipReader(ZipReader&&) = delete;
    ZipReader& operator=(ZipReader&&) = delete;
    ~ZipReader();
    // Up to `size` bytes at `out`; 0 at the member's end. Throws
    // xls::Error(Damaged) for a damaged or truncated member, a CRC that
    // does not match, or a member that inflates past its budget.
    size_t read(uint8_t* out, size_t size);
    [[nodiscard]] const ZipEntry& entry() const { return m_entry; }

private:
    size_t inflateSome(uint8_t* out, size_t size);
    void finish();

    const ZipArchive& m_zip;
    const ZipEntry& m_entry;
    std::span<const uint8_t> m_in;
    uint64_t m_produced = 0;
    uint64_t m_limit = 0;
    uint32_t m_crc = 0;
    bool m_done = false;
    z_stream m_z{};
    bool m_zInit = false;
};

// A member's whole content (small parts: relationships, content types).
std::string readWhole(const ZipArchive& zip, const ZipEntry& entry);

// Folds ASCII letters to lower case, for part-name comparison.
std::string foldName(std::string_view name);

}  // namespace xlsx
