// The reader's vocabulary, shared by its public interface and its inner
// layers: why a file was refused, a rectangle of cells, and one cell's
// value.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace xls {

// Why a file was refused. The driver maps each kind to its diagnostic.
enum class ErrorKind : uint8_t {
    Io,                  // the file cannot be opened or read (message carries the system's reason)
    NotWorkbook,         // neither an OLE2 file with a Workbook/Book stream nor a BIFF2-4 file
    LooksLikeXlsx,       // a zip container: an Excel 2007+ workbook
    LooksLikeOds,        // a zip container holding an OpenDocument spreadsheet
    LooksLikeXlsb,       // a package whose workbook is an Excel binary workbook (.xlsb)
    Encrypted,           // password-protected with a password other than Excel's default
    UnsupportedVersion,  // a BIFF version the reader does not know
    Damaged,             // container or records inconsistent with the bytes present
};

// The message is UTF-8 English and names the layer and the place, for
// example "container: FAT chain of stream 'Workbook' loops at sector 12" or
// "records: SST at offset 0x1a30 is longer than its stream".
class Error : public std::runtime_error {
public:
    Error(ErrorKind kind, const std::string& message) : std::runtime_error(message), m_kind(kind) {}
    [[nodiscard]] ErrorKind kind() const noexcept { return m_kind; }

private:
    ErrorKind m_kind;
};

// A rectangle of cells, 0-based and inclusive.
struct Range {
    uint32_t firstRow = 0;
    uint32_t lastRow = 0;
    uint16_t firstCol = 0;
    uint16_t lastCol = 0;
    friend bool operator==(const Range&, const Range&) = default;
};

// What a cell holds, decided once while the sheet is read: numbers are
// split by their number format into plain numbers and date/time kinds.
enum class CellType : uint8_t { Number, Date, Time, DateTime, Text, Boolean, Error };

// A number format: the code the workbook defines, or an empty code for a
// built-in format that the workbook knows by its id alone.
struct NumberFormat {
    uint32_t id = 0;
    std::u16string code;
};

// One cell with a value (blank cells are not stored). 12 bytes, so that a
// sheet's cells take no more memory than its records: a cell holds either a
// number or a string, which share their place, and the number is aligned to
// 4 bytes only.
#pragma pack(push, 4)
struct Cell {
    uint16_t col = 0;
    CellType type = CellType::Number;
    // Boolean: 0/1; Error: the BIFF error code (0x07 = #DIV/0! ...); a
    // number: its number format's place in the sheet's table of them.
    uint8_t code = 0;
    union {
        double number = 0;  // Number, Date, Time, DateTime: the stored value
        uint32_t text;      // Text: index into the sheet's string table
    };
};
#pragma pack(pop)
static_assert(sizeof(Cell) == 12);

}  // namespace xls
