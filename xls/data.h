// The reader's storage behind Workbook and Sheet: the workbook stream (read
// in place from the file's bytes where it can be), the shared-string table (shared by every
// sheet read from it), the per-XF cell kinds, and one sheet's cells as a sorted vector with a row
// index. Private to the reader.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "xls/stream_bytes.h"
#include "xls/workbook.h"

namespace xls {
namespace detail {

// Strings stored end to end in one buffer, found by their end offsets.
struct StringTable {
    std::u16string chars;
    std::vector<uint32_t> ends;

    [[nodiscard]] size_t size() const { return ends.size(); }
    [[nodiscard]] std::u16string_view at(size_t i) const {
        const uint32_t begin = i == 0 ? 0 : ends[i - 1];
        return std::u16string_view(chars).substr(begin, ends[i] - begin);
    }
    void add(std::u16string_view s) {
        chars.append(s);
        close();
    }
    // Ends the string whose characters were appended to `chars` since the
    // previous one ended.
    void close() { ends.push_back(static_cast<uint32_t>(chars.size())); }
};

}  // namespace detail

struct Workbook::Data {
    int biff = 8;
    bool date1904 = false;
    uint16_t codePage = 1252;
    uint16_t country = 0;  // of the Excel that wrote it, where its built-in formats differ
    std::u16string worksheetFileName = u"Sheet1";  // names an Excel 2.x-4.0 worksheet file's sheet
    std::vector<SheetInfo> sheets;
    std::vector<uint32_t> sheetOffsets;  // stream offset of each sheet's BOF
    // Found once at open, so that reading every sheet never costs sheets
    // times the stream: the sheets' offsets in ascending order (where each
    // sheet ends), and where BOUNDSHEET offsets miss a BOF, the offsets of
    // the sub-streams that follow the globals.
    std::vector<uint32_t> sortedOffsets;
    std::vector<uint32_t> substreamOffsets;
    std::vector<DefinedName> names;
    detail::StreamBytes stream;  // the workbook stream, decrypted
    std::shared_ptr<const detail::StringTable> sst;
    std::vector<CellType> xfKinds;                   // Number or a date/time kind, per XF index
    std::vector<uint32_t> xfFormats;                 // the number format's id, per XF index
    std::map<uint32_t, std::u16string> formatCodes;  // the workbook's own formats by id
    // A workbook read by another reader (an Office Open XML package) reads
    // its sheets through this, into the same cells; empty for BIFF.
    std::function<void(size_t index, Sheet::Data& out)> readSheet;
    // Every sheet read so far (or the error it ended with), kept for later
    // readers: each sheet is parsed once per workbook.
    struct ParsedSheets {
        std::mutex lock;
        std::map<size_t, std::shared_ptr<const Sheet::Data>> sheets;
        std::map<size_t, std::string> failures;
    };
    std::unique_ptr<ParsedSheets> parsed = std::make_unique<ParsedSheets>();
};

struct Sheet::Data {
    struct Row {
        uint32_t row;
        uint32_t begin;  // index of the row's first cell
    };
    bool date1904 = false;
    std::shared_ptr<const detail::StringTable> sst;
    detail::StringTable local;  // LABEL, RSTRING and formula string results
    std::vector<Cell> cells;    // by row, then column
    std::vector<Row> rows;      // rows that hold cells, ascending; then an end marker
    std::optional<Range> used;
    std::vector<Range> merged;
    // The number formats of the sheet's numbers, by Cell::code: General
    // first (cells a reader gives none), at most 255 more; a sheet with more
    // shows the rest as General.
    std::vector<NumberFormat> formats{NumberFormat{}};
};

namespace detail {
// Parses the workbook globals of the BIFF5/8 stream that book.stream views
// (globals.cpp); may replace the stream by a decrypted copy.
std::shared_ptr<const Workbook::Data> parseGlobals(std::shared_ptr<Workbook::Data> book);
// The same for a stream given as bytes (fuzzing).
std::shared_ptr<const Workbook::Data> parseGlobals(std::vector<uint8_t> stream);
// Reads the cells of one sheet sub-stream (sheet.cpp), once: later calls
// get the same cells. A large sheet that no other sheet's offset points into
// gives its bytes back as it is read.
std::shared_ptr<const Sheet::Data> parseSheet(const Workbook::Data& book, size_t index);
// Gives back the bytes of the globals, before the first sheet, once they
// are parsed (sheet.cpp).
void releaseGlobals(const Workbook::Data& book);
}  // namespace detail

}  // namespace xls
