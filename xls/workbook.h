// The workbook reader's public interface: open an Excel 97-2003 (BIFF8),
// Excel 5/95 (BIFF5/7) or Excel 2.x-4.0 (BIFF2-4) workbook or worksheet
// file, list its sheets and defined names, and read
// one worksheet's cells in compact form, each rendered on demand as the text
// the ODBC driver shows. No ODBC in here: the reader is tested and fuzzed on
// its own, and the driver sits on top of this header only.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "xls/types.h"

namespace xls {

enum class SheetType : uint8_t { Worksheet, Chart, Macro, Dialog, Other };

struct SheetInfo {
    std::u16string name;
    SheetType type = SheetType::Worksheet;
    bool hidden = false;
};

// A workbook-level or sheet-level defined name that refers to one
// rectangular range of one worksheet.
struct DefinedName {
    std::u16string name;
    uint32_t sheet = 0;  // index into Workbook::sheets()
    Range range;
    // 0 for a name of the whole workbook; for a name that belongs to one
    // sheet (several sheets may each have their own of one name), 1 + that
    // sheet's index into Workbook::sheets().
    uint32_t scope = 0;
};

class Sheet {
public:
    // The used range: first to last row and column holding a value;
    // nullopt when no cell holds one.
    [[nodiscard]] std::optional<Range> usedRange() const;
    // The cells of row r that hold a value, in ascending column order;
    // empty for a row without any.
    [[nodiscard]] std::span<const Cell> row(uint32_t r) const;
    // The cell's value as text (replaces out's contents): numbers with 15
    // significant digits, ISO 8601 dates and times, TRUE/FALSE, Excel's
    // error texts, strings whole.
    void text(const Cell& cell, std::u16string& out) const;
    // The string of a Text cell, without copying.
    [[nodiscard]] std::u16string_view string(const Cell& cell) const;
    // The length of text(cell) in UTF-16 units, without writing it; the
    // text of every cell but a Text cell is ASCII.
    [[nodiscard]] size_t textLength(const Cell& cell) const;
    // The number format of a number cell (General for any other cell).
    [[nodiscard]] const NumberFormat& numberFormat(const Cell& cell) const;
    // True when serial 0 is 1904-01-01 (else the 1900 date system).
    [[nodiscard]] bool date1904() const;
    // Total number of cells holding a value.
    [[nodiscard]] size_t cellCount() const;
    // The merged areas (MERGEDCELLS); only their top-left cells keep a value.
    [[nodiscard]] std::span<const Range> mergedRanges() const;

    struct Data;  // compact storage, defined by the reader
    explicit Sheet(std::shared_ptr<const Data> data);

private:
    std::shared_ptr<const Data> m_data;
};

class Workbook;
// Reads a workbook from the bytes of a zip file (an Office Open XML
// package), for Workbook::open.
using PackageReader = std::function<Workbook(std::vector<uint8_t> bytes)>;

class Workbook {
public:
    // Opens and checks the container and the workbook globals (sheet list,
    // shared strings, formats, names). The one sheet of an Excel 2.x-4.0
    // worksheet file is named after the file, without its extension
    // ("Sheet1" for fromBytes). Throws Error. The file is read once,
    // whole: sheets are read later from that snapshot, whatever another
    // program does to the file meanwhile.
    static Workbook open(const std::filesystem::path& path);
    // The same, and a zip file is read by `package` rather than refused.
    static Workbook open(const std::filesystem::path& path, const PackageReader& package);
    // The same from bytes in memory (fuzzing, tests).
    static Workbook fromBytes(std::vector<uint8_t> bytes);

    // 2, 3, 4, 5 or 8; 12 for a workbook read from an Office Open XML
    // package (whose grid is 1,048,576 rows by 16,384 columns).
    [[nodiscard]] int biffVersion() const;
    [[nodiscard]] bool date1904() const;
    [[nodiscard]] const std::vector<SheetInfo>& sheets() const;
    [[nodiscard]] const std::vector<DefinedName>& names() const;
    // Reads one sheet's cell records; the workbook keeps them, so a later
    // call for the same sheet costs nothing. Throws Error(Damaged) for a
    // sheet whose records are inconsistent. Safe to call from several threads
    // on one const Workbook.
    [[nodiscard]] Sheet sheet(size_t index) const;

    struct Data;  // defined by the reader
    explicit Workbook(std::shared_ptr<const Data> data);

private:
    std::shared_ptr<const Data> m_data;
};

}  // namespace xls
