// The workbook globals sub-stream: BOF, sheet list, code page, date system,
// shared strings, number formats, XF records and defined names. Shaped like
// the sheet parser: run() walks the sub-stream, dispatch() hands each record
// to one small handler for its type, which checks the record's length.
//
// An Excel 2.x-4.0 worksheet file is one worksheet sub-stream that also
// carries what later versions keep in the globals (code page, date system,
// formats): it is read here as the globals of a workbook of one sheet. An
// Excel 4.0 workbook (BIFF4W) has globals whose SHEETHDR records each
// precede one sheet's sub-stream, nested before the globals' EOF.
#include <algorithm>

#include "xls/crypto.h"
#include "xls/data.h"
#include "xls/formats.h"
#include "xls/strings.h"

namespace xls::detail {
namespace {

void decrypt(Workbook::Data& book, const Record& filePass);

// The BIFF version from the BOF record's number, and for BIFF5 and later
// from its version field.
int biffVersion(const Record& r) {
    if (r.data.size() < 4) {
        damaged("records: BOF record at offset " + hex(r.offset) + " is too short");
    }
    if (r.type != rec::kBof) {
        return r.type == rec::kBof2 ? 2 : r.type == rec::kBof3 ? 3 : 4;
    }
    const uint16_t version = le16(r.data.data());
    if (version == 0x0500) {
        return 5;
    }
    if (version == 0x0600) {
        return 8;
    }
    // Other writers put other numbers here; BIFF8's BOF is 16 bytes long,
    // BIFF5's 8.
    return r.data.size() >= 16 ? 8 : 5;
}

// A BIFF2-4 BOF's second field: what the sub-stream holds.
constexpr uint16_t kBofWorkbook = 0x0100;
uint16_t bofType(const Record& bof) {
    return bof.data.size() >= 4 ? le16(bof.data.data() + 2) : 0;
}
SheetType sheetType(const Record& bof) {
    switch (bofType(bof)) {
        case 0x0020:
            return SheetType::Chart;
        case 0x0040:
            return SheetType::Macro;
        default:
            return SheetType::Worksheet;
    }
}

struct PendingName {
    std::u16string name;
    uint16_t itab = 0;  // 1-based sheet of a local name, 0 for a global one
    // A copy: a FILEPASS later in the globals replaces the stream's bytes
    // with their decrypted copy, and names are resolved only at the end.
    std::vector<uint8_t> formula;
};

class GlobalsParser {
public:
    // `bof`: the stream's first BOF, which gave the BIFF version.
    GlobalsParser(Workbook::Data& book, const Record& bof)
        : m_book(book), m_bof(bof), m_formats(book.biff) {}
    // Reads the globals from just after the BOF up to their EOF.
    void run(RecordCursor& cursor);

private:
    struct Xti {
        uint16_t supBook, first, last;
    };

    const CodePage& cp() {
        if (!m_codePage) {
            m_codePage = std::make_unique<CodePage>(m_book.codePage);
        }
        return *m_codePage;
    }
    [[noreturn]] static void tooShort(const Record& r, const char* what) {
        damaged(std::string("records: ") + what + " record at offset " + hex(r.offset) +
                " is too short");
    }

    void dispatch(RecordCursor& cursor, const Record& r);
    void onBoundSheet(const Record& r);
    void onSheetHeader(const Record& r, size_t next);
    void onCodePage(const Record& r);
    void onCountry(const Record& r);
    void onFont(const Record& r);
    void onDateMode(const Record& r);
    void onFilePass(RecordCursor& cursor, const Record& r);
    void onSst(RecordCursor& cursor, const Record& r);
    void onName(const Record& r);
    void onExternSheet(const Record& r);
    void onSupBook(const Record& r);
    [[nodiscard]] uint16_t country() const;
    void finish();
    bool resolveName(const PendingName& p, DefinedName& out) const;

    Workbook::Data& m_book;
    Record m_bof;
    FormatTable m_formats;
    std::vector<PendingName> m_names;
    std::vector<bool> m_supBookIsSelf;
    std::vector<Xti> m_externSheets;
    std::unique_ptr<CodePage> m_codePage;
    bool m_codePageRecord = false;  // a CODEPAGE record named the code page
    uint16_t m_countryRecord[2] = {0, 0};
};

// [MS-XLS] 2.4.28 BoundSheet8: stream offset of the sheet's BOF, hidden
// state, sheet type, name.
void GlobalsParser::onBoundSheet(const Record& r) {
    if (m_book.biff < 5) {
        return;  // BIFF4W lists names only; its SHEETHDR records place the sheets
    }
    if (r.data.size() < 7) {
        tooShort(r, "BOUNDSHEET");
    }
    SheetInfo info;
    info.hidden = (r.data[4] & 0x03) != 0;
    switch (r.data[5]) {
        case 0:
            info.type = SheetType::Worksheet;
            break;
        case 1:
            info.type = SheetType::Macro;
            break;
        case 2:
            info.type = SheetType::Chart;
            break;
        default:
            info.type = SheetType::Other;
            break;
    }
    if (m_book.biff == 8) {
        const Pieces pieces{r.data.subspan(6)};
        PieceReader reader(pieces);
        readUnicodeString(reader, 1, PieceReader::Boundary::Flag, info.name);
    } else {
        readByteString(r.data, 6, 1, cp(), info.name);
    }
    m_book.sheets.push_back(std::move(info));
    m_book.sheetOffsets.push_back(le32(r.data.data()));
}

// BIFF4W: the sheet sub-stream's length, the sheet's name; the sheet's BOF
// follows at `next`.
void GlobalsParser::onSheetHeader(const Record& r, size_t next) {
    if (m_book.biff != 4 || r.data.size() < 5) {
        return;
    }
    SheetInfo info;
    readByteString(r.data, 4, 1, cp(), info.name);
    m_book.sheets.push_back(std::move(info));
    m_book.sheetOffsets.push_back(static_cast<uint32_t>(next));
}

// [MS-XLS] 2.4.52 CodePage: the code page of byte strings (1200: Unicode).
void GlobalsParser::onCodePage(const Record& r) {
    if (r.data.size() >= 2) {
        m_book.codePage = le16(r.data.data());
        m_codePageRecord = true;
        m_codePage.reset();
    }
}

// [MS-XLS] 2.4.122 Font. Excel 5/95 without a CODEPAGE record: the first font that declares a
// character set other than ANSI gives the code page of the 8-bit text.
void GlobalsParser::onFont(const Record& r) {
    if (m_book.biff != 5 || m_codePageRecord || r.data.size() < 13 || m_book.codePage != 1252) {
        return;
    }
    if (const uint16_t fromFont = codePageFromCharset(r.data[12])) {
        m_book.codePage = fromFont;
        m_codePage.reset();
    }
}

// [MS-XLS] 2.4.265 SST, continued by 2.4.58 Continue: the shared strings,
// each a 2.5.293 XLUnicodeRichExtendedString.
void GlobalsParser::onSst(RecordCursor& cursor, const Record& r) {
    const Pieces pieces = gatherContinues(cursor, r);
    auto table = std::make_shared<StringTable>();
    PieceReader reader(pieces);
    uint32_t total = 0, unique = 0;
    if (!reader.u32(total) || !reader.u32(unique)) {
        tooShort(r, "SST");
    }
    // The declared count may disagree with the strings present (writers get
    // it wrong both ways): the strings present decide, and the count only
    // sizes the table up to what the bytes could hold.
    size_t bytes = 0;
    for (const Bytes& p : pieces) {
        bytes += p.size();
    }
    // A string takes at least three bytes (count and option byte) and each
    // character at least one: both reservations are bounded by the bytes.
    table->ends.reserve(std::min<size_t>(unique, bytes / 3));
    table->chars.reserve(bytes);
    while (!reader.atEnd()) {
        const bool whole = readUnicodeString(reader, 2, PieceReader::Boundary::Flag, table->chars);
        table->close();
        if (!whole) {
            break;
        }
    }
    m_book.sst = std::move(table);
}

// [MS-XLS] 2.4.150 Lbl: a defined name and its formula (kept for
// resolveName once the sheets are known).
void GlobalsParser::onName(const Record& r) {
    const Bytes d = r.data;
    if (m_book.biff < 5 || d.size() < 14) {
        return;  // not a range; nothing to list
    }
    const uint16_t flags = le16(d.data());
    const uint8_t cch = d[3];
    const uint16_t cce = le16(d.data() + 4);
    if (flags & 0x0021) {
        return;  // hidden or built-in (Print_Area, filter ranges ...)
    }
    PendingName p;
    p.itab = le16(d.data() + 8);
    size_t pos = 14;
    if (m_book.biff == 8) {
        if (d.size() < pos + 1) {
            return;
        }
        const bool high = d[pos] & 1;
        ++pos;
        const size_t n = static_cast<size_t>(cch) * (high ? 2 : 1);
        if (d.size() < pos + n) {
            return;
        }
        appendChars(d.data() + pos, cch, high, p.name);
        pos += n;
    } else {
        if (d.size() < pos + cch) {
            return;
        }
        cp().append(d.subspan(pos, cch), p.name);
        pos += cch;
    }
    if (d.size() < pos + cce) {
        return;
    }
    const Bytes formula = d.subspan(pos, cce);
    p.formula.assign(formula.begin(), formula.end());
    m_names.push_back(std::move(p));
}

// [MS-XLS] 2.4.106 ExternSheet: the XTI array that 3-D references index.
void GlobalsParser::onExternSheet(const Record& r) {
    if (m_book.biff != 8 || r.data.size() < 2) {
        return;
    }
    const size_t n = std::min<size_t>(le16(r.data.data()), (r.data.size() - 2) / 6);
    for (size_t i = 0; i < n; ++i) {
        const uint8_t* p = r.data.data() + 2 + 6 * i;
        m_externSheets.push_back({le16(p), le16(p + 2), le16(p + 4)});
    }
}

// A name lists as a table when its formula is one reference to a
// rectangle of one worksheet of this workbook.
bool GlobalsParser::resolveName(const PendingName& p, DefinedName& out) const {
    const Bytes f(p.formula);
    if (f.empty()) {
        return false;
    }
    const uint8_t ptg = f[0] & 0x1F;  // the token without its class bits
    long sheet = -1;
    size_t at = 0;  // offset of the row/column fields
    bool area = false;
    if (m_book.biff == 8 && (ptg == 0x1B || ptg == 0x1A)) {  // ptgArea3d, ptgRef3d
        area = ptg == 0x1B;
        if (f.size() != (area ? 11U : 7U)) {
            return false;
        }
        const uint16_t ixti = le16(f.data() + 1);
        if (ixti >= m_externSheets.size()) {
            return false;
        }
        const Xti& x = m_externSheets[ixti];
        if (x.first != x.last || x.supBook >= m_supBookIsSelf.size() ||
            !m_supBookIsSelf[x.supBook]) {
            return false;
        }
        sheet = x.first;
        at = 3;
    } else if (m_book.biff == 5 && (ptg == 0x1B || ptg == 0x1A)) {
        area = ptg == 0x1B;
        if (f.size() != (area ? 21U : 18U) || static_cast<int16_t>(le16(f.data() + 1)) >= 0) {
            return false;  // an external reference
        }
        if (le16(f.data() + 11) != le16(f.data() + 13)) {
            return false;
        }
        sheet = le16(f.data() + 11);
        at = 15;
    } else {
        return false;
    }
    if (sheet < 0 || static_cast<size_t>(sheet) >= m_book.sheets.size() ||
        m_book.sheets[static_cast<size_t>(sheet)].type != SheetType::Worksheet) {
        return false;
    }
    const uint8_t* q = f.data() + at;
    if (m_book.biff == 8) {
        out.range.firstRow = le16(q);
        out.range.lastRow = area ? le16(q + 2) : le16(q);
        out.range.firstCol = le16(q + (area ? 4 : 2)) & 0x3FFF;
        out.range.lastCol = area ? (le16(q + 6) & 0x3FFF) : out.range.firstCol;
    } else {
        out.range.firstRow = le16(q) & 0x3FFF;
        out.range.lastRow = area ? (le16(q + 2) & 0x3FFF) : out.range.firstRow;
        out.range.firstCol = q[area ? 4 : 2];
        out.range.lastCol = area ? q[5] : out.range.firstCol;
    }
    if (out.range.firstRow > out.range.lastRow || out.range.firstCol > out.range.lastCol) {
        return false;
    }
    out.name = p.name;
    out.sheet = static_cast<uint32_t>(sheet);
    out.scope = p.itab;
    return true;
}

// [MS-XLS] 2.4.63 Country: the writer's and the system's country codes.
void GlobalsParser::onCountry(const Record& r) {
    if (r.data.size() >= 4) {
        m_countryRecord[0] = le16(r.data.data());
        m_countryRecord[1] = le16(r.data.data() + 2);
    }
}

// [MS-XLS] 2.4.77 Date1904: the 1904 date system when 1.
void GlobalsParser::onDateMode(const Record& r) {
    m_book.date1904 = r.data.size() >= 2 && le16(r.data.data()) == 1;
}

// [MS-XLS] 2.4.117 FilePass. The rest of the stream is read from its decrypted copy, from where the
// cursor stands.
void GlobalsParser::onFilePass(RecordCursor& cursor, const Record& r) {
    if (m_book.biff <= 4) {
        throw Error(ErrorKind::Encrypted, "records: an Excel 2.x-4.0 file protected by a password");
    }
    decrypt(m_book, r);
    cursor = RecordCursor(m_book.stream, cursor.position());
}

// [MS-XLS] 2.4.271 SupBook. A SUPBOOK that stands for this workbook itself (its "self-reference"
// form) lets EXTERNSHEET entries point at the workbook's own sheets.
void GlobalsParser::onSupBook(const Record& r) {
    m_supBookIsSelf.push_back(r.data.size() == 4 && r.data[2] == 0x01 && r.data[3] == 0x04);
}

void GlobalsParser::dispatch(RecordCursor& cursor, const Record& r) {
    switch (r.type) {
        case rec::kBoundSheet:
            onBoundSheet(r);
            break;
        case rec::kSheetHdr:
            onSheetHeader(r, cursor.position());
            break;
        case rec::kCodePage:
            onCodePage(r);
            break;
        case rec::kCountry:
            onCountry(r);
            break;
        case rec::kFont:
            onFont(r);
            break;
        case rec::kDateMode:
            onDateMode(r);
            break;
        case rec::kFilePass:
            onFilePass(cursor, r);
            break;
        case rec::kSst:
            onSst(cursor, r);
            break;
        case rec::kFormat:
        case rec::kFormat2:
            m_formats.onFormat(r, cp());
            break;
        case rec::kXf:
        case rec::kXf2:
        case rec::kXf3:
        case rec::kXf4:
            m_formats.onXf(r);
            break;
        case rec::kName:
            onName(r);
            break;
        case rec::kExternSheet:
            onExternSheet(r);
            break;
        case rec::kSupBook:
            onSupBook(r);
            break;
        default:
            break;
    }
}

void GlobalsParser::run(RecordCursor& cursor) {
    const bool workbook4 = m_book.biff == 4 && bofType(m_bof) == kBofWorkbook;
    if (m_book.biff <= 4 && !workbook4) {
        // A worksheet file: its one sheet, named after the file by the caller.
        m_book.sheets.push_back({m_book.worksheetFileName, sheetType(m_bof), false});
        m_book.sheetOffsets.push_back(m_bof.offset);
    }
    // BIFF4W nests each sheet's sub-stream (BOF..EOF) inside the globals.
    int depth = 0;
    Record r;
    while (true) {
        if (!cursor.next(r)) {
            damaged("records: the workbook globals end at offset " + hex(cursor.position()) +
                    " without an EOF record (the stream is cut short)");
        }
        if (workbook4 && isBof(r.type)) {
            if (depth == 0 && !m_book.sheetOffsets.empty() &&
                m_book.sheetOffsets.back() == r.offset) {
                m_book.sheets.back().type = sheetType(r);
            }
            ++depth;
        } else if (r.type == rec::kEof) {
            if (depth == 0) {
                break;
            }
            --depth;
        } else if (depth == 0) {
            dispatch(cursor, r);
        }
    }
    finish();
}

// The country of the Excel that wrote the file: the COUNTRY record's
// first field (the Excel version's), else its second (the system's), when
// either is one whose built-in formats differ; else the code page's.
uint16_t GlobalsParser::country() const {
    for (const uint16_t c : m_countryRecord) {
        if (c == 81 || c == 82 || c == 86 || c == 886 || c == 66) {
            return c;
        }
    }
    return countryFromCodePage(m_book.codePage);
}

void GlobalsParser::finish() {
    m_book.country = country();
    m_book.xfKinds = m_formats.xfKinds(m_book.country);
    m_book.xfFormats.assign(m_formats.xfFormats().begin(), m_formats.xfFormats().end());
    m_book.formatCodes.insert(m_formats.codes().begin(), m_formats.codes().end());
    for (const PendingName& p : m_names) {
        DefinedName n;
        if (resolveName(p, n)) {
            m_book.names.push_back(std::move(n));
        }
    }
    if (!m_book.sst) {
        m_book.sst = std::make_shared<StringTable>();
    }
}

// Decryption works on a copy the reader owns; the file's bytes are no
// longer needed after it.
void decrypt(Workbook::Data& book, const Record& filePass) {
    std::vector<uint8_t> clear = book.stream.copy();
    decryptStream(clear, filePass, book.biff);
    book.stream = StreamBytes(std::move(clear));
}

// The sorted sheet offsets; and, only when a BOUNDSHEET offset misses a
// BOF, one walk of the stream for the sub-streams after the globals.
void locateSheets(Workbook::Data& book) {
    book.sortedOffsets = book.sheetOffsets;
    std::sort(book.sortedOffsets.begin(), book.sortedOffsets.end());
    const bool allFound =
        std::all_of(book.sheetOffsets.begin(), book.sheetOffsets.end(), [&](uint32_t off) {
            return size_t{off} + 4 <= book.stream.size() && isBof(book.stream.u16At(off));
        });
    if (allFound) {
        return;
    }
    RecordCursor cursor(book.stream);
    Record r;
    bool globals = true;
    int depth = 0;
    try {
        while (book.substreamOffsets.size() < book.sheets.size() && cursor.next(r)) {
            if (isBof(r.type)) {
                if (depth == 0 && !globals) {
                    book.substreamOffsets.push_back(r.offset);
                }
                ++depth;
            } else if (r.type == rec::kEof && depth > 0) {
                globals = globals && depth != 1;
                --depth;
            }
        }
    } catch (const Error&) {
        // a stream cut short: the sheets found so far stand; the others are
        // refused when read
    }
}

}  // namespace

std::shared_ptr<const Workbook::Data> parseGlobals(std::vector<uint8_t> stream) {
    auto book = std::make_shared<Workbook::Data>();
    book->stream = StreamBytes(std::move(stream));
    return parseGlobals(std::move(book));
}

std::shared_ptr<const Workbook::Data> parseGlobals(std::shared_ptr<Workbook::Data> book) {
    RecordCursor cursor(book->stream);
    Record bof;
    // The stream begins with a BOF; tolerate junk records before it.
    while (true) {
        if (!cursor.next(bof)) {
            damaged("records: the workbook stream has no BOF record");
        }
        if (isBof(bof.type)) {
            break;
        }
    }
    book->biff = biffVersion(bof);
    book->codePage = book->biff == 8 ? 1200 : 1252;
    GlobalsParser(*book, bof).run(cursor);
    locateSheets(*book);
    return book;
}

}  // namespace xls::detail
