// The BIFF record stream: an iterator that checks every record length
// against the stream, gathers a record with the CONTINUE records that carry
// the rest of its content, and reads the string forms of BIFF5 and BIFF8.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "xls/bytes.h"
#include "xls/stream_bytes.h"

namespace xls::detail {

// Record types. Sections are those of the published file-format
// documentation, [MS-XLS], for the BIFF8 form of each record; BIFF5 lays
// most of them out alike with byte strings in place of Unicode ones.
namespace rec {
// Sub-stream frame and record continuation.
constexpr uint16_t kBof = 0x0809;       // 2.4.21 BOF
constexpr uint16_t kEof = 0x000A;       // EOF
constexpr uint16_t kContinue = 0x003C;  // 2.4.58 Continue
// Workbook globals.
constexpr uint16_t kBoundSheet = 0x0085;   // 2.4.28 BoundSheet8
constexpr uint16_t kCodePage = 0x0042;     // 2.4.52 CodePage
constexpr uint16_t kCountry = 0x008C;      // 2.4.63 Country
constexpr uint16_t kDateMode = 0x0022;     // 2.4.77 Date1904
constexpr uint16_t kExternSheet = 0x0017;  // 2.4.106 ExternSheet
constexpr uint16_t kFilePass = 0x002F;     // 2.4.117 FilePass
constexpr uint16_t kFont = 0x0031;         // 2.4.122 Font
constexpr uint16_t kFormat = 0x041E;       // 2.4.126 Format
constexpr uint16_t kName = 0x0018;         // 2.4.150 Lbl
constexpr uint16_t kSst = 0x00FC;          // 2.4.265 SST
constexpr uint16_t kSupBook = 0x01AE;      // 2.4.271 SupBook
constexpr uint16_t kXf = 0x00E0;           // 2.4.353 XF
// Worksheet cells and what travels with them.
constexpr uint16_t kArray = 0x0221;      // 2.4.4 Array
constexpr uint16_t kBlank = 0x0201;      // Blank
constexpr uint16_t kBoolErr = 0x0205;    // 2.4.24 BoolErr
constexpr uint16_t kDimension = 0x0200;  // 2.4.90 Dimensions
constexpr uint16_t kFormula = 0x0006;    // 2.4.127 Formula
constexpr uint16_t kLabel = 0x0204;      // 2.4.148 Label
constexpr uint16_t kLabelSst = 0x00FD;   // 2.4.149 LabelSst
constexpr uint16_t kMerged = 0x00E5;     // 2.4.168 MergeCells
constexpr uint16_t kMulBlank = 0x00BE;   // MulBlank
constexpr uint16_t kMulRk = 0x00BD;      // 2.4.175 MulRk
constexpr uint16_t kNumber = 0x0203;     // 2.4.180 Number
constexpr uint16_t kRk = 0x027E;         // 2.4.220 RK
constexpr uint16_t kRString = 0x00D6;    // RSTRING: a Label with formatting runs (BIFF5-8)
constexpr uint16_t kShrFmla = 0x04BC;    // 2.4.260 ShrFmla
constexpr uint16_t kString = 0x0207;     // 2.4.268 String
constexpr uint16_t kTable = 0x0236;      // 2.4.313 Table
// Excel 2.x-4.0, which [MS-XLS] does not cover: their BOF numbers, the cell
// records of BIFF2 (with three bytes of cell attributes in place of an XF
// index), its STRING with a one-byte length, IXFE (the XF index of cells
// whose attributes say 63), the XF and FORMAT forms of BIFF2-4, BIFF2's
// ARRAY, and BIFF4W's SHEETHDR before each sheet's sub-stream.
constexpr uint16_t kBof2 = 0x0009, kBof3 = 0x0209, kBof4 = 0x0409;
constexpr uint16_t kDimension2 = 0x0000, kInteger2 = 0x0002, kNumber2 = 0x0003;
constexpr uint16_t kLabel2 = 0x0004, kBoolErr2 = 0x0005, kString2 = 0x0007, kIxfe = 0x0044;
constexpr uint16_t kFormat2 = 0x001E, kXf2 = 0x0043, kXf3 = 0x0243, kXf4 = 0x0443;
constexpr uint16_t kArray2 = 0x0021, kSheetHdr = 0x008F;
// FORMULA under its BIFF3 and BIFF4 numbers, which some writers still use
// in BIFF8 files; the fields read here are laid out alike.
constexpr uint16_t kFormula3 = 0x0206, kFormula4 = 0x0406;
}  // namespace rec

inline bool isBof(uint16_t type) {
    return type == rec::kBof || type == rec::kBof2 || type == rec::kBof3 || type == rec::kBof4;
}

struct Record {
    uint16_t type = 0;
    uint32_t offset = 0;  // of the record header in the stream
    Bytes data;
};

class RecordCursor {
public:
    explicit RecordCursor(const StreamBytes& stream, size_t pos = 0)
        : m_stream(&stream), m_size(stream.size()), m_pos(pos) {}
    // The next record, false at the end of the stream. Throws Damaged for a
    // header or body that runs past the stream's end. The record's data
    // stays valid as long as the stream.
    bool next(Record& out) {
        if (m_pos >= m_size) {
            return false;
        }
        if (m_size - m_pos < 4) {
            headerCutOff();
        }
        const uint8_t* h = bytes(m_pos, 4);
        const uint16_t len = le16(h + 2);
        if (m_size - m_pos - 4 < len) {
            bodyCutOff(le16(h));
        }
        out.type = le16(h);
        out.offset = static_cast<uint32_t>(m_pos);
        out.data = Bytes(bytes(m_pos, 4 + static_cast<size_t>(len)) + 4, len);
        m_pos += 4 + static_cast<size_t>(len);
        return true;
    }
    // The type of the next record without moving, or 0 at the end.
    [[nodiscard]] uint16_t peekType();
    [[nodiscard]] size_t position() const { return m_pos; }

private:
    // The errors, kept out of line so that next() stays small.
    [[noreturn]] void headerCutOff() const;
    [[noreturn]] void bodyCutOff(uint16_t type) const;
    // Bytes [pos, pos + n) of the stream, from the window last used when
    // it holds them.
    const uint8_t* bytes(size_t pos, size_t n) {
        if (pos < m_window.begin || pos + n > m_window.end) {
            m_window = m_stream->window(pos, n);
        }
        return m_window.data + (pos - m_window.begin);
    }

    const StreamBytes* m_stream;
    size_t m_size;
    size_t m_pos;
    StreamBytes::Window m_window;
};

// A record's body followed by the bodies of the CONTINUE records after it.
using Pieces = std::vector<Bytes>;
Pieces gatherContinues(RecordCursor& cursor, const Record& first);
// The same into `out`, whose capacity is reused from record to record.
void gatherContinues(RecordCursor& cursor, const Record& first, Pieces& out);

// Reads across the pieces as if they were one buffer, except where a string's
// characters cross a boundary: there a new option byte may switch between
// 8-bit and UTF-16 storage.
class PieceReader {
public:
    explicit PieceReader(const Pieces& pieces) : m_pieces(pieces) {}
    bool u8(uint8_t& v);
    bool u16(uint16_t& v);
    bool u32(uint32_t& v);
    bool skip(size_t n);
    [[nodiscard]] bool atEnd();
    // The unread bytes of the current piece; empty at the end.
    [[nodiscard]] Bytes rest() { return nextPiece() ? m_pieces[m_index].subspan(m_off) : Bytes{}; }
    // How the option byte at a boundary inside a string's characters is
    // treated: Excel always writes it; Gnumeric leaves it out in the
    // CONTINUE of a STRING record, so Guess checks the piece's length.
    enum class Boundary { Flag, Guess };
    // Appends count characters; false if the data ended first (what was
    // read is kept).
    bool chars(uint32_t count, bool high, std::u16string& out, Boundary boundary);

private:
    bool nextPiece();
    const Pieces& m_pieces;
    size_t m_index = 0;
    size_t m_off = 0;
};

// Latin-1 compressed or UTF-16LE characters of BIFF8, from one buffer.
void appendChars(const uint8_t* p, size_t count, bool high, std::u16string& out);

}  // namespace xls::detail
