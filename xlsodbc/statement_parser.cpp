// Parsing SELECT * FROM <table> and the forms of <table>.
#include "xlsodbc/statement_parser.h"

#include "xlsodbc/diagnostics.h"
#include "xlsodbc/text.h"

#include <algorithm>
#include <array>
#include <optional>

namespace xlsodbc {
namespace {

constexpr const char* kAccepted =
    "the driver accepts only SELECT * FROM <table>, where <table> is a worksheet ([Sheet1$] or "
    "['My Sheet$']), "
    "a range of one ([Sheet1$A1:D20]) or a defined name ([Prices])";

[[noreturn]] void syntaxError(std::u16string_view statement, const std::string& problem) {
    throw DriverError(State::SyntaxError, "Syntax error in \"" + echo(statement) + "\" (" +
                                              problem + "): " + kAccepted);
}

bool isSpace(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\f' || c == u'\v';
}

std::u16string_view trimSpace(std::u16string_view s) {
    while (!s.empty() && isSpace(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && isSpace(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

void skipSpace(std::u16string_view& s) {
    while (!s.empty() && isSpace(s.front())) {
        s.remove_prefix(1);
    }
}

// Consumes `keyword` (any case) when it stands at the start of s.
bool takeKeyword(std::u16string_view& s, std::u16string_view keyword) {
    if (s.size() < keyword.size() || !equalsNoCase(s.substr(0, keyword.size()), keyword)) {
        return false;
    }
    s.remove_prefix(keyword.size());
    return true;
}

// Words that begin a clause SQL allows after the table; the driver runs
// none of them.
constexpr std::array<std::u16string_view, 20> kClauses{
    u"WHERE", u"ORDER",   u"GROUP", u"HAVING", u"UNION",     u"LIMIT", u"OFFSET",
    u"FETCH", u"FOR",     u"JOIN",  u"INNER",  u"LEFT",      u"RIGHT", u"FULL",
    u"CROSS", u"NATURAL", u"AS",    u"EXCEPT", u"INTERSECT", u"WINDOW"};

// When `after` (what follows the table) begins a clause or a second table,
// the words that name it ("ORDER BY", "WHERE", "a second table").
std::optional<std::string> clauseAfter(std::u16string_view after) {
    if (after.empty() || !isSpace(after.front())) {
        return after.starts_with(u",") ? std::optional<std::string>("a second table")
                                       : std::nullopt;
    }
    skipSpace(after);
    if (after.starts_with(u",")) {
        return "a second table";
    }
    size_t end = 0;
    while (end < after.size() && !isSpace(after[end]) && after[end] != u'(') {
        ++end;
    }
    const std::u16string_view word = after.substr(0, end);
    for (const std::u16string_view clause : kClauses) {
        if (equalsNoCase(word, clause)) {
            std::string named = utf16ToUtf8(clause);
            std::u16string_view next = after.substr(end);
            skipSpace(next);
            if ((clause == u"ORDER" || clause == u"GROUP") && takeKeyword(next, u"BY")) {
                named += " BY";
            }
            return named;
        }
    }
    return std::nullopt;
}

[[noreturn]] void unsupported(std::u16string_view statement, const std::string& clause) {
    syntaxError(statement, clause + " is not supported");
}

// The text of a table in "[...]", "`...`" or "\"...\"", `rest` starting with
// the opening delimiter; a doubled closing delimiter stands for one. The
// name ends at the first closing delimiter when nothing, or a clause the
// driver refuses, follows it; otherwise at the statement's last character,
// so that a "]" inside a bracketed name needs no escape.
std::u16string delimitedText(std::u16string_view statement, std::u16string_view rest) {
    const char16_t close = rest.front() == u'[' ? u']' : rest.front();
    std::u16string text;
    size_t i = 1;
    for (; i < rest.size(); ++i) {
        if (rest[i] == close) {
            if (i + 1 < rest.size() && rest[i + 1] == close) {
                ++i;
            } else {
                break;
            }
        }
        text.push_back(rest[i]);
    }
    if (i < rest.size()) {
        const std::u16string_view after = rest.substr(i + 1);
        if (trimSpace(after).empty()) {
            return text;
        }
        if (const auto clause = clauseAfter(after)) {
            unsupported(statement, *clause);
        }
    }
    if (rest.size() < 2 || rest.back() != close) {
        syntaxError(statement, "the table name is not closed, or something follows it");
    }
    text.clear();
    const std::u16string_view inner = rest.substr(1, rest.size() - 2);
    for (size_t k = 0; k < inner.size(); ++k) {
        text.push_back(inner[k]);
        if (inner[k] == close && k + 1 < inner.size() && inner[k + 1] == close) {
            ++k;
        }
    }
    return text;
}

// The table text: `rest` is everything after FROM.
std::u16string tableText(std::u16string_view statement, std::u16string_view rest) {
    if (rest.empty()) {
        syntaxError(statement, "no table after FROM");
    }
    const char16_t open = rest.front();
    if (open == u'[' || open == u'`' || open == u'"') {
        return delimitedText(statement, rest);
    }
    // A bare name ends at white space outside single quotes.
    bool quoted = false;
    for (size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == u'\'') {
            quoted = !quoted;
        } else if (!quoted && isSpace(rest[i])) {
            if (const auto clause = clauseAfter(rest.substr(i))) {
                unsupported(statement, *clause);
            }
            if (open != u'\'') {
                syntaxError(statement, "something follows the table name");
            }
        }
    }
    return std::u16string(rest);
}

int columnNumber(std::u16string_view letters) {
    int col = 0;
    for (const char16_t c : letters) {
        col = col * 26 + (foldCase(c) - u'a' + 1);
    }
    return col - 1;
}

// One cell reference "B12"; false when malformed.
bool parseCell(std::u16string_view text, uint32_t& row, uint16_t& col) {
    size_t i = 0;
    while (i < text.size() &&
           ((text[i] >= u'A' && text[i] <= u'Z') || (text[i] >= u'a' && text[i] <= u'z'))) {
        ++i;
    }
    if (i == 0 || i > 3 || i == text.size() || text.size() - i > 7) {
        return false;
    }
    uint32_t number = 0;
    for (size_t k = i; k < text.size(); ++k) {
        if (text[k] < u'0' || text[k] > u'9') {
            return false;
        }
        number = number * 10 + static_cast<uint32_t>(text[k] - u'0');
    }
    const int c = columnNumber(text.substr(0, i));
    // The grid of an .xlsx worksheet; an .xls grid is smaller, and a range
    // past its values ends where they end.
    if (number < 1 || number > 1048576 || c > 16383) {
        return false;
    }
    row = number - 1;
    col = static_cast<uint16_t>(c);
    return true;
}

// Reads a name in single quotes with "''" for a quote; returns the position
// after the closing quote, or npos when there is none.
size_t quotedName(std::u16string_view text, std::u16string& name) {
    for (size_t i = 1; i < text.size(); ++i) {
        if (text[i] == u'\'') {
            if (i + 1 < text.size() && text[i + 1] == u'\'') {
                name.push_back(u'\'');
                ++i;
                continue;
            }
            return i + 1;
        }
        name.push_back(text[i]);
    }
    return std::u16string_view::npos;
}

TableReference sheetReference(std::u16string_view written, std::u16string_view name,
                              std::u16string_view range) {
    TableReference ref{std::u16string(written), std::u16string(name), true, std::nullopt, {}};
    if (!range.empty()) {
        ref.range = parseCellRange(range);
        if (!ref.range) {
            throw DriverError(State::SyntaxError, "\"" + echo(range) + "\" in \"" + echo(written) +
                                                      "\" is not a range of a worksheet: write it "
                                                      "as A1:D20 (columns A to XFD, rows 1 "
                                                      "to 1048576)");
        }
    }
    return ref;
}

std::optional<TableReference> quotedReference(std::u16string_view table) {
    std::u16string name;
    const size_t end = quotedName(table, name);
    if (end == std::u16string_view::npos) {
        return std::nullopt;
    }
    const std::u16string_view rest = table.substr(end);
    if (!name.empty() && name.back() == u'$') {
        return sheetReference(table, std::u16string_view(name).substr(0, name.size() - 1), rest);
    }
    if (!rest.empty() && rest.front() == u'$') {
        return sheetReference(table, name, rest.substr(1));
    }
    if (rest.empty()) {
        return TableReference{std::u16string(table), name, false, std::nullopt, {}};
    }
    return std::nullopt;
}

}  // namespace

std::optional<CellRange> parseCellRange(std::u16string_view text) {
    CellRange range;
    const size_t colon = text.find(u':');
    const std::u16string_view first = text.substr(0, colon);
    const std::u16string_view last =
        colon == std::u16string_view::npos ? first : text.substr(colon + 1);
    if (!parseCell(first, range.firstRow, range.firstCol) ||
        !parseCell(last, range.lastRow, range.lastCol)) {
        return std::nullopt;
    }
    if (range.firstRow > range.lastRow) {
        std::swap(range.firstRow, range.lastRow);
    }
    if (range.firstCol > range.lastCol) {
        std::swap(range.firstCol, range.lastCol);
    }
    return range;
}

TableReference parseTableName(std::u16string_view table) {
    if (!table.empty() && table.front() == u'\'') {
        if (auto ref = quotedReference(table)) {
            return *ref;
        }
    }
    if (!table.empty() && table.back() == u'$') {
        return sheetReference(table, table.substr(0, table.size() - 1), {});
    }
    const size_t dollar = table.rfind(u'$');
    const size_t bang = table.rfind(u'!');
    // "Name$A1:D20"; a "$" followed by something that is not meant as a
    // range leaves the text a (missing) table name for the lookup to report.
    if (dollar != std::u16string_view::npos && dollar > 0 &&
        (parseCellRange(table.substr(dollar + 1)) ||
         table.substr(dollar + 1).find(u':') != std::u16string_view::npos)) {
        return sheetReference(table, table.substr(0, dollar), table.substr(dollar + 1));
    }
    // Sheet1!Name: a defined name cannot hold "!", so the last one divides.
    if (bang != std::u16string_view::npos && bang > 0 && bang + 1 < table.size()) {
        std::u16string scope(table.substr(0, bang));
        if (scope.size() > 1 && scope.front() == u'\'') {
            std::u16string unquoted;
            if (quotedName(scope, unquoted) == scope.size()) {
                scope = std::move(unquoted);
            }
        }
        return TableReference{std::u16string(table), std::u16string(table.substr(bang + 1)), false,
                              std::nullopt, std::move(scope)};
    }
    return TableReference{std::u16string(table), std::u16string(table), false, std::nullopt, {}};
}

TableReference parseSelect(std::u16string_view statement) {
    std::u16string_view s = trimSpace(statement);
    if (!s.empty() && s.back() == u';') {
        s = trimSpace(s.substr(0, s.size() - 1));
    }
    if (!takeKeyword(s, u"SELECT") || s.empty() || (!isSpace(s.front()) && s.front() != u'*')) {
        syntaxError(statement, "it does not begin with SELECT");
    }
    skipSpace(s);
    if (s.empty() || s.front() != u'*') {
        syntaxError(statement, "SELECT is not followed by *");
    }
    s.remove_prefix(1);
    skipSpace(s);
    if (!takeKeyword(s, u"FROM")) {
        syntaxError(statement, "SELECT * is not followed by FROM");
    }
    if (!s.empty() && !isSpace(s.front()) && s.front() != u'[' && s.front() != u'`' &&
        s.front() != u'"') {
        syntaxError(statement, "FROM is not followed by a table");
    }
    skipSpace(s);
    const std::u16string table = tableText(statement, s);
    if (table.empty()) {
        syntaxError(statement, "the table name is empty");
    }
    return parseTableName(table);
}

}  // namespace xlsodbc
