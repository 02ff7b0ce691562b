// Every row of the spreadsheet-made format tables in data/excel_tables.txt
// (where they come from and how they were converted: data/README.md) goes
// through the engine and must give the spreadsheet's own text. The rows that
// cannot are listed in kExplained with their reason; any other difference
// fails, and so does a listed row that has started to match (drop it then).
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "numfmt/numfmt.h"

namespace {

struct Row {
    std::string table;
    std::string format;  // as written in the file: "#14" for built-in 14
    std::string value;
    std::u16string code;
    std::u16string expected;
};

using Key = std::tuple<std::string, std::string, std::string>;

// Key: table, format as written in the file ("#46" for built-in 46; the
// file's escapes kept), value as written in the file.
const std::map<Key, std::string> kExplained = {
    {{"builtin", "#46", "-12345.6789"},
     "the table has no text for a negative elapsed time; the spreadsheet's own text "
     "exports (LONumbers) show negative elapsed hours with a minus, as the engine does"},
    {{"fraction", "# ?\?/?????????", "0.123251512342345"},
     "a numerator wider than its placeholders: the spreadsheet moves the denominator's "
     "unused places before the fraction (one case only, too few to learn the rule from)"},
    {{"fraction", "# ?? / ?????????", "0.123251512342345"}, "as above, with spaces around the bar"},
    {{"oddities", R"([Red]General ;[Blue]General\\ ;[Green]Generalp;[Yellow]General')", "-25"},
     "General in the negative section keeping its minus: no spreadsheet export here "
     "confirms it, and plain digits there drop the sign (0;0 shows 1 for -1.1)"},
    {{"oddities", "B2yyyymmdd", "0"}, "B2: the Hijri calendar, which the engine does not show"},
};

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    throw std::runtime_error("bad \\u escape in the tables");
}

std::u16string unescape(const std::string& field) {
    std::u16string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '\\') {
            out.push_back(static_cast<char16_t>(field[i]));
            continue;
        }
        if (++i == field.size()) {
            throw std::runtime_error("trailing backslash in the tables");
        }
        switch (field[i]) {
            case 't':
                out.push_back(u'\t');
                break;
            case 'n':
                out.push_back(u'\n');
                break;
            case 'H':
                out.append(255, u'#');
                break;
            case 'u': {
                if (i + 4 >= field.size()) {
                    throw std::runtime_error("short \\u escape in the tables");
                }
                int unit = 0;
                for (size_t k = 1; k <= 4; ++k) {
                    unit = unit * 16 + hexDigit(field[i + k]);
                }
                out.push_back(static_cast<char16_t>(unit));
                i += 4;
                break;
            }
            default:
                out.push_back(static_cast<char16_t>(field[i]));
                break;
        }
    }
    return out;
}

std::vector<std::string> split(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t tab = line.find('\t'); tab != std::string::npos; tab = line.find('\t', start)) {
        fields.push_back(line.substr(start, tab - start));
        start = tab + 1;
    }
    fields.push_back(line.substr(start));
    return fields;
}

const std::vector<Row>& rows() {
    static const std::vector<Row> all = [] {
        std::ifstream in(EXCEL_TABLES);
        if (!in) {
            throw std::runtime_error("cannot open " EXCEL_TABLES);
        }
        std::vector<Row> out;
        std::string line;
        while (std::getline(in, line)) {
            const std::vector<std::string> f = split(line);
            if (f.size() != 5) {
                throw std::runtime_error("not five fields: " + line);
            }
            Row row{f[0], f[1].empty() ? f[2] : "#" + f[1], f[3], {}, unescape(f[4])};
            row.code =
                f[1].empty()
                    ? unescape(f[2])
                    : std::u16string(numfmt::builtinCode(static_cast<uint32_t>(std::stoul(f[1]))));
            out.push_back(std::move(row));
        }
        return out;
    }();
    return all;
}

std::string narrow(const std::u16string& text) {
    std::string out;
    for (const char16_t c : text) {
        if (c < 128) {
            out.push_back(static_cast<char>(c));
        } else {
            out += "\\u" + std::to_string(static_cast<unsigned>(c));
        }
    }
    return out.size() == 255 && out.find_first_not_of('#') == std::string::npos ? "#x255" : out;
}

// Renders every row of one table; reports each unexplained difference and
// each explained row that now matches.
void check(const std::string& table) {
    size_t total = 0;
    size_t equal = 0;
    std::set<Key> seen;
    for (const Row& row : rows()) {
        if (row.table != table) {
            continue;
        }
        ++total;
        const double value = std::strtod(row.value.c_str(), nullptr);
        const std::u16string got = numfmt::Format(row.code).apply(value);
        const Key key{row.table, row.format, row.value};
        const bool explained = kExplained.contains(key);
        seen.insert(key);
        if (got == row.expected) {
            ++equal;
            EXPECT_FALSE(explained)
                << "listed but now matches: " << row.format << " on " << row.value;
        } else {
            EXPECT_TRUE(explained) << row.format << " on " << row.value << ": got \"" << narrow(got)
                                   << "\", the spreadsheet shows \"" << narrow(row.expected) << '"';
        }
    }
    for (const auto& [key, why] : kExplained) {
        if (std::get<0>(key) == table) {
            EXPECT_TRUE(seen.contains(key)) << "listed row not in the tables: " << std::get<1>(key);
        }
    }
    EXPECT_GT(total, 0U);
    std::cout << table << ": " << equal << " of " << total << " rows equal\n";
}

TEST(ExcelTables, General) {
    check("general");
}
TEST(ExcelTables, BuiltinIds) {
    check("builtin");
}
TEST(ExcelTables, Fractions) {
    check("fraction");
}
TEST(ExcelTables, ThousandsAndScaling) {
    check("comma");
}
TEST(ExcelTables, EngineeringExponents) {
    check("exp");
}
TEST(ExcelTables, Oddities) {
    check("oddities");
}

}  // namespace
