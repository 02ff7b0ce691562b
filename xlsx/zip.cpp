// Reading the zip container (see zip.h). Record layouts: the end of central
// directory record (22 bytes and a comment), its zip64 locator (20 bytes)
// and record (56 bytes), central directory headers (46 bytes, name, extra
// field, comment) and local headers (30 bytes, name, extra field).
#include "xlsx/zip.h"

#include <algorithm>
#include <limits>

#include "xls/bytes.h"

namespace xlsx {
namespace {

using xls::detail::damaged;
using xls::detail::hex;
using xls::detail::le16;
using xls::detail::le32;
using xls::detail::le64;

constexpr uint32_t kEocdSig = 0x06054b50;
constexpr uint32_t kZip64LocatorSig = 0x07064b50;
constexpr uint32_t kZip64EocdSig = 0x06064b50;
constexpr uint32_t kCentralSig = 0x02014b50;
constexpr uint32_t kLocalSig = 0x04034b50;
constexpr size_t kEocdSize = 22;
constexpr size_t kCentralSize = 46;
constexpr size_t kLocalSize = 30;

[[noreturn]] void bad(const std::string& what) {
    damaged("zip: " + what);
}

// The last end-of-central-directory record: its comment may hold anything,
// so the search runs backwards over the 64 KiB a comment can take.
size_t findEocd(std::span<const uint8_t> b) {
    if (b.size() < kEocdSize) {
        bad("the file is too short to hold a zip directory (" + std::to_string(b.size()) +
            " bytes)");
    }
    const size_t lowest = b.size() > kEocdSize + 0xFFFF ? b.size() - kEocdSize - 0xFFFF : 0;
    for (size_t at = b.size() - kEocdSize + 1; at-- > lowest;) {
        if (le32(b.data() + at) == kEocdSig) {
            return at;
        }
    }
    bad("no end of central directory record: the file is cut short or not a zip file");
}

// The zip64 extra field (id 1) replaces, in order, each of the fields that
// the fixed header set to all ones.
void applyZip64(std::span<const uint8_t> extra, ZipEntry& e, bool usize, bool csize, bool offset) {
    size_t pos = 0;
    while (pos + 4 <= extra.size()) {
        const uint16_t id = le16(extra.data() + pos);
        const size_t len = le16(extra.data() + pos + 2);
        pos += 4;
        if (pos + len > extra.size()) {
            return;
        }
        if (id == 1) {
            size_t at = pos;
            auto next = [&](uint64_t& field) {
                if (at + 8 <= pos + len) {
                    field = le64(extra.data() + at);
                    at += 8;
                }
            };
            if (usize) {
                next(e.declaredSize);
            }
            if (csize) {
                next(e.compressedSize);
            }
            if (offset) {
                next(e.headerOffset);
            }
            return;
        }
        pos += len;
    }
}

// A part name as the package uses it: '/' separators (some writers store
// '\'), no leading '/'.
std::string partName(std::span<const uint8_t> raw) {
    std::string name(raw.begin(), raw.end());
    std::replace(name.begin(), name.end(), '\\', '/');
    const size_t first = name.find_first_not_of('/');
    return first == std::string::npos ? std::string() : name.substr(first);
}

}  // namespace

std::string foldName(std::string_view name) {
    std::string folded(name);
    for (char& c : folded) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c + ('a' - 'A'));
        }
    }
    return folded;
}

ZipArchive::ZipArchive(std::span<const uint8_t> bytes, InflateBudget budget)
    : m_bytes(bytes), m_budget(budget) {
    const size_t eocd = findEocd(bytes);
    const uint8_t* e = bytes.data() + eocd;
    uint64_t count = le16(e + 10);
    uint64_t size = le32(e + 12);
    uint64_t offset = le32(e + 16);
    // A zip64 file says so by a locator just before the record.
    if (eocd >= 20 && le32(bytes.data() + eocd - 20) == kZip64LocatorSig) {
        const uint64_t at = le64(bytes.data() + eocd - 20 + 8);
        if (at > bytes.size() || bytes.size() - at < 56 ||
            le32(bytes.data() + at) != kZip64EocdSig) {
            bad("the zip64 end of central directory record at " + hex(at) + " is missing");
        }
        count = le64(bytes.data() + at + 32);
        size = le64(bytes.data() + at + 40);
        offset = le64(bytes.data() + at + 48);
    }
    // Bytes prepended to the zip file shift every offset by their length.
    if ((offset > eocd || le32(bytes.data() + offset) != kCentralSig) && size <= eocd &&
        eocd - size + 4 <= bytes.size() && le32(bytes.data() + eocd - size) == kCentralSig) {
        offset = eocd - size;
    }
    if (offset > bytes.size() || size > bytes.size() - offset) {
        bad("the central directory (" + std::to_string(size) + " bytes at " + hex(offset) +
            ") lies outside the file of " + std::to_string(bytes.size()) + " bytes");
    }
    readDirectory(offset, size, count);
    checkEntries();
}

void ZipArchive::readDirectory(uint64_t offset, uint64_t size, uint64_t count) {
    const auto dir = m_bytes.subspan(static_cast<size_t>(offset), static_cast<size_t>(size));
    // The count is a hint: no more headers than the directory's bytes hold.
    m_entries.reserve(static_cast<size_t>(std::min<uint64_t>(count, size / kCentralSize)));
    size_t pos = 0;
    while (pos + kCentralSize <= dir.size() && le32(dir.data() + pos) == kCentralSig) {
        const uint8_t* h = dir.data() + pos;
        const size_t nameLen = le16(h + 28), extraLen = le16(h + 30), commentLen = le16(h + 32);
        if (pos + kCentralSize + nameLen + extraLen + commentLen > dir.size()) {
            bad("the central directory header at " + hex(offset + pos) + " is cut short");
        }
        const uint16_t flags = le16(h + 8);
        ZipEntry e;
        e.name = partName(dir.subspan(pos + kCentralSize, nameLen));
        e.method = le16(h + 10);
        e.crc = le32(h + 16);
        e.compressedSize = le32(h + 20);
        e.declaredSize = le32(h + 24);
        e.headerOffset = le32(h + 42);
        constexpr uint32_t kAll = 0xFFFFFFFF;
        applyZip64(dir.subspan(pos + kCentralSize + nameLen, extraLen), e, e.declaredSize == kAll,
                   e.compressedSize == kAll, e.headerOffset == kAll);
        pos += kCentralSize + nameLen + extraLen + commentLen;
        if (e.name.empty() || e.name.back() == '/') {
            continue;  // a folder
        }
        if (flags & 1U) {
            bad("the member \"" + e.name + "\" is encrypted");
        }
        m_entries.push_back(std::move(e));
    }
    if (m_entries.empty()) {
        bad("the central directory lists no members");
    }
}

// Each member's data must lie in the file, after its local header, and no
// two members may share bytes (the overlapping-members zip bomb), nor two
// members one name.
void ZipArchive::checkEntries() {
    for (ZipEntry& e : m_entries) {
        const uint64_t at = e.headerOffset;
        if (at > m_bytes.size() || m_bytes.size() - at < kLocalSize ||
            le32(m_bytes.data() + at) != kLocalSig) {
            bad("the local header of \"" + e.name + "\" is missing at " + hex(at));
        }
        e.dataOffset =
            at + kLocalSize + le16(m_bytes.data() + at + 26) + le16(m_bytes.data() + at + 28);
        if (e.dataOffset > m_bytes.size() || e.compressedSize > m_bytes.size() - e.dataOffset) {
            bad("the data of \"" + e.name + "\" (" + std::to_string(e.compressedSize) +
                " bytes at " + hex(e.dataOffset) + ") runs past the end of the file");
        }
        if (e.method != 0 && e.method != 8) {
            bad("the member \"" + e.name + "\" uses compression method " +
                std::to_string(e.method) + " (only stored and deflated members are read)");
        }
    }
    std::vector<const ZipEntry*> byOffset;
    byOffset.reserve(m_entries.size());
    for (const ZipEntry& e : m_entries) {
        byOffset.push_back(&e);
    }
    std::sort(byOffset.begin(), byOffset.end(), [](const ZipEntry* a, const ZipEntry* b) {
        return a->headerOffset < b->headerOffset;
    });
    for (size_t i = 1; i < byOffset.size(); ++i) {
        const ZipEntry& prev = *byOffset[i - 1];
        if (prev.dataOffset + prev.compressedSize > byOffset[i]->headerOffset) {
            bad("the members \"" + prev.name + "\" and \"" + byOffset[i]->name +
                "\" overlap in the file");
        }
    }
    m_byName.resize(m_entries.size());
    for (size_t i = 0; i < m_byName.size(); ++i) {
        m_byName[i] = i;
    }
    std::vector<std::string>& folded = m_folded;
    folded.reserve(m_entries.size());
    for (const ZipEntry& e : m_entries) {
        folded.push_back(foldName(e.name));
    }
    std::sort(m_byName.begin(), m_byName.end(),
              [&](size_t a, size_t b) { return folded[a] < folded[b]; });
    for (size_t i = 1; i < m_byName.size(); ++i) {
        if (folded[m_byName[i - 1]] == folded[m_byName[i]]) {
            bad("two members are named \"" + m_entries[m_byName[i]].name + "\"");
        }
    }
}

const ZipEntry* ZipArchive::find(std::string_view name) const {
    const std::string key = foldName(name);
    size_t lo = 0, hi = m_byName.size();
    while (lo < hi) {
        const size_t mid = (lo + hi) / 2;
        const std::string& folded = m_folded[m_byName[mid]];
        if (folded == key) {
            return &m_entries[m_byName[mid]];
        }
        if (folded < key) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    return nullptr;
}

void ZipArchive::chargeInflated(uint64_t n, const ZipEntry& entry) const {
    const uint64_t total = m_inflated.fetch_add(n) + n;
    const uint64_t limit = m_budget.packageFloor + m_budget.ratio * m_bytes.size();
    if (total > limit) {
        bad("the package inflates to more than " + std::to_string(limit) +
            " bytes from a file of " + std::to_string(m_bytes.size()) + " (reading \"" +
            entry.name + "\"): it is a zip bomb or damaged");
    }
}

ZipReader::ZipReader(const ZipArchive& zip, const ZipEntry& entry)
    : m_zip(zip),
      m_entry(entry),
      m_in(zip.bytes().subspan(static_cast<size_t>(entry.dataOffset),
                               static_cast<size_t>(entry.compressedSize))) {
    const InflateBudget& b = zip.budget();
    m_limit = std::max(b.partFloor, b.ratio * entry.compressedSize);
    if (entry.method == 8) {
        if (inflateInit2(&m_z, -MAX_WBITS) != Z_OK) {
            throw std::bad_alloc();
        }
        m_zInit = true;
        m_z.next_in = const_cast<Bytef*>(m_in.data());  // NOLINT: zlib's input is not const
        m_z.avail_in = 0;
    }
}

ZipReader::~ZipReader() {
    if (m_zInit) {
        inflateEnd(&m_z);
    }
}

size_t ZipReader::read(uint8_t* out, size_t size) {
    if (m_done || size == 0) {
        return 0;
    }
    size_t n = 0;
    if (m_entry.method == 0) {
        n = static_cast<size_t>(std::min<uint64_t>(size, m_in.size() - m_produced));
        std::copy_n(m_in.data() + m_produced, n, out);
        if (m_produced + n == m_in.size()) {
            m_done = true;
        }
    } else {
        n = inflateSome(out, size);
    }
    m_produced += n;
    if (m_produced > m_limit) {
        bad("the member \"" + m_entry.name + "\" inflates to more than " + std::to_string(m_limit) +
            " bytes from " + std::to_string(m_entry.compressedSize) +
            ": it is a zip bomb or damaged");
    }
    m_zip.chargeInflated(n, m_entry);
    m_crc = static_cast<uint32_t>(crc32_z(m_crc, out, n));
    if (m_done) {
        finish();
    }
    return n;
}

// Inflates until some bytes come out or the member ends: a call of zlib may
// consume input (a block header) without producing any.
size_t ZipReader::inflateSome(uint8_t* out, size_t size) {
    // zlib counts in 32 bits: feed and drain at most 1 GiB a call.
    constexpr size_t kStep = size_t{1} << 30U;
    for (;;) {
        const auto consumed = static_cast<size_t>(m_z.next_in - m_in.data());
        m_z.avail_in = static_cast<uInt>(std::min(m_in.size() - consumed, kStep));
        m_z.next_out = out;
        m_z.avail_out = static_cast<uInt>(std::min(size, kStep));
        const int rc = inflate(&m_z, Z_NO_FLUSH);
        const size_t n = std::min(size, kStep) - m_z.avail_out;
        if (rc == Z_STREAM_END) {
            m_done = true;
            return n;
        }
        if (rc != Z_OK && rc != Z_BUF_ERROR) {
            bad("the member \"" + m_entry.name + "\" is damaged (" +
                (m_z.msg != nullptr ? std::string(m_z.msg)
                                    : "inflate error " + std::to_string(rc)) +
                ")");
        }
        if (n > 0) {
            return n;
        }
        if (m_z.avail_in == 0) {
            bad("the member \"" + m_entry.name + "\" is cut short");
        }
    }
}

void ZipReader::finish() {
    if (m_crc != m_entry.crc) {
        bad("the member \"" + m_entry.name + "\" fails its CRC check (stored " + hex(m_entry.crc) +
            ", computed " + hex(m_crc) + ")");
    }
}

std::string readWhole(const ZipArchive& zip, const ZipEntry& entry) {
    ZipReader reader(zip, entry);
    std::string out;
    constexpr size_t kChunk = size_t{64} * 1024;
    for (;;) {
        const size_t have = out.size();
        out.resize(have + kChunk);
        const size_t n = reader.read(reinterpret_cast<uint8_t*>(out.data() + have), kChunk);
        out.resize(have + n);
        if (n == 0) {
            return out;
        }
    }
}

}  // namespace xlsx
