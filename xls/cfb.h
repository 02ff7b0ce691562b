// The OLE2 compound-file container: header, FAT and DIFAT, mini stream and
// mini FAT, the directory tree. Every sector chain is checked for loops and
// bounds, and no allocation exceeds what the file's bytes can fill.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "xls/bytes.h"
#include "xls/stream_bytes.h"

namespace xls::detail {

class CompoundFile {
public:
    // Parses the header, the FAT and the directory. Throws Error
    // (NotWorkbook for a file that is not OLE2, Damaged for a broken one).
    explicit CompoundFile(Bytes file);

    static bool hasSignature(Bytes file);

    struct Entry {
        std::u16string name;
        uint8_t type = 0;  // 1 storage, 2 stream, 5 root
        uint32_t left = 0, right = 0, child = 0;
        uint32_t start = 0;
        uint64_t size = 0;
    };

    // The index of the stream of that name (letter case ignored) among the
    // root storage's children, or nullopt.
    [[nodiscard]] std::optional<uint32_t> findStream(std::u16string_view name) const;
    // The stream's bytes, at most its declared size; fewer when the chain
    // ends early (the record layer then reports what is missing).
    [[nodiscard]] std::vector<uint8_t> readStream(uint32_t entry) const;
    // The same bytes as ranges of the file, adjacent sectors merged, so
    // that they can be read in place. Empty when they cannot: a stream in
    // the mini stream, or one whose last sector the file's end cuts short.
    [[nodiscard]] std::vector<Extent> streamExtents(uint32_t entry) const;
    [[nodiscard]] const std::vector<Entry>& entries() const { return m_entries; }

private:
    void readHeader();
    void readFat();
    void readDirectory();
    void readMiniStream();
    // The sectors of a chain, enough to hold `limit` bytes (fewer when the
    // chain ends first); every index checked against the file and for loops.
    [[nodiscard]] std::vector<uint32_t> chainSectors(uint32_t start, uint64_t limit,
                                                     const std::string& what) const;
    [[nodiscard]] std::vector<uint8_t> readChain(uint32_t start, uint64_t limit,
                                                 const std::string& what) const;
    void copySectors(const std::vector<uint32_t>& sectors, uint64_t limit,
                     std::vector<uint8_t>& out) const;
    [[nodiscard]] std::vector<uint8_t> readMiniChain(uint32_t start, uint64_t limit,
                                                     const std::string& what) const;
    [[nodiscard]] uint32_t sectorCount() const;
    void appendSector(std::vector<uint8_t>& out, uint32_t sector, const std::string& what) const;

    Bytes m_file;
    uint32_t m_sectorShift = 9;
    uint32_t m_miniShift = 6;
    uint32_t m_miniCutoff = 4096;
    uint16_t m_major = 3;
    std::vector<uint32_t> m_fat;
    std::vector<uint32_t> m_miniFat;
    std::vector<uint8_t> m_miniStream;
    std::vector<Entry> m_entries;
};

}  // namespace xls::detail
