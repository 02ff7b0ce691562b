// The engine: the connection's SQLite database, the copy of each table a
// statement names, the authorizer, the limits and the stop checks.
#include "sql/engine.h"

#include "sql/functions.h"

#include <sqlite3.h>
#include <unicode/ustring.h>

#include <charconv>
#include <map>
#include <mutex>
#include <set>

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
    bool internal = false;  // the engine's own statements (copying tables)
    // The tables copied in, by name: their source, which of their columns
    // hold values, whether their rows are in.
    struct Copied {
        std::unique_ptr<SourceTable> source;
        std::vector<bool> filled;
        bool rows = false;
        // A copy was stopped part way (timeout, cancel): the rows it wrote
        // stay (the database keeps no journal), so the next copy clears
        // them first.
        bool partial = false;
    };
    std::map<std::u16string, Copied, NameLess> loaded;
    // The same names as UTF-8, as the authorizer receives them (SQLite
    // folds ASCII letters only).
    std::set<std::string, Utf8NameLess> loadedUtf8;
    // The columns the statement being compiled reads, by table.
    std::map<std::string, std::set<std::string, Utf8NameLess>, Utf8NameLess> reads;
    // The first thing the authorizer refused in the statement being compiled.
    int deniedAction = 0;
    std::string deniedName;

    void open();
    void exec(const char* sql);
    [[noreturn]] void fail(ErrorKind kind, const std::string& what);
    [[noreturn]] void stopped();
    void load(std::u16string_view name);
    void declare(std::u16string_view name, std::unique_ptr<SourceTable> table);
    void fill();
    void copy(const std::u16string& name, Copied& table, const std::vector<bool>& wanted);
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
                e->reads[a].insert(b != nullptr ? b : "");
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

// Creates the table's columns; its values come once the statement that
// names it is compiled and says which columns it reads (fill()).
void Engine::Impl::declare(std::u16string_view name, std::unique_ptr<SourceTable> table) {
    const std::vector<std::u16string>& columns = table->columns();
    if (columns.size() > static_cast<size_t>(kMaxColumns)) {
        fail(ErrorKind::Limit, "The table \"" + utf8(name) + "\" has " +
                                   std::to_string(columns.size()) +
                                   " columns; a statement other than SELECT * reads at most " +
                                   std::to_string(kMaxColumns));
    }
    std::u16string create = u"CREATE TABLE main." + quotedName(name) + u"(";
    for (size_t c = 0; c < columns.size(); ++c) {
        create += (c == 0 ? u"" : u",") + quotedName(columns[c]) + u" COLLATE FOLDED";
    }
    create += u")";
    internal = true;
    sqlite3_stmt* stmt = nullptr;
    const int prepared = sqlite3_prepare16_v2(db, create.data(),
                                              static_cast<int>(create.size() * 2), &stmt, nullptr);
    const int done = prepared == SQLITE_OK ? sqlite3_step(stmt) : prepared;
    sqlite3_finalize(stmt);
    internal = false;
    if (done != SQLITE_DONE) {
        fail(ErrorKind::Failed, "The table \"" + utf8(name) +
                                    "\" cannot be read into the engine: " + sqlite3_errmsg(db));
    }
    Copied copied;
    copied.filled.assign(columns.size(), false);
    copied.source = std::move(table);
    loaded.emplace(std::u16string(name), std::move(copied));
    loadedUtf8.insert(utf8(name));
}

void Engine::Impl::fill() {
    for (auto& [name, table] : loaded) {
        const std::vector<std::u16string>& columns = table.source->columns();
        std::vector<bool> wanted = table.filled;
        bool more = false;
        if (const auto r = reads.find(utf8(name)); r != reads.end()) {
            for (size_t c = 0; c < columns.size(); ++c) {
                if (!wanted[c] && r->second.contains(utf8(columns[c]))) {
                    wanted[c] = true;
                    more = true;
                }
            }
        }
        if (!table.rows || more) {
            copy(name, table, wanted);
        }
    }
}

void Engine::Impl::copy(const std::u16string& name, Copied& table,
                        const std::vector<bool>& wanted) {
    const std::vector<std::u16string>& columns = table.source->columns();
    std::u16string insert = u"INSERT INTO main." + quotedName(name);
    std::u16string list;
    std::u16string marks;
    for (size_t c = 0; c < columns.size(); ++c) {
        if (wanted[c]) {
            list += (list.empty() ? u"(" : u",") + quotedName(columns[c]);
            marks += marks.empty() ? u"?" : u",?";
        }
    }
    insert += list.empty() ? u" DEFAULT VALUES" : list + u") VALUES(" + marks + u")";

    internal = true;
    struct Restore {
        Impl& e;
        bool committed = false;
        ~Restore() {
            if (!committed) {
                sqlite3_exec(e.db, "ROLLBACK", nullptr, nullptr, nullptr);
            }
            e.internal = false;
        }
    } restore{*this};
    exec("BEGIN");
    if (table.rows || table.partial) {
        // More columns than the copy holds (the rows again, with them), or
        // what a stopped copy left.
        exec(("DELETE FROM main." + utf8(quotedName(name))).c_str());
    }
    table.partial = true;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare16_v2(db, insert.data(), static_cast<int>(insert.size() * 2), &stmt,
                             nullptr) != SQLITE_OK) {
        fail(ErrorKind::Failed, "The table \"" + utf8(name) +
                                    "\" cannot be read into the engine: " + sqlite3_errmsg(db));
    }
    std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> owned(stmt, sqlite3_finalize);
    std::vector<Value> values(columns.size());
    const uint32_t rows = table.source->rowCount();
    for (uint32_t r = 0; r < rows; ++r) {
        table.source->readRow(r, values, wanted);
        int i = 0;
        for (size_t c = 0; c < values.size(); ++c) {
            if (!wanted[c]) {
                continue;
            }
            ++i;
            const Value& v = values[c];
            switch (v.kind) {
                case Value::Kind::Number:
                    sqlite3_bind_double(stmt, i, v.number);
                    break;
                case Value::Kind::Integer:
                    sqlite3_bind_int64(stmt, i, v.integer);
                    break;
                case Value::Kind::Text:
                    sqlite3_bind_text16(stmt, i, v.text.data(), static_cast<int>(v.text.size() * 2),
                                        SQLITE_STATIC);
                    break;
                case Value::Kind::Null:
                    sqlite3_bind_null(stmt, i);
                    break;
            }
        }
        const int rc = sqlite3_step(stmt);
        sqlite3_reset(stmt);
        if (rc != SQLITE_DONE) {
            if ((rc & 0xFF) == SQLITE_INTERRUPT) {
                stopped();
            }
            fail(ErrorKind::Failed, "The table \"" + utf8(name) +
                                        "\" cannot be read into the engine: " + sqlite3_errmsg(db));
        }
    }
    owned.reset();
    exec("COMMIT");
    restore.committed = true;
    table.filled = wanted;
    table.rows = true;
    table.partial = false;
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
        m->reads.clear();
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
            m->fill();
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
                default: {
                    const auto* text = static_cast<const char16_t*>(sqlite3_column_text16(stmt, c));
                    const auto bytes = static_cast<size_t>(sqlite3_column_bytes16(stmt, c));
                    table.add(text != nullptr ? std::u16string_view(text, bytes / 2)
                                              : std::u16string_view());
                    break;
                }
            }
        }
    }
    sqlite3_reset(stmt);
    return table;
}

}  // namespace sql
