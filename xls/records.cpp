// The BIFF record iterator and piece reader (see records.h).
#include "xls/records.h"

namespace xls::detail {

void RecordCursor::headerCutOff() const {
    damaged("records: record header at offset " + hex(m_pos) +
            " is cut off by the end of the stream");
}

void RecordCursor::bodyCutOff(uint16_t type) const {
    damaged("records: record " + hex(type) + " at offset " + hex(m_pos) +
            " is longer than its stream");
}

uint16_t RecordCursor::peekType() {
    if (m_pos >= m_size || m_size - m_pos < 4) {
        return 0;
    }
    return le16(bytes(m_pos, 2));
}

void gatherContinues(RecordCursor& cursor, const Record& first, Pieces& out) {
    out.clear();
    out.push_back(first.data);
    Record r;
    while (cursor.peekType() == rec::kContinue && cursor.next(r)) {
        out.push_back(r.data);
    }
}

Pieces gatherContinues(RecordCursor& cursor, const Record& first) {
    Pieces pieces;
    gatherContinues(cursor, first, pieces);
    return pieces;
}

bool PieceReader::nextPiece() {
    while (m_index < m_pieces.size() && m_off >= m_pieces[m_index].size()) {
        ++m_index;
        m_off = 0;
    }
    return m_index < m_pieces.size();
}

bool PieceReader::atEnd() {
    return !nextPiece();
}

bool PieceReader::u8(uint8_t& v) {
    if (!nextPiece()) {
        return false;
    }
    v = m_pieces[m_index][m_off++];
    return true;
}

bool PieceReader::u16(uint16_t& v) {
    uint8_t a = 0, b = 0;
    if (!u8(a) || !u8(b)) {
        return false;
    }
    v = static_cast<uint16_t>(a | (b << 8));
    return true;
}

bool PieceReader::u32(uint32_t& v) {
    uint16_t a = 0, b = 0;
    if (!u16(a) || !u16(b)) {
        return false;
    }
    v = static_cast<uint32_t>(a) | (static_cast<uint32_t>(b) << 16);
    return true;
}

bool PieceReader::skip(size_t n) {
    while (n > 0) {
        if (!nextPiece()) {
            return false;
        }
        const size_t take = std::min(n, m_pieces[m_index].size() - m_off);
        m_off += take;
        n -= take;
    }
    return true;
}

void appendChars(const uint8_t* p, size_t count, bool high, std::u16string& out) {
    const size_t base = out.size();
    out.resize(base + count);
    char16_t* dst = out.data() + base;
    if (high) {
        for (size_t i = 0; i < count; ++i) {
            dst[i] = static_cast<char16_t>(p[2 * i] | (p[2 * i + 1] << 8));
        }
    } else {
        for (size_t i = 0; i < count; ++i) {
            dst[i] = p[i];
        }
    }
}

bool PieceReader::chars(uint32_t count, bool high, std::u16string& out, Boundary boundary) {
    while (count > 0) {
        if (m_index >= m_pieces.size()) {
            return false;
        }
        if (m_off >= m_pieces[m_index].size()) {
            if (m_index + 1 >= m_pieces.size()) {
                return false;  // the option byte or the characters are missing
            }
            ++m_index;
            m_off = 0;
            const Bytes piece = m_pieces[m_index];
            if (piece.empty()) {
                continue;
            }
            // A boundary inside the characters: a new option byte, unless a
            // writer left it out (its piece then holds exactly the rest).
            const uint8_t flag = piece[0];
            const bool flagPresent = boundary == Boundary::Flag ||
                                     ((flag == 0 || flag == 1) &&
                                      piece.size() != static_cast<size_t>(count) * (high ? 2 : 1));
            if (flagPresent) {
                high = (flag & 1) != 0;
                ++m_off;
            }
        }
        const Bytes piece = m_pieces[m_index];
        const size_t width = high ? 2 : 1;
        const size_t avail = (piece.size() - m_off) / width;
        const size_t take = std::min<size_t>(count, avail);
        if (take == 0) {
            // half a UTF-16 unit left in this piece: the record is malformed
            m_off = piece.size();
            if (m_index + 1 >= m_pieces.size()) {
                return false;
            }
            continue;
        }
        appendChars(piece.data() + m_off, take, high, out);
        m_off += take * width;
        count -= static_cast<uint32_t>(take);
    }
    return true;
}

}  // namespace xls::detail
