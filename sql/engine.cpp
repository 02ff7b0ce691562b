// The engine: the connection's SQLite database, the virtual table of each table a
// statement names, the authorizer, the limits and the stop checks.
#include "sql/engine.h"

#include "sql/functions.h"

#include <sqlite3.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <optional>

namespace sql {

namespace {

std::string utf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::u16string quotedName(std::u16string_view name) {
    std::u16string out = u"\"";
    for (const char16_t c : name) {
        out.push_back(c);
        if (c == u'"') {
            out.push_back(u'"');
        }
    }
    out.push_back(u'"');
    return out;
}

char16_t asciiLower(char16_t c) {
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
}

// SQLite compares table names ignoring ASCII case only.
struct NameLess {
    bool operator()(const std::u16string& a, const std::u16string& b) const {
        const size_t n = std::min(a.size(), b.size());
        for (size_t i = 0; i < n; ++i) {
            const char16_t x = asciiLower(a[i]);
            const char16_t y = asciiLower(b[i]);
            if (x != y) {
                return x < y;
            }
        }
        return a.size() < b.size();
    }
};

struct Utf8NameLess {
    bool operator()(const std::string& a, const std::string& b) const {
        return sqlite3_stricmp(a.c_str(), b.c_str()) < 0;
    }
};

bool startsWithNoCase(std::u16string_view text, std::u16string_view prefix) {
    if (text.size() < prefix.size()) {
        return false;
    }
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (asciiLower(text[i]) != asciiLower(prefix[i])) {
            return false;
        }
    }
    return true;
}

// Limits that keep a hostile statement from taking the process with it.
constexpr int kMaxStatementBytes = 4'000'000;
constexpr int kMaxValueBytes = 64 * 1024 * 1024;
constexpr int kMaxExpressionDepth = 300;
constexpr int kMaxCompoundSelects = 64;
constexpr int kMaxColumns = 2000;  // the engine's own limit on a table's columns
constexpr int kMaxTablesPerStatement = 64;
constexpr int kProgressSteps = 1000;
// A result is held whole (its row count is exact); this bounds its memory.
constexpr size_t kMaxResultBytes = size_t{1} << 30;

// Whether SQLite could read `text` as a number when it compares it with
// one (numeric affinity): spaces around an optional sign and a decimal or
// exponent form. Reads a little more than SQLite does (inf, nan), which is
// harmless where it is used: the engine checks every row it is handed.
std::optional<double> looksNumeric(std::u16string_view text) {
    auto space = [](char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); };
    while (!text.empty() && space(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && space(text.back())) {
        text.remove_suffix(1);
    }
    if (!text.empty() && text.front() == u'+') {
        text.remove_prefix(1);
    }
    if (text.empty() || text.size() > 400) {
        return std::nullopt;
    }
    char ascii[401];
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] >= 0x80) {
            return std::nullopt;
        }
        ascii[i] = static_cast<char>(text[i]);
    }
    double value = 0;
    const auto [end, ec] = std::from_chars(ascii, ascii + text.size(), value);
    if (ec != std::errc() || end != ascii + text.size()) {
        return std::nullopt;
    }
    return value;
}

// A table of the workbook as the engine reads it: row by row for a scan,
// and through an index of one column, built on first use, for a lookup by
// equality (the inner side of a join), so that no join runs as nested
// scans. Cursors share the source: each reads its row again when another
// read since.
class GridSource {
public:
    explicit GridSource(std::unique_ptr<SourceTable> table) : m_table(std::move(table)) {}

    [[nodiscard]] const std::vector<std::u16string>& columns() const { return m_table->columns(); }
    [[nodiscard]] uint32_t rowCount() const { return m_table->rowCount(); }

    // Reads `row` into `values` (the columns `wanted` says) unless `reader`
    // was the last to read and read that row.
    void read(const void* reader, uint32_t row, std::vector<Value>& values,
              const std::vector<bool>& wanted) {
        if (m_reader == reader && m_row == row && reader != nullptr) {
            return;
        }
        m_reader = nullptr;
        m_table->readRow(row, values, wanted);
        m_reader = reader;
        m_row = row;
    }

    // The next read reads, whoever read last.
    void forget() { m_reader = nullptr; }

    // The rows, ascending, that may hold a value equal to `key` in
    // `column`: every row SQLite's own comparison would find equal, also
    // when it reads a text as a number or a number as a text first.
    // False when `stop` asked to stop while the index was built.
    bool lookup(uint16_t column, sqlite3_value* key, std::vector<uint32_t>& rows,
                Control* control) {
        rows.clear();
        const Index* index = indexOf(column, control);
        if (index == nullptr) {
            return false;
        }
        std::optional<double> number;
        switch (sqlite3_value_type(key)) {
            case SQLITE_INTEGER:
            case SQLITE_FLOAT:
                number = sqlite3_value_double(key);
                break;
            case SQLITE_TEXT: {
                const auto* units = static_cast<const char16_t*>(sqlite3_value_text16(key));
                const auto size = static_cast<size_t>(sqlite3_value_bytes16(key)) / 2;
                const std::u16string text(units != nullptr ? units : u"",
                                          units != nullptr ? size : 0);
                const auto [from, to] = std::equal_range(
                    index->texts.begin(), index->texts.end(), std::pair(text, uint32_t{0}),
                    [](const auto& a, const auto& b) {
                        return compareFolded(a.first, b.first) < 0;
                    });
                for (auto i = from; i != to; ++i) {
                    rows.push_back(i->second);
                }
                number = looksNumeric(text);
                break;
            }
            case SQLITE_NULL:
                break;
            default:  // a blob: every row, for the engine to compare
                for (uint32_t r = 0; r < rowCount(); ++r) {
                    rows.push_back(r);
                }
                return true;
        }
        if (number && !std::isnan(*number)) {
            // Texts of numbers carry 15 significant digits: near enough.
            const double slack = std::isfinite(*number) ? std::fabs(*number) * 1e-14 : 0.0;
            const auto from = std::lower_bound(index->numbers.begin(), index->numbers.end(),
                                               std::pair(*number - slack, uint32_t{0}));
            for (auto i = from; i != index->numbers.end() && i->first <= *number + slack; ++i) {
                rows.push_back(i->second);
            }
        }
        std::sort(rows.begin(), rows.end());
        rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
        return true;
    }

    // The rows in the order of `terms` (column, descending), as the
    // engine's own sort would give them: empty values first, then numbers,
    // then texts in the collation's order, rows with equal keys in table
    // order. Made on first use; nullptr when `control` asked to stop.
    const std::vector<uint32_t>* ordered(const std::vector<std::pair<uint16_t, bool>>& terms,
                                         Control* control) {
        std::string name;
        for (const auto& [column, descending] : terms) {
            name += std::to_string(column) + (descending ? "d," : "a,");
        }
        if (const auto found = m_orders.find(name); found != m_orders.end()) {
            return &found->second;
        }
        struct Key {
            uint8_t kind = 0;  // empty, number, text
            double number = 0;
            std::u16string text;
        };
        const uint32_t rows = rowCount();
        std::vector<std::vector<Key>> keys(terms.size(), std::vector<Key>(rows));
        std::vector<bool> wanted(columns().size(), false);
        for (const auto& term : terms) {
            wanted[term.first] = true;
        }
        std::vector<Value> values(columns().size());
        m_reader = nullptr;
        for (uint32_t r = 0; r < rows; ++r) {
            if ((r & 4095) == 4095 && control != nullptr && control->shouldStop()) {
                return nullptr;
            }
            m_table->readRow(r, values, wanted);
            for (size_t t = 0; t < terms.size(); ++t) {
                const Value& v = values[terms[t].first];
                Key& key = keys[t][r];
                switch (v.kind) {
                    case Value::Kind::Number:
                        // The engine keeps no NaN: it reads as an empty value.
                        if (!std::isnan(v.number)) {
                            key.kind = 1;
                            key.number = v.number;
                        }
                        break;
                    case Value::Kind::Integer:
                        key.kind = 1;
                        key.number = static_cast<double>(v.integer);
                        break;
                    case Value::Kind::Text:
                        key.kind = 2;
                        key.text.assign(v.text);
                        break;
                    case Value::Kind::Null:
                        break;
                }
            }
        }
        std::vector<uint32_t> order(rows);
        for (uint32_t r = 0; r < rows; ++r) {
            order[r] = r;
        }
        std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
            for (size_t t = 0; t < terms.size(); ++t) {
                const Key& x = keys[t][a];
                const Key& y = keys[t][b];
                int c = 0;
                if (x.kind != y.kind) {
                    c = x.kind < y.kind ? -1 : 1;
                } else if (x.kind == 1) {
                    c = x.number < y.number ? -1 : (y.number < x.number ? 1 : 0);
                } else if (x.kind == 2) {
                    c = compareFolded(x.text, y.text);
                }
                if (c != 0) {
                    return terms[t].second ? c > 0 : c < 0;
                }
            }
            return false;
        });
        return &m_orders.emplace(name, std::move(order)).first->second;
    }

private:
    struct Index {
        // Numbers, and texts that read as numbers, by value.
        std::vector<std::pair<double, uint32_t>> numbers;
        // Texts in the collation's order.
        std::vector<std::pair<std::u16string, uint32_t>> texts;
    };

    const Index* indexOf(uint16_t column, Control* control) {
        if (m_indexes.size() <= column) {
            m_indexes.resize(static_cast<size_t>(column) + 1);
        }
        if (m_indexes[column]) {
            return m_indexes[column].get();
        }
        auto index = std::make_unique<Index>();
        std::vector<bool> wanted(columns().size(), false);
        wanted[column] = true;
        std::vector<Value> values(columns().size());
        m_reader = nullptr;
        const uint32_t rows = rowCount();
        for (uint32_t r = 0; r < rows; ++r) {
            if ((r & 4095) == 4095 && control != nullptr && control->shouldStop()) {
                return nullptr;
            }
            m_table->readRow(r, values, wanted);
            const Value& v = values[column];
            switch (v.kind) {
                case Value::Kind::Number:
                    if (!std::isnan(v.number)) {
                        index->numbers.emplace_back(v.number, r);
                    }
                    break;
                case Value::Kind::Integer:
                    index->numbers.emplace_back(static_cast<double>(v.integer), r);
                    break;
                case Value::Kind::Text:
                    if (const auto n = looksNumeric(v.text)) {
                        index->numbers.emplace_back(*n, r);
                    }
                    index->texts.emplace_back(std::u16string(v.text), r);
                    break;
                case Value::Kind::Null:
                    break;
            }
        }
        std::sort(index->numbers.begin(), index->numbers.end());
        std::stable_sort(
            index->texts.begin(), index->texts.end(),
            [](const auto& a, const auto& b) { return compareFolded(a.first, b.first) < 0; });
        m_indexes[column] = std::move(index);
        return m_indexes[column].get();
    }

    std::unique_ptr<SourceTable> m_table;
    std::vector<std::unique_ptr<Index>> m_indexes;
    std::map<std::string, std::vector<uint32_t>> m_orders;
    const void* m_reader = nullptr;
    uint32_t m_row = 0;
};

}  // namespace

void Control::start(std::chrono::milliseconds timeout) noexcept {
    m_cancelled.store(false);
    m_reason = ErrorKind::Cancelled;
    m_deadline = timeout.count() > 0 ? std::chrono::steady_clock::now() + timeout
                                     : std::chrono::steady_clock::time_point::max();
}

bool Control::shouldStop() noexcept {
    if (m_cancelled.load(std::memory_order_relaxed)) {
        m_reason = ErrorKind::Cancelled;
        return true;
    }
    if (m_deadline != std::chrono::steady_clock::time_point::max() &&
        std::chrono::steady_clock::now() >= m_deadline) {
        m_reason = ErrorKind::Timeout;
        return true;
    }
    return false;
}

struct Engine::Impl {
    explicit Impl(TableResolver& r) : resolver(r) {}
    ~Impl() { sqlite3_close_v2(db); }
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    TableResolver& resolver;
    sqlite3* db = nullptr;
    std::mutex mutex;  // one statement of the connection at a time
    Control* control = nullptr;
    bool internal = false;  // the engine's own statements (declaring tables)
    // The workbook's tables the statements named so far, by name: each a
    // virtual table over its source, read where it lies.
    std::map<std::u16string, std::unique_ptr<GridSource>, NameLess> loaded;
    // The same names as UTF-8, as the authorizer and the virtual tables
    // receive them (SQLite folds ASCII letters only).
    std::map<std::string, GridSource*, Utf8NameLess> loadedUtf8;
    // The first thing the authorizer refused in the statement being compiled.
    int deniedAction = 0;
    std::string deniedName;

    void open();
    void exec(const char* sql);
    [[noreturn]] void fail(ErrorKind kind, const std::string& what);
    [[noreturn]] void stopped();
    void load(std::u16string_view name);
    void declare(std::u16string_view name, std::unique_ptr<SourceTable> table);
    [[nodiscard]] std::string toUtf8(std::u16string_view text);
    static int connectGrid(sqlite3* db, void* aux, int argc, const char* const* argv,
                           sqlite3_vtab** out, char** error);
    static int createGrid(sqlite3* db, void* aux, int argc, const char* const* argv,
                          sqlite3_vtab** out, char** error);
    static int filterGrid(sqlite3_vtab_cursor* cursor, int idxNum, const char* idxStr, int argc,
                          sqlite3_value** argv);
    static int columnGrid(sqlite3_vtab_cursor* cursor, sqlite3_context* context, int column);
    static const sqlite3_module gridModule;
    static int authorize(void* self, int action, const char* a, const char* b, const char* db,
                         const char* trigger);
    static int progress(void* self);
    [[noreturn]] void refused();
};

void Engine::Impl::exec(const char* sql) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        const std::string text = message != nullptr ? message : sqlite3_errmsg(db);
        sqlite3_free(message);
        if (sqlite3_errcode(db) == SQLITE_INTERRUPT) {
            stopped();
        }
        fail(ErrorKind::Failed, text);
    }
}

void Engine::Impl::fail(ErrorKind kind, const std::string& what) {
    throw Error(kind, what);
}

void Engine::Impl::stopped() {
    if (control != nullptr && control->reason() == ErrorKind::Timeout) {
        throw Error(ErrorKind::Timeout, "The statement ran longer than its query timeout allows");
    }
    throw Error(ErrorKind::Cancelled, "The statement was cancelled");
}

void Engine::Impl::open() {
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_MEMORY |
                      SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_PRIVATECACHE | SQLITE_OPEN_EXRESCODE;
    if (sqlite3_open_v2(":memory:", &db, flags, nullptr) != SQLITE_OK) {
        fail(ErrorKind::Failed, std::string("The SQL engine cannot start: ") +
                                    (db != nullptr ? sqlite3_errmsg(db) : "out of memory"));
    }
    exec("PRAGMA encoding = 'UTF-16le'");
    // Sorts and temporary results stay in memory up to 64 MB; past that
    // they go to temporary files, so that memory stays bounded.
    exec("PRAGMA temp_store = FILE");
    exec("PRAGMA cache_size = -65536");
    exec("PRAGMA journal_mode = OFF");
    // Nothing but the engine's own statements may change the database.
    for (const int option :
         {SQLITE_DBCONFIG_ENABLE_TRIGGER, SQLITE_DBCONFIG_ENABLE_VIEW,
          SQLITE_DBCONFIG_ENABLE_FTS3_TOKENIZER, SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION,
          SQLITE_DBCONFIG_TRUSTED_SCHEMA, SQLITE_DBCONFIG_DQS_DDL}) {
        sqlite3_db_config(db, option, 0, nullptr);
    }
    sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_limit(db, SQLITE_LIMIT_SQL_LENGTH, kMaxStatementBytes);
    sqlite3_limit(db, SQLITE_LIMIT_LENGTH, kMaxValueBytes);
    sqlite3_limit(db, SQLITE_LIMIT_EXPR_DEPTH, kMaxExpressionDepth);
    sqlite3_limit(db, SQLITE_LIMIT_COMPOUND_SELECT, kMaxCompoundSelects);
    sqlite3_limit(db, SQLITE_LIMIT_ATTACHED, 0);
    sqlite3_limit(db, SQLITE_LIMIT_TRIGGER_DEPTH, 1);
    sqlite3_limit(db, SQLITE_LIMIT_WORKER_THREADS, 0);
    sqlite3_limit(db, SQLITE_LIMIT_VARIABLE_NUMBER, 999);
    registerFunctions(db);
    sqlite3_create_module_v2(db, "workbook", &gridModule, this, nullptr);
    sqlite3_set_authorizer(db, &Impl::authorize, this);
    sqlite3_progress_handler(db, kProgressSteps, &Impl::progress, this);
}

int Engine::Impl::progress(void* self) {
    auto* e = static_cast<Impl*>(self);
    return e->control != nullptr && e->control->shouldStop() ? 1 : 0;
}

int Engine::Impl::authorize(void* self, int action, const char* a, const char* b,
                            const char* /*db*/, const char* /*trigger*/) {
    auto* e = static_cast<Impl*>(self);
    if (e->internal) {
        return SQLITE_OK;
    }
    switch (action) {
        case SQLITE_SELECT:
        case SQLITE_RECURSIVE:
            return SQLITE_OK;
        case SQLITE_READ: {
            // Only the workbook's tables: not the schema, not the engine's
            // built-in virtual tables.
            if (a != nullptr && e->loadedUtf8.contains(a)) {
                return SQLITE_OK;
            }
            break;
        }
        case SQLITE_FUNCTION:
            if (b != nullptr && isAllowedFunction(b)) {
                return SQLITE_OK;
            }
            break;
        default:
            break;
    }
    if (e->deniedAction == 0) {
        e->deniedAction = action;
        e->deniedName =
            action == SQLITE_FUNCTION ? (b != nullptr ? b : "") : (a != nullptr ? a : "");
    }
    return SQLITE_DENY;
}

void Engine::Impl::refused() {
    const int action = deniedAction;
    const std::string name = deniedName;
    switch (action) {
        case SQLITE_ATTACH:
        case SQLITE_DETACH:
            fail(
                ErrorKind::ReadOnly,
                "ATTACH and DETACH are not allowed: a statement reads the connected workbook only");
        case SQLITE_PRAGMA:
            fail(ErrorKind::ReadOnly, "PRAGMA is not allowed: the engine's settings are fixed");
        case SQLITE_FUNCTION:
            fail(ErrorKind::ReadOnly, "The function " + name + " is not allowed");
        case SQLITE_READ:
            fail(ErrorKind::ReadOnly, "The table \"" + name + "\" is not a table of the workbook");
        default:
            fail(ErrorKind::ReadOnly,
                 "The workbook is read-only: a statement may only read it (SELECT)");
    }
}

void Engine::Impl::load(std::u16string_view name) {
    std::unique_ptr<SourceTable> table = resolver.open(name);
    std::u16string_view created = name;
    // `"main"."Sheet1$"`: the engine names its schema; the table is the rest.
    if (!table && startsWithNoCase(name, u"main.")) {
        created = name.substr(5);
        table = resolver.open(created);
    }
    if (!table || loaded.contains(std::u16string(created))) {
        resolver.missing(name);
    }
    declare(created, std::move(table));
}

namespace {

// The virtual table module over the workbook's tables.
struct GridVtab : sqlite3_vtab {
    Engine::Impl* engine = nullptr;
    GridSource* source = nullptr;
};

struct GridCursor : sqlite3_vtab_cursor {
    GridSource* source = nullptr;
    Engine::Impl* engine = nullptr;
    std::vector<bool> wanted;  // the columns the statement reads
    std::vector<Value> values;
    // A lookup's rows; a sorted scan's order; a scan walks every row.
    std::vector<uint32_t> matches;
    bool lookup = false;
    const std::vector<uint32_t>* order = nullptr;
    size_t at = 0;
    uint32_t rows = 0;
};

void setError(sqlite3_vtab* vtab, const char* message) {
    sqlite3_free(vtab->zErrMsg);
    vtab->zErrMsg = sqlite3_mprintf("%s", message);
}

uint32_t currentRow(const GridCursor& c) {
    if (c.lookup) {
        return c.matches[c.at];
    }
    return c.order != nullptr ? (*c.order)[c.at] : static_cast<uint32_t>(c.at);
}

}  // namespace

// The table a CREATE VIRTUAL TABLE names is the one load() is declaring;
// a later connect finds it by name.
int Engine::Impl::connectGrid(sqlite3* db, void* aux, int argc, const char* const* argv,
                              sqlite3_vtab** out, char** error) {
    auto* e = static_cast<Impl*>(aux);
    if (argc < 3) {
        return SQLITE_ERROR;
    }
    const auto found = e->loadedUtf8.find(argv[2]);
    if (found == e->loadedUtf8.end()) {
        *error = sqlite3_mprintf("no such table: %s", argv[2]);
        return SQLITE_ERROR;
    }
    GridSource* source = found->second;
    std::u16string create = u"CREATE TABLE x(";
    const std::vector<std::u16string>& columns = source->columns();
    for (size_t c = 0; c < columns.size(); ++c) {
        create += (c == 0 ? u"" : u",") + quotedName(columns[c]) + u" COLLATE FOLDED";
    }
    create += u")";
    const int rc = sqlite3_declare_vtab(db, e->toUtf8(create).c_str());
    if (rc != SQLITE_OK) {
        return rc;
    }
    sqlite3_vtab_config(db, SQLITE_VTAB_DIRECTONLY);
    auto* vtab = new (std::nothrow) GridVtab();
    if (vtab == nullptr) {
        return SQLITE_NOMEM;
    }
    vtab->engine = e;
    vtab->source = source;
    *out = vtab;
    return SQLITE_OK;
}

// A distinct create keeps the module from also being a table of its own
// name.
int Engine::Impl::createGrid(sqlite3* db, void* aux, int argc, const char* const* argv,
                             sqlite3_vtab** out, char** error) {
    return connectGrid(db, aux, argc, argv, out, error);
}

namespace {

int disconnectGrid(sqlite3_vtab* vtab) {
    delete static_cast<GridVtab*>(vtab);
    return SQLITE_OK;
}

// A scan reads every row; an equality on a column (a join's inner side, a
// filter on one value) is answered from that column's index. The engine
// checks each row it is handed, so the index may hand it more.
int bestIndex(sqlite3_vtab* tab, sqlite3_index_info* info) {
    const auto* vtab = static_cast<GridVtab*>(tab);
    const double rows = std::max(1.0, static_cast<double>(vtab->source->rowCount()));
    int equal = -1;
    for (int i = 0; i < info->nConstraint; ++i) {
        const auto& c = info->aConstraint[i];
        if (c.usable == 0 || c.op != SQLITE_INDEX_CONSTRAINT_EQ || c.iColumn < 0) {
            continue;
        }
        // Collations under which equal texts are equal ignoring case too.
        const char* collation = sqlite3_vtab_collation(info, i);
        if (collation != nullptr && sqlite3_stricmp(collation, "FOLDED") != 0 &&
            sqlite3_stricmp(collation, "BINARY") != 0 &&
            sqlite3_stricmp(collation, "NOCASE") != 0) {
            continue;
        }
        equal = i;
        break;
    }
    // A scan in the order the statement asks for (ORDER BY or GROUP BY on
    // the table's columns) is sorted here, the engine's own sort left out:
    // only the keys are sorted, not whole rows. A DISTINCT alone is left to
    // the engine, which keeps the rows in table order.
    // Keys past a few million are left to the engine's sort, which keeps
    // its memory bounded (temporary files).
    constexpr double kMaxSortedKeys = 4'000'000;
    std::string order;
    if (equal < 0 && info->nOrderBy > 0 && sqlite3_vtab_distinct(info) != 2 &&
        rows * info->nOrderBy <= kMaxSortedKeys) {
        for (int i = 0; i < info->nOrderBy; ++i) {
            const auto& term = info->aOrderBy[i];
            if (term.iColumn < 0) {
                order.clear();
                break;
            }
            order += "," + std::to_string(term.iColumn) + (term.desc != 0 ? "d" : "a");
        }
    }
    info->idxStr =
        sqlite3_mprintf("%llx%s", static_cast<unsigned long long>(info->colUsed), order.c_str());
    info->needToFreeIdxStr = 1;
    info->orderByConsumed = order.empty() ? 0 : 1;
    if (equal >= 0) {
        info->aConstraintUsage[equal].argvIndex = 1;
        info->aConstraintUsage[equal].omit = 0;
        info->idxNum = info->aConstraint[equal].iColumn + 1;
        info->estimatedCost = 10 + std::log2(rows);
        info->estimatedRows = 10;
    } else {
        info->idxNum = 0;
        info->estimatedCost = rows;
        info->estimatedRows = static_cast<sqlite3_int64>(rows);
    }
    return SQLITE_OK;
}

int openGrid(sqlite3_vtab* tab, sqlite3_vtab_cursor** out) {
    auto* vtab = static_cast<GridVtab*>(tab);
    auto* cursor = new (std::nothrow) GridCursor();
    if (cursor == nullptr) {
        return SQLITE_NOMEM;
    }
    cursor->source = vtab->source;
    cursor->engine = vtab->engine;
    *out = cursor;
    return SQLITE_OK;
}

int closeGrid(sqlite3_vtab_cursor* cursor) {
    delete static_cast<GridCursor*>(cursor);
    return SQLITE_OK;
}

int nextGrid(sqlite3_vtab_cursor* cursor) {
    ++static_cast<GridCursor*>(cursor)->at;
    return SQLITE_OK;
}

int eofGrid(sqlite3_vtab_cursor* cursor) {
    const auto* c = static_cast<GridCursor*>(cursor);
    const size_t size = c->lookup ? c->matches.size() : c->rows;
    return c->at >= size ? 1 : 0;
}

int rowidGrid(sqlite3_vtab_cursor* cursor, sqlite3_int64* rowid) {
    *rowid = sqlite3_int64{1} + currentRow(*static_cast<GridCursor*>(cursor));
    return SQLITE_OK;
}

}  // namespace

int Engine::Impl::filterGrid(sqlite3_vtab_cursor* cursor, int idxNum, const char* idxStr, int argc,
                             sqlite3_value** argv) {
    auto* c = static_cast<GridCursor*>(cursor);
    try {
        const size_t columns = c->source->columns().size();
        if (c->wanted.size() != columns) {
            // Column 63 stands for every column from 63 on.
            const unsigned long long used =
                idxStr != nullptr ? std::strtoull(idxStr, nullptr, 16) : ~0ULL;
            c->wanted.assign(columns, false);
            for (size_t i = 0; i < columns; ++i) {
                c->wanted[i] = ((used >> std::min<size_t>(i, 63)) & 1U) != 0;
            }
            c->values.assign(columns, Value{});
        }
        c->source->forget();
        c->at = 0;
        c->rows = c->source->rowCount();
        c->lookup = idxNum > 0 && argc > 0;
        c->order = nullptr;
        if (!c->lookup && idxStr != nullptr && std::strchr(idxStr, ',') != nullptr) {
            std::vector<std::pair<uint16_t, bool>> terms;
            for (const char* p = std::strchr(idxStr, ','); p != nullptr;
                 p = std::strchr(p + 1, ',')) {
                char* end = nullptr;
                const unsigned long column = std::strtoul(p + 1, &end, 10);
                terms.emplace_back(static_cast<uint16_t>(column), end != nullptr && *end == 'd');
            }
            c->order = c->source->ordered(terms, c->engine->control);
            if (c->order == nullptr) {
                return SQLITE_INTERRUPT;
            }
        }
        if (c->lookup && !c->source->lookup(static_cast<uint16_t>(idxNum - 1), argv[0], c->matches,
                                            c->engine->control)) {
            return SQLITE_INTERRUPT;
        }
        return SQLITE_OK;
    } catch (const std::bad_alloc&) {
        return SQLITE_NOMEM;
    } catch (const std::exception& e) {
        setError(cursor->pVtab, e.what());
        return SQLITE_ERROR;
    }
}

int Engine::Impl::columnGrid(sqlite3_vtab_cursor* cursor, sqlite3_context* context, int column) {
    auto* c = static_cast<GridCursor*>(cursor);
    try {
        const auto col = static_cast<size_t>(column);
        if (col >= c->values.size() || !c->wanted[col]) {
            sqlite3_result_null(context);
            return SQLITE_OK;
        }
        // The row's wanted columns are read at its first column asked for.
        c->source->read(c, currentRow(*c), c->values, c->wanted);
        const Value& v = c->values[col];
        switch (v.kind) {
            case Value::Kind::Number:
                sqlite3_result_double(context, v.number);
                break;
            case Value::Kind::Integer:
                sqlite3_result_int64(context, v.integer);
                break;
            case Value::Kind::Text:
                sqlite3_result_text16(context, v.text.data(), static_cast<int>(v.text.size() * 2),
                                      SQLITE_TRANSIENT);
                break;
            case Value::Kind::Null:
                sqlite3_result_null(context);
                break;
        }
        return SQLITE_OK;
    } catch (const std::bad_alloc&) {
        return SQLITE_NOMEM;
    } catch (const std::exception& e) {
        setError(cursor->pVtab, e.what());
        return SQLITE_ERROR;
    }
}

const sqlite3_module Engine::Impl::gridModule = {
    /* iVersion */ 3,
    /* xCreate */ &Engine::Impl::createGrid,
    /* xConnect */ &Engine::Impl::connectGrid,
    /* xBestIndex */ &bestIndex,
    /* xDisconnect */ &disconnectGrid,
    /* xDestroy */ &disconnectGrid,
    /* xOpen */ &openGrid,
    /* xClose */ &closeGrid,
    /* xFilter */ &Engine::Impl::filterGrid,
    /* xNext */ &nextGrid,
    /* xEof */ &eofGrid,
    /* xColumn */ &Engine::Impl::columnGrid,
    /* xRowid */ &rowidGrid,
    /* xUpdate */ nullptr,
    /* xBegin */ nullptr,
    /* xSync */ nullptr,
    /* xCommit */ nullptr,
    /* xRollback */ nullptr,
    /* xFindFunction */ nullptr,
    /* xRename */ nullptr,
    /* xSavepoint */ nullptr,
    /* xRelease */ nullptr,
    /* xRollbackTo */ nullptr,
    /* xShadowName */ nullptr,
};

// Declares the table as a virtual table over its source, under exactly the
// name the statement uses.
void Engine::Impl::declare(std::u16string_view name, std::unique_ptr<SourceTable> table) {
    const std::vector<std::u16string>& columns = table->columns();
    if (columns.size() > static_cast<size_t>(kMaxColumns)) {
        fail(ErrorKind::Limit, "The table \"" + utf8(name) + "\" has " +
                                   std::to_string(columns.size()) +
                                   " columns; a statement other than SELECT * reads at most " +
                                   std::to_string(kMaxColumns));
    }
    const std::string utf8Name = toUtf8(name);
    auto source = std::make_unique<GridSource>(std::move(table));
    GridSource* const pointer = source.get();
    loaded.emplace(std::u16string(name), std::move(source));
    loadedUtf8.emplace(utf8Name, pointer);
    const std::u16string create =
        u"CREATE VIRTUAL TABLE main." + quotedName(name) + u" USING workbook";
    internal = true;
    sqlite3_stmt* stmt = nullptr;
    const int prepared = sqlite3_prepare16_v2(db, create.data(),
                                              static_cast<int>(create.size() * 2), &stmt, nullptr);
    const int done = prepared == SQLITE_OK ? sqlite3_step(stmt) : prepared;
    sqlite3_finalize(stmt);
    internal = false;
    if (done != SQLITE_DONE) {
        const std::string message = sqlite3_errmsg(db);
        loadedUtf8.erase(utf8Name);
        loaded.erase(std::u16string(name));
        fail(ErrorKind::Failed,
             "The table \"" + utf8(name) + "\" cannot be read into the engine: " + message);
    }
}

// A text as SQLite itself turns UTF-16 into UTF-8, so that names declared
// here match those it reads from statements.
std::string Engine::Impl::toUtf8(std::u16string_view text) {
    const bool wasInternal = internal;
    internal = true;
    sqlite3_stmt* stmt = nullptr;
    std::string out;
    if (sqlite3_prepare_v2(db, "SELECT ?", -1, &stmt, nullptr) == SQLITE_OK &&
        sqlite3_bind_text16(stmt, 1, text.data(), static_cast<int>(text.size() * 2),
                            SQLITE_STATIC) == SQLITE_OK &&
        sqlite3_step(stmt) == SQLITE_ROW) {
        const auto* bytes = sqlite3_column_text(stmt, 0);
        out.assign(bytes != nullptr ? reinterpret_cast<const char*>(bytes) : "",
                   static_cast<size_t>(sqlite3_column_bytes(stmt, 0)));
    } else {
        out = utf8(text);
    }
    sqlite3_finalize(stmt);
    internal = wasInternal;
    return out;
}

Engine::Engine(TableResolver& tables) : m(std::make_unique<Impl>(tables)) {
    m->open();
}

Engine::~Engine() = default;

namespace {

// Sets the control of the running statement for the length of a call.
struct Running {
    Running(Engine::Impl& e, Control& c) : engine(e) { engine.control = &c; }
    ~Running() { engine.control = nullptr; }
    Running(const Running&) = delete;
    Running& operator=(const Running&) = delete;
    Engine::Impl& engine;
};

bool onlySpaceOrSemicolons(const char16_t* tail, const char16_t* end) {
    for (const char16_t* p = tail; p < end; ++p) {
        if (*p != u' ' && *p != u'\t' && *p != u'\r' && *p != u'\n' && *p != u';' && *p != 0) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::unique_ptr<Query> Engine::prepare(std::u16string_view text, Control& control) {
    const std::lock_guard lock(m->mutex);
    const Running running(*m, control);
    const std::u16string owned(text);
    const char16_t* end = owned.data() + owned.size();
    for (int attempt = 0;; ++attempt) {
        m->deniedAction = 0;
        sqlite3_stmt* stmt = nullptr;
        const void* tail = nullptr;
        const int rc = sqlite3_prepare16_v2(
            m->db, owned.data(), static_cast<int>(owned.size() * sizeof(char16_t)), &stmt, &tail);
        if (rc == SQLITE_OK) {
            std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> owner(stmt, sqlite3_finalize);
            if (stmt == nullptr) {
                m->fail(ErrorKind::Syntax, "The statement is empty");
            }
            if (!onlySpaceOrSemicolons(static_cast<const char16_t*>(tail), end)) {
                m->fail(ErrorKind::Syntax,
                        "Only one statement may be run at a time; something follows the first");
            }
            if (sqlite3_stmt_readonly(stmt) == 0) {
                m->fail(ErrorKind::ReadOnly,
                        "The workbook is read-only: a statement may only read it (SELECT)");
            }
            return std::make_unique<Query>(*m, owner.release());
        }
        if (m->deniedAction != 0) {
            m->refused();
        }
        if ((rc & 0xFF) == SQLITE_INTERRUPT) {
            m->stopped();
        }
        const auto* message = static_cast<const char16_t*>(sqlite3_errmsg16(m->db));
        const std::u16string_view msg(message);
        constexpr std::u16string_view kNoTable = u"no such table: ";
        if (msg.starts_with(kNoTable) && attempt < kMaxTablesPerStatement) {
            const std::u16string name(msg.substr(kNoTable.size()));
            m->load(name);
            continue;
        }
        if ((rc & 0xFF) == SQLITE_TOOBIG || (rc & 0xFF) == SQLITE_NOMEM) {
            m->fail(ErrorKind::Limit,
                    "The statement is too large or too deeply nested for the "
                    "engine (" +
                        utf8(msg) + ")");
        }
        m->fail(ErrorKind::Syntax, utf8(msg));
    }
}

Query::Query(Engine::Impl& engine, void* statement) : m_engine(engine), m_statement(statement) {
    auto* stmt = static_cast<sqlite3_stmt*>(m_statement);
    const int n = sqlite3_column_count(stmt);
    for (int i = 0; i < n; ++i) {
        const auto* name = static_cast<const char16_t*>(sqlite3_column_name16(stmt, i));
        m_names.emplace_back(name != nullptr ? name : u"");
        const auto* table = static_cast<const char16_t*>(sqlite3_column_table_name16(stmt, i));
        const auto* origin = static_cast<const char16_t*>(sqlite3_column_origin_name16(stmt, i));
        if (table != nullptr && origin != nullptr) {
            m_origins.emplace_back(ColumnOrigin{table, origin});
        } else {
            m_origins.emplace_back(std::nullopt);
        }
    }
}

Query::~Query() {
    const std::lock_guard lock(m_engine.mutex);
    sqlite3_finalize(static_cast<sqlite3_stmt*>(m_statement));
}

int Query::parameterCount() const {
    return sqlite3_bind_parameter_count(static_cast<sqlite3_stmt*>(m_statement));
}

TextTable Query::run(const std::vector<Value>& parameters, Control& control, uint64_t maxRows) {
    const std::lock_guard lock(m_engine.mutex);
    const Running running(m_engine, control);
    auto* stmt = static_cast<sqlite3_stmt*>(m_statement);
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
    const int count = sqlite3_bind_parameter_count(stmt);
    if (static_cast<size_t>(count) > parameters.size()) {
        m_engine.fail(ErrorKind::Parameters,
                      "The statement has " + std::to_string(count) + " parameter markers but " +
                          std::to_string(parameters.size()) + " parameters are bound");
    }
    for (int i = 0; i < count; ++i) {
        const Value& v = parameters[static_cast<size_t>(i)];
        switch (v.kind) {
            case Value::Kind::Number:
                sqlite3_bind_double(stmt, i + 1, v.number);
                break;
            case Value::Kind::Integer:
                sqlite3_bind_int64(stmt, i + 1, v.integer);
                break;
            case Value::Kind::Text:
                sqlite3_bind_text16(stmt, i + 1, v.text.data(), static_cast<int>(v.text.size() * 2),
                                    SQLITE_TRANSIENT);
                break;
            case Value::Kind::Null:
                break;
        }
    }
    TextTable table(m_names);
    const int columns = sqlite3_column_count(stmt);
    uint64_t rows = 0;
    for (;;) {
        if (maxRows != 0 && rows >= maxRows) {
            break;
        }
        const int rc = sqlite3_step(stmt);
        if (rc == SQLITE_DONE) {
            break;
        }
        if (rc != SQLITE_ROW) {
            const std::string message = sqlite3_errmsg(m_engine.db);
            sqlite3_reset(stmt);
            if ((rc & 0xFF) == SQLITE_INTERRUPT) {
                m_engine.stopped();
            }
            if ((rc & 0xFF) == SQLITE_TOOBIG || (rc & 0xFF) == SQLITE_NOMEM) {
                m_engine.fail(ErrorKind::Limit,
                              "The statement's result is too large (" + message + ")");
            }
            m_engine.fail(ErrorKind::Failed, message);
        }
        ++rows;
        if (table.bytes() > kMaxResultBytes) {
            sqlite3_reset(stmt);
            m_engine.fail(ErrorKind::Limit,
                          "The result is larger than " + std::to_string(kMaxResultBytes >> 20) +
                              " MB after " + std::to_string(rows - 1) +
                              " rows; narrow the statement (WHERE, TOP) or read the table with "
                              "SELECT *");
        }
        for (int c = 0; c < columns; ++c) {
            switch (sqlite3_column_type(stmt, c)) {
                case SQLITE_NULL:
                    table.addNull();
                    break;
                case SQLITE_INTEGER: {
                    char digits[24] = {};
                    const char* end =
                        std::to_chars(digits, digits + sizeof digits, sqlite3_column_int64(stmt, c))
                            .ptr;
                    char16_t wide[24] = {};
                    size_t n = 0;
                    for (const char* p = digits; p < end; ++p) {
                        wide[n++] = static_cast<char16_t>(*p);
                    }
                    table.add(std::u16string_view(wide, n));
                    break;
                }
                case SQLITE_FLOAT: {
                    char16_t number[40] = {};
                    table.add(std::u16string_view(
                        number, numberText(sqlite3_column_double(stmt, c), number)));
                    break;
                }
                case SQLITE_TEXT: {
                    // The database's own UTF-16 bytes, as they are: asking
                    // for them as a text would copy each to end it with a
                    // zero.
                    const void* text = sqlite3_column_blob(stmt, c);
                    const auto bytes = static_cast<size_t>(sqlite3_column_bytes(stmt, c));
                    table.addUnits(text, text != nullptr ? bytes / 2 : 0);
                    break;
                }
                default: {
                    const auto* text = static_cast<const char16_t*>(sqlite3_column_text16(stmt, c));
                    const auto bytes = static_cast<size_t>(sqlite3_column_bytes16(stmt, c));
                    table.addUnits(text, text != nullptr ? bytes / 2 : 0);
                    break;
                }
            }
        }
    }
    sqlite3_reset(stmt);
    return table;
}

}  // namespace sql
