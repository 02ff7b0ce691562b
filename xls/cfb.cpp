// The compound-file container (see cfb.h). Layout of the header, the
// sector chains and the 128-byte directory entries follows the published
// compound file format; the checks are ours: each sector index is bounded by
// the file, each chain by a visited set, each size by the bytes present.
#include "xls/cfb.h"

#include <algorithm>
#include <cstring>

namespace xls::detail {
namespace {

constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr uint32_t kFreeSect = 0xFFFFFFFF;
constexpr uint32_t kNoStream = 0xFFFFFFFF;
constexpr uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

[[noreturn]] void containerError(const std::string& what) {
    damaged("container: " + what);
}

char16_t foldCase(char16_t c) {
    return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
}

bool sameName(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (foldCase(a[i]) != foldCase(b[i])) {
            return false;
        }
    }
    return true;
}

std::string narrow(std::u16string_view s) {
    std::string out;
    for (char16_t c : s) {
        out += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
    }
    return out;
}

}  // namespace

bool CompoundFile::hasSignature(Bytes file) {
    return file.size() >= 8 && std::equal(kSignature, kSignature + 8, file.begin());
}

CompoundFile::CompoundFile(Bytes file) : m_file(file) {
    if (!hasSignature(file)) {
        throw Error(ErrorKind::NotWorkbook, "container: not an OLE2 compound file");
    }
    if (file.size() < 512) {
        containerError("header is truncated (" + std::to_string(file.size()) + " bytes)");
    }
    readHeader();
    readFat();
    readDirectory();
    readMiniStream();
}

void CompoundFile::readHeader() {
    const uint8_t* h = m_file.data();
    m_major = le16(h + 0x1A);
    m_sectorShift = le16(h + 0x1E);
    m_miniShift = le16(h + 0x20);
    // Version 3 files use 512-byte sectors and version 4 files 4096-byte
    // ones; some writers put a wrong version, so the shift decides.
    if (m_sectorShift != 9 && m_sectorShift != 12) {
        containerError("sector size 2^" + std::to_string(m_sectorShift) + " is not 512 or 4096");
    }
    if (m_miniShift != 6) {
        containerError("mini sector size 2^" + std::to_string(m_miniShift) + " is not 64");
    }
    m_miniCutoff = le32(h + 0x38);
    if (m_miniCutoff != 4096) {
        m_miniCutoff = 4096;  // the only value the format allows; ignore a wrong one
    }
}

uint32_t CompoundFile::sectorCount() const {
    const uint64_t size = 1ULL << m_sectorShift;
    const uint64_t n = (m_file.size() + size - 1) / size;
    return static_cast<uint32_t>(std::min<uint64_t>(n > 0 ? n - 1 : 0, 0xFFFFFFF0));
}

void CompoundFile::appendSector(std::vector<uint8_t>& out, uint32_t sector,
                                const std::string& what) const {
    const uint64_t size = 1ULL << m_sectorShift;
    const uint64_t offset = (static_cast<uint64_t>(sector) + 1) * size;
    if (sector >= sectorCount() || offset >= m_file.size()) {
        containerError(what + ": sector " + std::to_string(sector) +
                       " is beyond the end of the file");
    }
    // A short last sector (the file ends inside it) reads as zero-filled.
    const uint64_t avail = std::min<uint64_t>(size, m_file.size() - offset);
    out.insert(out.end(), m_file.begin() + static_cast<ptrdiff_t>(offset),
               m_file.begin() + static_cast<ptrdiff_t>(offset + avail));
    out.resize(out.size() + static_cast<size_t>(size - avail), 0);
}

void CompoundFile::readFat() {
    const uint8_t* h = m_file.data();
    const uint32_t total = sectorCount();
    uint32_t fatCount = le32(h + 0x2C);
    fatCount = std::min(fatCount, total);
    std::vector<uint32_t> fatSectors;
    for (uint32_t i = 0; i < 109 && fatSectors.size() < fatCount; ++i) {
        const uint32_t s = le32(h + 0x4C + size_t{4} * i);
        if (s != kFreeSect && s != kEndOfChain) {
            fatSectors.push_back(s);
        }
    }
    // DIFAT chain: each sector lists (sector size / 4 - 1) FAT sectors and
    // then the next DIFAT sector.
    uint32_t difat = le32(h + 0x44);
    const uint32_t perSector = (1U << m_sectorShift) / 4 - 1;
    std::vector<bool> seen(total, false);
    while (fatSectors.size() < fatCount && difat != kEndOfChain && difat != kFreeSect) {
        if (difat >= total) {
            containerError("DIFAT sector " + std::to_string(difat) +
                           " is beyond the end of the file");
        }
        if (seen[difat]) {
            containerError("DIFAT chain loops at sector " + std::to_string(difat));
        }
        seen[difat] = true;
        std::vector<uint8_t> sec;
        appendSector(sec, difat, "DIFAT");
        for (uint32_t i = 0; i < perSector && fatSectors.size() < fatCount; ++i) {
            const uint32_t s = le32(sec.data() + size_t{4} * i);
            if (s != kFreeSect && s != kEndOfChain) {
                fatSectors.push_back(s);
            }
        }
        difat = le32(sec.data() + size_t{4} * perSector);
    }
    if (fatSectors.empty()) {
        containerError("the FAT is empty");
    }
    std::vector<uint8_t> raw;
    raw.reserve(fatSectors.size() << m_sectorShift);
    for (uint32_t s : fatSectors) {
        appendSector(raw, s, "FAT");
    }
    m_fat.resize(raw.size() / 4);
    for (size_t i = 0; i < m_fat.size(); ++i) {
        m_fat[i] = le32(raw.data() + 4 * i);
    }
}

std::vector<uint32_t> CompoundFile::chainSectors(uint32_t start, uint64_t limit,
                                                 const std::string& what) const {
    std::vector<uint32_t> sectors;
    const uint32_t total = sectorCount();
    const uint64_t size = 1ULL << m_sectorShift;
    sectors.reserve(static_cast<size_t>(std::min<uint64_t>(limit / size + 1, total)));
    std::vector<bool> seen(total, false);
    uint64_t bytes = 0;
    uint32_t s = start;
    while (s != kEndOfChain && bytes < limit) {
        if (s >= total || s >= m_fat.size()) {
            if (s == kFreeSect && !sectors.empty()) {
                break;  // an unterminated chain: keep what was read
            }
            containerError("FAT chain of " + what + " points to sector " + std::to_string(s) +
                           " beyond the end of the file");
        }
        if (seen[s]) {
            containerError("FAT chain of " + what + " loops at sector " + std::to_string(s));
        }
        seen[s] = true;
        sectors.push_back(s);
        bytes += size;
        s = m_fat[s];
    }
    return sectors;
}

void CompoundFile::copySectors(const std::vector<uint32_t>& sectors, uint64_t limit,
                               std::vector<uint8_t>& out) const {
    const uint64_t size = 1ULL << m_sectorShift;
    const auto total = static_cast<size_t>(std::min<uint64_t>(limit, sectors.size() * size));
    // Zero-filled first: a short last sector (the file ends inside it) reads
    // as zeros.
    out.assign(total, 0);
    for (size_t i = 0; i < sectors.size() && i * size < total; ++i) {
        const uint64_t offset = (static_cast<uint64_t>(sectors[i]) + 1) * size;
        const uint64_t avail = std::min<uint64_t>(size, m_file.size() - offset);
        const uint64_t take = std::min<uint64_t>(avail, total - i * size);
        std::memcpy(out.data() + i * size, m_file.data() + offset, static_cast<size_t>(take));
    }
}

std::vector<uint8_t> CompoundFile::readChain(uint32_t start, uint64_t limit,
                                             const std::string& what) const {
    std::vector<uint8_t> out;
    copySectors(chainSectors(start, limit, what), limit, out);
    return out;
}

std::vector<uint8_t> CompoundFile::readMiniChain(uint32_t start, uint64_t limit,
                                                 const std::string& what) const {
    std::vector<uint8_t> out;
    const uint32_t miniSize = 1U << m_miniShift;
    const size_t total = std::min(m_miniFat.size(), m_miniStream.size() / miniSize);
    std::vector<bool> seen(total, false);
    uint32_t s = start;
    while (s != kEndOfChain && out.size() < limit) {
        if (s >= total) {
            containerError("mini FAT chain of " + what + " points to mini sector " +
                           std::to_string(s) + " beyond the mini stream");
        }
        if (seen[s]) {
            containerError("mini FAT chain of " + what + " loops at mini sector " +
                           std::to_string(s));
        }
        seen[s] = true;
        const auto* p = m_miniStream.data() + static_cast<size_t>(s) * miniSize;
        out.insert(out.end(), p, p + miniSize);
        s = m_miniFat[s];
    }
    if (out.size() > limit) {
        out.resize(static_cast<size_t>(limit));
    }
    return out;
}

void CompoundFile::readDirectory() {
    const uint32_t first = le32(m_file.data() + 0x30);
    const std::vector<uint8_t> dir = readChain(first, m_file.size(), "the directory");
    const size_t count = dir.size() / 128;
    m_entries.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* e = dir.data() + i * 128;
        Entry entry;
        const uint16_t nameBytes = std::min<uint16_t>(le16(e + 0x40), 64);
        for (uint16_t k = 0; k + 1 < nameBytes; k += 2) {
            const char16_t c = le16(e + k);
            if (c == 0) {
                break;
            }
            entry.name.push_back(c);
        }
        entry.type = e[0x42];
        entry.left = le32(e + 0x44);
        entry.right = le32(e + 0x48);
        entry.child = le32(e + 0x4C);
        entry.start = le32(e + 0x74);
        // Version 3 files may leave garbage in the size's high half.
        entry.size = m_major == 4 ? le64(e + 0x78) : le32(e + 0x78);
        m_entries.push_back(std::move(entry));
    }
    if (m_entries.empty() || m_entries[0].type != 5) {
        containerError("the directory has no root entry");
    }
}

void CompoundFile::readMiniStream() {
    const Entry& root = m_entries[0];
    if (root.size == 0 || root.start == kEndOfChain) {
        return;
    }
    // The whole chain: some writers declare a root size smaller than the
    // mini sectors their streams use.
    m_miniStream = readChain(root.start, m_file.size(), "the mini stream");
    const uint8_t* h = m_file.data();
    const uint32_t miniFatStart = le32(h + 0x3C);
    if (miniFatStart == kEndOfChain || miniFatStart == kFreeSect) {
        return;
    }
    const std::vector<uint8_t> raw = readChain(miniFatStart, m_file.size(), "the mini FAT");
    m_miniFat.resize(raw.size() / 4);
    for (size_t i = 0; i < m_miniFat.size(); ++i) {
        m_miniFat[i] = le32(raw.data() + 4 * i);
    }
}

std::optional<uint32_t> CompoundFile::findStream(std::u16string_view name) const {
    // Walk the root storage's children (a binary tree through left/right),
    // so that a same-named stream inside an embedded object is not taken.
    std::vector<bool> seen(m_entries.size(), false);
    std::vector<uint32_t> stack{m_entries[0].child};
    while (!stack.empty()) {
        const uint32_t i = stack.back();
        stack.pop_back();
        if (i == kNoStream || i >= m_entries.size() || seen[i]) {
            continue;
        }
        seen[i] = true;
        const Entry& e = m_entries[i];
        if (e.type == 2 && sameName(e.name, name)) {
            return i;
        }
        stack.push_back(e.left);
        stack.push_back(e.right);
    }
    // A broken tree: fall back to any stream entry of that name.
    for (uint32_t i = 0; i < m_entries.size(); ++i) {
        if (m_entries[i].type == 2 && sameName(m_entries[i].name, name)) {
            return i;
        }
    }
    return std::nullopt;
}

std::vector<uint8_t> CompoundFile::readStream(uint32_t index) const {
    const Entry& e = m_entries.at(index);
    const std::string what = "stream '" + narrow(e.name) + "'";
    if (e.size < m_miniCutoff) {
        return readMiniChain(e.start, e.size, what);
    }
    return readChain(e.start, std::min<uint64_t>(e.size, m_file.size()), what);
}

std::vector<Extent> CompoundFile::streamExtents(uint32_t index) const {
    const Entry& e = m_entries.at(index);
    if (e.size < m_miniCutoff) {
        return {};
    }
    const std::string what = "stream '" + narrow(e.name) + "'";
    const uint64_t limit = std::min<uint64_t>(e.size, m_file.size());
    const std::vector<uint32_t> sectors = chainSectors(e.start, limit, what);
    const uint64_t size = 1ULL << m_sectorShift;
    const uint64_t total = std::min<uint64_t>(limit, sectors.size() * size);
    std::vector<Extent> extents;
    for (size_t i = 0; i < sectors.size() && i * size < total; ++i) {
        const uint64_t offset = (static_cast<uint64_t>(sectors[i]) + 1) * size;
        const uint64_t take = std::min<uint64_t>(size, total - i * size);
        if (offset + take > m_file.size()) {
            return {};  // read as zeros by readStream
        }
        if (!extents.empty() && extents.back().offset + extents.back().size == offset) {
            extents.back().size += take;
        } else {
            extents.push_back({offset, take});
        }
    }
    return extents;
}

}  // namespace xls::detail
