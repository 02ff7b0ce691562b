// Fuzz target: the SQL statement path without ODBC: the input (UTF-8) as a
// statement through the dialect's rewriter, then compiled and run by an
// engine over two small tables (numbers, texts with non-ASCII letters,
// dates, NULLs), with a deadline so that a statement built to run forever
// ends. Every failure must be an sql::Error.
#include "sql/engine.h"
#include "sql/rewriter.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace {

class SmallTable final : public sql::SourceTable {
public:
    explicit SmallTable(bool wide) : m_wide(wide) {
        m_columns = {u"Name", u"Qty", u"Day"};
        if (wide) {
            m_columns.emplace_back(u"Note");
        }
    }
    [[nodiscard]] const std::vector<std::u16string>& columns() const override { return m_columns; }
    [[nodiscard]] uint32_t rowCount() const override { return 6; }
    void readRow(uint32_t row, std::vector<sql::Value>& values,
                 const std::vector<bool>& /*wanted*/) override {
        static const char16_t* const kNames[] = {u"pen",  u"Ärger", u"ink",
                                                 nullptr, u"PEN",   u"日本"};
        static const char16_t* const kDays[] = {u"2024-01-15",          u"13:45:00", nullptr,
                                                u"2024-02-29 13:45:00", u"TRUE",     u"#DIV/0!"};
        auto text = [](const char16_t* t) {
            sql::Value v;
            if (t != nullptr) {
                v.kind = sql::Value::Kind::Text;
                v.text = t;
            }
            return v;
        };
        values[0] = text(kNames[row]);
        values[1].kind = row == 3 ? sql::Value::Kind::Null : sql::Value::Kind::Number;
        values[1].number = static_cast<double>(row) * 2.5 - 3;
        values[2] = text(kDays[row]);
        if (m_wide) {
            values[3] = text(row % 2 == 0 ? u"a&b" : nullptr);
        }
    }

private:
    bool m_wide;
    std::vector<std::u16string> m_columns;
};

class Tables final : public sql::TableResolver {
public:
    std::unique_ptr<sql::SourceTable> open(std::u16string_view name) override {
        if (name == u"Sheet1$" || name == u"T") {
            return std::make_unique<SmallTable>(name == u"T");
        }
        return nullptr;
    }
    [[noreturn]] void missing(std::u16string_view /*name*/) override {
        throw sql::Error(sql::ErrorKind::Syntax, "no such table");
    }
};

std::u16string fromUtf8(const uint8_t* data, size_t size) {
    // Bytes below 0x80 as they are, others as one unit each: enough to
    // reach every path, never an invalid sequence.
    std::u16string out;
    out.reserve(size);
    for (size_t i = 0; i < size; ++i) {
        out.push_back(data[i] < 0x80 ? static_cast<char16_t>(data[i])
                                     : static_cast<char16_t>(0x80 + data[i]));
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::u16string statement = fromUtf8(data, size);
    std::u16string native;
    try {
        native = sql::rewrite(statement, u"/data/book.xls");
    } catch (const sql::Error&) {
        return 0;
    }
    Tables tables;
    sql::Engine engine(tables);
    sql::Control control;
    try {
        control.start(std::chrono::milliseconds(200));
        const std::unique_ptr<sql::Query> query = engine.prepare(native, control);
        std::vector<sql::Value> parameters(static_cast<size_t>(query->parameterCount()));
        control.start(std::chrono::milliseconds(200));
        const sql::TextTable result = query->run(parameters, control, 1000);
        for (uint32_t r = 0; r < result.rowCount(); ++r) {
            for (size_t c = 0; c < result.columns().size(); ++c) {
                (void)result.cell(r, c);
            }
        }
    } catch (const sql::Error&) {
    }
    return 0;
}
