// String forms of BIFF records (see strings.h).
#include "xls/strings.h"

#include <algorithm>

namespace xls::detail {

namespace {

struct StringHeader {
    uint16_t cch = 0;
    uint8_t flags = 0;
    uint16_t runs = 0;
    uint32_t phonetic = 0;
};

// The usual case, read in place: the whole header (at most the count, the
// option byte, the run count and the phonetic size) lies in the current
// piece. False, with nothing read, otherwise.
bool headerInPlace(PieceReader& r, int lenBytes, StringHeader& h) {
    const Bytes b = r.rest();
    const auto fixed = static_cast<size_t>(lenBytes) + 1;
    if (b.size() < fixed + 6) {
        return false;
    }
    h.cch = lenBytes == 1 ? b[0] : le16(b.data());
    h.flags = b[fixed - 1];
    size_t used = fixed;
    if (h.flags & 0x08) {
        h.runs = le16(b.data() + used);
        used += 2;
    }
    if (h.flags & 0x04) {
        h.phonetic = le32(b.data() + used);
        used += 4;
    }
    r.skip(used);
    return true;
}

}  // namespace

bool readUnicodeString(PieceReader& r, int lenBytes, PieceReader::Boundary boundary,
                       std::u16string& out) {
    StringHeader h;
    if (headerInPlace(r, lenBytes, h)) {
        if (!r.chars(h.cch, (h.flags & 0x01) != 0, out, boundary)) {
            return false;
        }
        return r.skip(4 * static_cast<size_t>(h.runs)) && r.skip(h.phonetic);
    }
    // The header crosses into the next piece, or the data ends inside it.
    uint16_t cch = 0;
    uint8_t flags = 0;
    if (lenBytes == 1) {
        uint8_t c = 0;
        if (!r.u8(c)) {
            return false;
        }
        cch = c;
    } else if (!r.u16(cch)) {
        return false;
    }
    if (!r.u8(flags)) {
        return cch == 0;  // an option byte missing at the very end of a record
    }
    uint16_t runs = 0;
    uint32_t phonetic = 0;
    if ((flags & 0x08) && !r.u16(runs)) {
        return false;
    }
    if ((flags & 0x04) && !r.u32(phonetic)) {
        return false;
    }
    if (!r.chars(cch, (flags & 0x01) != 0, out, boundary)) {
        return false;
    }
    return r.skip(4 * static_cast<size_t>(runs)) && r.skip(phonetic);
}

bool readByteString(Bytes data, size_t offset, int lenBytes, const CodePage& cp,
                    std::u16string& out) {
    if (data.size() < offset + static_cast<size_t>(lenBytes)) {
        return false;
    }
    const size_t cch = lenBytes == 1 ? data[offset] : le16(data.data() + offset);
    const size_t start = offset + static_cast<size_t>(lenBytes);
    const size_t avail = std::min(cch, data.size() - start);
    cp.append(data.subspan(start, avail), out);
    return avail == cch;
}

}  // namespace xls::detail
