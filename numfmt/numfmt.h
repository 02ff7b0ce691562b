// Spreadsheet number formats: a format code ("#,##0.00;(#,##0.00)",
// "d-mmm-yy", "[h]:mm", "# ?/?") parsed once into up to four sections, then
// applied to any number of values, giving the text a spreadsheet shows for
// them (and writes when it saves a sheet as text).
//
// Colours are read and ignored, conditions choose sections, locale tags
// ([$-409]) are ignored and currency tags ([$€-407]) show their symbol.
// Padding (_x) shows as one space and fill (*x) as nothing, since text has
// no column width to fill. A date or time format given a value outside the
// calendar (negative, or past 9999-12-31) shows a run of 255 '#', as a
// spreadsheet's text export writes it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace numfmt {

class Format {
public:
    // Never fails: what is not a format token shows as written.
    explicit Format(std::u16string_view code);
    // General.
    Format() : Format(u"General") {}

    // Replaces out's contents by the value's text. `date1904`: the
    // workbook's date system (serial 0 is 1904-01-01 rather than
    // 1900-01-00).
    void apply(double value, bool date1904, std::u16string& out) const;
    [[nodiscard]] std::u16string apply(double value, bool date1904 = false) const;

    // True for General alone, with nothing around it.
    [[nodiscard]] bool isGeneral() const;
    // True when the section for positive numbers shows a date or a time.
    [[nodiscard]] bool isDateTime() const;

    struct Section;
    ~Format();
    Format(const Format&);
    Format(Format&&) noexcept;
    Format& operator=(const Format&);
    Format& operator=(Format&&) noexcept;

private:
    std::vector<Section> m_sections;
};

// Numbers in the General format as a spreadsheet shows them in a column of
// the standard width: at most 11 characters besides the sign, fixed or
// scientific ("0.333333333", "1.23457E+22", "1E-05").
void general(double value, std::u16string& out);

// The code of a built-in format id that the workbook does not define
// (0-22 and 37-49, as the English-language versions define them); empty for
// an id without one.
std::u16string_view builtinCode(uint32_t id);

}  // namespace numfmt
