// The OLE2 compound-file container: header, FAT and DIFAT, mini stream and
// mini FAT, the directory tree. Every sector chain is checked for loops and
// bounds, and no allocation exceeds what the file's bytes can fill.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "xls/bytes.h"

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
    // ends early (the record layer then reports what is missing). A view of
    // the file when the stream's sectors lie end to end (the usual layout),
    // else assembled into `storage`, which the view then points into.
    [[nodiscard]] Bytes readStream(uint32_t entry, std::vector<uint8_t>& storage) const;
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
