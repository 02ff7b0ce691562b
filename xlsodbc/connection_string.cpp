// Connection-string parsing and the data-source lookup in odbc.ini.
#include "xlsodbc/connection_string.h"

#include "xlsodbc/diagnostics.h"
#include "xlsodbc/text.h"

#include <odbcinst.h>

#include <array>

namespace xlsodbc {
namespace {

std::u16string_view trim(std::u16string_view s) {
    while (!s.empty() && (s.front() == u' ' || s.front() == u'\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == u' ' || s.back() == u'\t')) {
        s.remove_suffix(1);
    }
    return s;
}

// Reads a braced value starting at text[pos] == '{'; returns it and moves
// pos past the closing brace.
std::u16string bracedValue(std::u16string_view text, size_t& pos) {
    std::u16string value;
    for (size_t i = pos + 1; i < text.size(); ++i) {
        if (text[i] == u'}') {
            if (i + 1 < text.size() && text[i + 1] == u'}') {
                value.push_back(u'}');
                ++i;
                continue;
            }
            pos = i + 1;
            return value;
        }
        value.push_back(text[i]);
    }
    throw DriverError(State::UnableToConnect,
                      "The connection string has a \"{\" without its closing \"}\"");
}

bool isNoValue(std::u16string_view value) {
    return value.empty() || value == u"''" || value == u"\"\"";
}

bool flagValue(std::u16string_view value) {
    for (const char* no : {"0", "no", "false", "off"}) {
        if (equalsNoCase(trim(value), u16(no))) {
            return false;
        }
    }
    return true;
}

}  // namespace

Attributes parseConnectionString(std::u16string_view text) {
    // One pass: every character is looked at a bounded number of times, so
    // a string of a million separators reads as fast as any other.
    Attributes attributes;
    const size_t size = text.size();
    auto nextSeparator = [&](size_t from) {
        const size_t end = text.find(u';', from);
        return end == std::u16string_view::npos ? size : end;
    };
    size_t pos = 0;
    while (pos < size) {
        size_t eq = pos;
        while (eq < size && text[eq] != u'=' && text[eq] != u';') {
            ++eq;
        }
        if (eq == size || text[eq] == u';') {
            // A piece without "=" carries no setting.
            pos = eq + 1;
            continue;
        }
        std::u16string key(trim(text.substr(pos, eq - pos)));
        pos = eq + 1;
        while (pos < size && (text[pos] == u' ' || text[pos] == u'\t')) {
            ++pos;
        }
        std::u16string value;
        if (pos < size && text[pos] == u'{') {
            value = bracedValue(text, pos);
            pos = nextSeparator(pos) + 1;
        } else {
            const size_t stop = nextSeparator(pos);
            value = trim(text.substr(pos, stop - pos));
            pos = stop + 1;
        }
        if (!key.empty()) {
            attributes.emplace_back(std::move(key), std::move(value));
        }
    }
    return attributes;
}

std::optional<std::u16string> findAttribute(const Attributes& attributes, std::u16string_view key) {
    // The first occurrence of a key wins, as the driver manager reads them.
    for (const auto& [k, v] : attributes) {
        if (equalsNoCase(k, key)) {
            return v;
        }
    }
    return std::nullopt;
}

std::optional<std::u16string> readDataSourceKey(const std::u16string& dsn, const char* key) {
    std::array<char, 4096> buffer{};
    const std::string name = utf16ToUtf8(dsn);
    const int n = SQLGetPrivateProfileString(name.c_str(), key, "", buffer.data(),
                                             static_cast<int>(buffer.size()), "odbc.ini");
    if (n <= 0 || buffer[0] == '\0') {
        return std::nullopt;
    }
    return utf8ToUtf16(buffer.data());
}

ConnectSettings resolveSettings(const Attributes& attributes, ProfileReader reader) {
    const std::optional<std::u16string> dsn = findAttribute(attributes, u"DSN");
    const bool haveDsn = dsn && !isNoValue(*dsn);
    auto setting = [&](std::u16string_view key,
                       const char* iniKey) -> std::optional<std::u16string> {
        if (auto value = findAttribute(attributes, key)) {
            return value;
        }
        return haveDsn ? reader(*dsn, iniKey) : std::nullopt;
    };
    ConnectSettings settings;
    const std::optional<std::u16string> dbq = setting(u"DBQ", "DBQ");
    if (!dbq || trim(*dbq).empty()) {
        std::string where =
            haveDsn ? " (the data source \"" + echo(*dsn, 200) + "\" has no DBQ entry)" : "";
        throw DriverError(
            State::UnableToConnect,
            "No workbook was named: give its path with DBQ=<file.xls> in the connection string or "
            "the data source" +
                where);
    }
    settings.workbook = utf16ToUtf8(*dbq);
    if (settings.workbook.is_relative()) {
        if (const auto dir = setting(u"DefaultDir", "DefaultDir"); dir && !dir->empty()) {
            settings.workbook = std::filesystem::path(utf16ToUtf8(*dir)) / settings.workbook;
        }
    }
    if (const auto names = setting(u"FirstRowHasNames", "FirstRowHasNames")) {
        settings.firstRowHasNames = flagValue(*names);
    }
    if (const auto tables = setting(u"SheetsAsTables", "SheetsAsTables")) {
        settings.sheetsAsTables = flagValue(*tables);
    }
    if (const auto values = setting(u"Values", "Values"); values && !trim(*values).empty()) {
        if (equalsNoCase(trim(*values), u"Displayed")) {
            settings.values = Values::Displayed;
        } else if (!equalsNoCase(trim(*values), u"Contract")) {
            throw DriverError(State::UnableToConnect,
                              "Values=" + utf16ToUtf8(*values) +
                                  " is not a setting of this driver: give Values=Contract (the "
                                  "default) or Values=Displayed");
        }
    }
    if (const auto types = setting(u"Types", "Types"); types && !trim(*types).empty()) {
        if (equalsNoCase(trim(*types), u"Detected")) {
            settings.detectTypes = true;
        } else if (!equalsNoCase(trim(*types), u"Text")) {
            throw DriverError(State::UnableToConnect,
                              "Types=" + utf16ToUtf8(*types) +
                                  " is not a setting of this driver: give Types=Text (the "
                                  "default: every column is text) or Types=Detected");
        }
    }
    return settings;
}

}  // namespace xlsodbc
