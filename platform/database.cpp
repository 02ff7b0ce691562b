// Database classes over unixODBC's wide API: connections, statements read
// forward, the diagnostic text of failures, and the fetching behind
// GetFieldValue.
//
// A forward-only recordset without bound fields fetches its rows in blocks:
// every column is bound as SQL_C_WCHAR with room for its reported size, and
// SQL_ATTR_ROW_ARRAY_SIZE rows arrive per SQLFetch, so that reading a large
// sheet costs one driver call per block instead of one per field. When a
// driver reports a size smaller than a value it then delivers (a truncated
// bound value), the statement is run again and read per field with
// SQLGetData from the row where the block began, so values always come out
// whole. Every other recordset reads per field with SQLGetData.
#include "platform/database.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

namespace {

constexpr int kNameBufferChars = 256;      // column names: 255 characters and a terminator
constexpr SQLULEN kMaxBoundChars = 32768;  // widest column bound for block fetches
constexpr SQLULEN kTextMargin = 32;        // text of numbers and dates may exceed their size
constexpr size_t kBlockBytes = 4u << 20;   // memory for one block of rows
constexpr SQLULEN kMaxBlockRows = 256;     // rows per block at most
constexpr size_t kPieceChars = 4096;       // SQLGetData buffer, in characters
constexpr SQLSMALLINT kConnectOutChars = 1024;

using odbc_detail::RepeatWhileExecuting;

// A NUL-terminated SQLWCHAR copy of a wide text (an empty one for null).
std::vector<SQLWCHAR> ToSqlWide(const char16_t* text) {
    const std::u16string_view view = text ? std::u16string_view(text) : std::u16string_view();
    std::vector<SQLWCHAR> out(view.size() + 1, 0);
    std::copy(view.begin(), view.end(), out.begin());
    return out;
}

// SQLWCHAR and char16_t are both 16-bit code units: a text is copied in
// one block.
static_assert(sizeof(SQLWCHAR) == sizeof(char16_t));

void AppendSqlWide(CString& target, const SQLWCHAR* text, size_t count) {
    const int oldLength = target.GetLength();
    const int newLength = oldLength + static_cast<int>(count);
    char16_t* buffer = target.GetBuffer(newLength);
    std::memcpy(buffer + oldLength, text, count * sizeof(char16_t));
    target.ReleaseBuffer(newLength);
}

CString FromSqlWide(const SQLWCHAR* text, size_t count) {
    CString result;
    AppendSqlWide(result, text, count);
    return result;
}

// The NUL-terminated text at the start of a buffer of capacity characters.
CString TextOfBuffer(const SQLWCHAR* buffer, size_t capacity) {
    const SQLWCHAR* end = std::find(buffer, buffer + capacity, SQLWCHAR{0});
    return FromSqlWide(buffer, static_cast<size_t>(end - buffer));
}

struct DiagRecord {
    CString state;
    SQLINTEGER native = 0;
    CString message;
};

// A message longer than the first buffer is read again into a buffer of its
// reported length, or of the most that SQLGetDiagRecW can take when the
// reported length cannot be right: the length is a SQLSMALLINT, so a
// message of 32,767 characters or more comes back with a wrapped length.
// The text is taken up to its terminator, never by that length.
std::vector<DiagRecord> ReadDiagRecords(SQLSMALLINT handleType, SQLHANDLE handle) {
    constexpr size_t kFirstChars = 512;
    constexpr auto kMostChars = static_cast<size_t>(std::numeric_limits<SQLSMALLINT>::max());
    std::vector<DiagRecord> records;
    if (handle == nullptr)
        return records;
    for (SQLSMALLINT n = 1; n > 0; ++n) {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        std::vector<SQLWCHAR> message(kFirstChars, 0);
        auto read = [&] {
            return SQLGetDiagRecW(handleType, handle, n, state, &native, message.data(),
                                  static_cast<SQLSMALLINT>(message.size()), &length);
        };
        RETCODE rc = read();
        if (rc == SQL_SUCCESS_WITH_INFO) {
            const size_t reported = length > 0 ? static_cast<size_t>(length) : 0;
            const size_t chars =
                reported >= message.size() && reported < kMostChars ? reported + 1 : kMostChars;
            message.assign(chars, 0);
            rc = read();
        }
        if (!SQL_SUCCEEDED(rc))
            break;
        message.back() = 0;
        const auto end = std::find(message.begin(), message.end(), SQLWCHAR{0});
        records.push_back(
            {FromSqlWide(state, 5), native,
             FromSqlWide(message.data(), static_cast<size_t>(end - message.begin()))});
    }
    return records;
}

// The "[vendor][component]" prefix of a diagnostic message.
CString OriginOf(const CString& message) {
    int end = 0;
    while (end < message.GetLength() && message[end] == u'[') {
        const int close = message.Find(u']', end);
        if (close < 0)
            break;
        end = close + 1;
    }
    return message.Left(end);
}

CString TextForReturnCode(RETCODE nRetCode) {
    switch (nRetCode) {
        case SQL_INVALID_HANDLE:
            return u"Invalid ODBC handle (the connection or statement is not open).";
        case SQL_NO_DATA:
            return u"No data found.";
        case SQL_NEED_DATA:
            return u"The driver needs data that the program does not supply.";
        default: {
            CString text;
            text.Format(u"ODBC call failed with return code %d.", nRetCode);
            return text;
        }
    }
}

void SetStmtInteger(SQLHSTMT hstmt, SQLINTEGER attribute, SQLULEN value) {
    SQLSetStmtAttr(hstmt, attribute, reinterpret_cast<SQLPOINTER>(value), 0);
}

}  // namespace

// ---------------------------------------------------------------- handles

namespace odbc_detail {

Handle& Handle::operator=(Handle&& other) noexcept {
    if (this != &other) {
        reset();
        m_type = other.m_type;
        m_handle = other.release();
    }
    return *this;
}

SQLHANDLE Handle::release() noexcept {
    SQLHANDLE handle = m_handle;
    m_handle = nullptr;
    return handle;
}

void Handle::reset() noexcept {
    if (m_handle == nullptr)
        return;
    // A connection must be disconnected before it can be freed; on one that
    // never connected SQLDisconnect just fails (08003), which is harmless.
    if (m_type == SQL_HANDLE_DBC)
        SQLDisconnect(m_handle);
    SQLFreeHandle(m_type, m_handle);
    m_handle = nullptr;
}

}  // namespace odbc_detail

// ------------------------------------------------------------ exceptions

bool CRuntimeClass::IsDerivedFrom(const CRuntimeClass* pBaseClass) const {
    for (const CRuntimeClass* p = this; p != nullptr; p = p->m_pBaseClass) {
        if (p == pBaseClass)
            return true;
    }
    return false;
}

void CDBException::BuildErrorString(const CDatabase* pdb, SQLHSTMT hstmt) {
    std::vector<DiagRecord> records = ReadDiagRecords(SQL_HANDLE_STMT, hstmt);
    if (records.empty() && pdb != nullptr)
        records = ReadDiagRecords(SQL_HANDLE_DBC, pdb->m_hdbc);
    if (records.empty() && pdb != nullptr)
        records = ReadDiagRecords(SQL_HANDLE_ENV, pdb->GetHenv());
    m_strError.Empty();
    m_strStateNativeOrigin.Empty();
    for (const DiagRecord& record : records) {
        if (!m_strError.IsEmpty()) {
            m_strError += u'\n';
            m_strStateNativeOrigin += u'\n';
        }
        // One record is one line: a name the driver echoes (a sheet named
        // "x\r\n...") must not begin another one.
        m_strError += EscapeControlCharacters(record.message);
        CString line;
        line.Format(u"State:%s,Native:%d,Origin:%s", record.state, record.native,
                    OriginOf(record.message));
        m_strStateNativeOrigin += line;
    }
    if (m_strError.IsEmpty())
        m_strError = TextForReturnCode(m_nRetCode);
}

void AfxThrowDBException(RETCODE nRetCode, CDatabase* pdb, SQLHSTMT hstmt) {
    CDBException e(nRetCode);
    e.BuildErrorString(pdb, hstmt);
    throw e;
}

// -------------------------------------------------------------- database

CDatabase::CDatabase() = default;

// The destructors close through their own class's Close: a derived
// object's part is gone by then.
CDatabase::~CDatabase() {
    CDatabase::Close();
}

void CDatabase::AllocEnvironment() {
    if (m_env.get() != nullptr)
        return;
    SQLHENV env = SQL_NULL_HENV;
    const RETCODE rc = SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
    if (!SQL_SUCCEEDED(rc)) {
        CDBException e(rc);
        e.m_strError = u"The ODBC driver manager could not allocate an environment.";
        throw e;
    }
    m_env = odbc_detail::Handle(SQL_HANDLE_ENV, env);
    const RETCODE version =
        SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    if (!SQL_SUCCEEDED(version))
        AfxThrowDBException(version, this, SQL_NULL_HSTMT);
}

BOOL CDatabase::Open(const char16_t* lpszDSN, BOOL /*bExclusive*/, BOOL bReadOnly,
                     const char16_t* lpszConnect, BOOL /*bUseCursorLib*/) {
    if (IsOpen())
        Close();
    CString connect(lpszConnect);
    if (connect.Left(5).CompareNoCase(u"ODBC;") == 0)
        connect = connect.Mid(5);
    if (lpszDSN != nullptr && *lpszDSN != u'\0')
        connect = CString(u"DSN=") + lpszDSN + u";" + connect;

    AllocEnvironment();
    SQLHDBC dbc = SQL_NULL_HDBC;
    RETCODE rc = SQLAllocHandle(SQL_HANDLE_DBC, m_env.get(), &dbc);
    if (!SQL_SUCCEEDED(rc))
        AfxThrowDBException(rc, this, SQL_NULL_HSTMT);
    m_dbc = odbc_detail::Handle(SQL_HANDLE_DBC, dbc);
    m_hdbc = dbc;
    if (bReadOnly) {
        // A hint only: a driver that cannot honour it still connects.
        SQLSetConnectAttrW(dbc, SQL_ATTR_ACCESS_MODE,
                           reinterpret_cast<SQLPOINTER>(SQL_MODE_READ_ONLY), 0);
    }

    std::vector<SQLWCHAR> in = ToSqlWide(connect);
    std::vector<SQLWCHAR> out(kConnectOutChars, 0);
    SQLSMALLINT outLength = 0;
    rc = RepeatWhileExecuting([&] {
        return SQLDriverConnectW(dbc, nullptr, in.data(), SQL_NTS, out.data(), kConnectOutChars,
                                 &outLength, SQL_DRIVER_NOPROMPT);
    });
    if (!SQL_SUCCEEDED(rc)) {
        CDBException e(rc);
        if (rc != SQL_NO_DATA)
            e.BuildErrorString(this, SQL_NULL_HSTMT);
        m_dbc.reset();
        m_hdbc = SQL_NULL_HDBC;
        if (rc == SQL_NO_DATA)
            return FALSE;
        throw e;
    }
    const auto outCount =
        std::min<size_t>(static_cast<size_t>(std::max<SQLSMALLINT>(outLength, 0)), out.size() - 1);
    m_strConnect = CString(u"ODBC;") + FromSqlWide(out.data(), outCount);
    return TRUE;
}

void CDatabase::Close() {
    // Recordsets go first: their statements belong to this connection.
    const std::vector<CRecordset*> open = m_listRecordsets;
    for (CRecordset* pSet : open) pSet->Close();
    m_listRecordsets.clear();
    m_dbc.reset();
    m_hdbc = SQL_NULL_HDBC;
    m_strConnect.Empty();
}

void CDatabase::AddRecordset(CRecordset* pSet) {
    m_listRecordsets.push_back(pSet);
}

void CDatabase::RemoveRecordset(CRecordset* pSet) {
    std::erase(m_listRecordsets, pSet);
}

// -------------------------------------------------------- field exchange

void RFX_Text(CFieldExchange* pFX, const char16_t* /*szName*/, CString& value, int nMaxLength,
              int /*nColumnType*/, short /*nScale*/) {
    if (pFX->m_nFieldType != static_cast<UINT>(CFieldExchange::outputColumn))
        return;
    const int column = ++pFX->m_nFields;
    switch (pFX->m_nOperation) {
        case CFieldExchange::BindFieldToColumn:
            pFX->m_prs->BindTextField(column, nMaxLength);
            break;
        case CFieldExchange::Fixup:
            value = pFX->m_prs->BoundText(column);
            break;
        case CFieldExchange::SetFieldNull:
            value.Empty();
            break;
        default:
            break;
    }
}

// ------------------------------------------------------------- recordset

// What a recordset keeps between fetches: the buffers of bound fields, the
// block of rows of a block-fetching result, or the values of the current row
// read so far with SQLGetData.
struct CRecordset::FetchState {
    struct BoundText {
        std::vector<SQLWCHAR> buffer;
        SQLLEN indicator = SQL_NULL_DATA;
    };
    struct BlockColumn {
        SQLULEN width = 0;  // characters, without the terminator
        // The driver writes SQL_C_WCHAR bytes here; they are read back as
        // the CString's own units.
        std::vector<char16_t> data;
        std::vector<SQLLEN> indicators;
    };

    std::vector<BoundText> fields;
    bool fieldsBound = false;

    bool blockMode = false;
    std::vector<BlockColumn> columns;
    std::vector<SQLUSMALLINT> rowStatus;
    SQLULEN rowsFetched = 0;
    SQLULEN rowInBlock = 0;
    long rowsBeforeBlock = 0;  // rows of the result that came before the current block

    std::vector<CString> values;
    int valuesRead = 0;  // columns of the current row read with SQLGetData
    std::vector<SQLWCHAR> piece;

    bool SetUpBlock(SQLHSTMT hstmt, const std::vector<CODBCFieldInfo>& infos);
    void ResetBlock(SQLHSTMT hstmt);
    [[nodiscard]] bool BlockTruncated() const;
};

bool CRecordset::FetchState::SetUpBlock(SQLHSTMT hstmt, const std::vector<CODBCFieldInfo>& infos) {
    size_t rowBytes = 0;
    for (const CODBCFieldInfo& info : infos) {
        if (info.m_nPrecision == 0 || info.m_nPrecision > kMaxBoundChars)
            return false;
        rowBytes += (info.m_nPrecision + kTextMargin + 1) * sizeof(SQLWCHAR) + sizeof(SQLLEN);
    }
    SQLULEN rows = std::min<SQLULEN>(kMaxBlockRows, kBlockBytes / rowBytes);
    if (rows < 2)
        return false;
    if (!SQL_SUCCEEDED(SQLSetStmtAttr(hstmt, SQL_ATTR_ROW_ARRAY_SIZE,
                                      reinterpret_cast<SQLPOINTER>(rows), 0))) {
        return false;
    }
    // A driver may lower the size it was asked for (01S02); use what it took.
    SQLULEN granted = 0;
    SQLGetStmtAttr(hstmt, SQL_ATTR_ROW_ARRAY_SIZE, &granted, 0, nullptr);
    if (granted < 2 || granted > rows) {
        SetStmtInteger(hstmt, SQL_ATTR_ROW_ARRAY_SIZE, 1);
        return false;
    }
    rows = granted;
    rowStatus.assign(rows, SQL_ROW_SUCCESS);
    bool ok = SQL_SUCCEEDED(SQLSetStmtAttr(hstmt, SQL_ATTR_ROW_BIND_TYPE,
                                           reinterpret_cast<SQLPOINTER>(SQL_BIND_BY_COLUMN), 0)) &&
              SQL_SUCCEEDED(SQLSetStmtAttr(hstmt, SQL_ATTR_ROW_STATUS_PTR, rowStatus.data(), 0)) &&
              SQL_SUCCEEDED(SQLSetStmtAttr(hstmt, SQL_ATTR_ROWS_FETCHED_PTR, &rowsFetched, 0));
    columns.resize(infos.size());
    for (size_t i = 0; ok && i < infos.size(); ++i) {
        BlockColumn& column = columns[i];
        column.width = infos[i].m_nPrecision + kTextMargin;
        column.data.assign(rows * (column.width + 1), 0);
        column.indicators.assign(rows, SQL_NULL_DATA);
        ok = SQL_SUCCEEDED(SQLBindCol(
            hstmt, static_cast<SQLUSMALLINT>(i + 1), SQL_C_WCHAR, column.data.data(),
            static_cast<SQLLEN>((column.width + 1) * sizeof(SQLWCHAR)), column.indicators.data()));
    }
    if (!ok) {
        ResetBlock(hstmt);
        return false;
    }
    blockMode = true;
    return true;
}

void CRecordset::FetchState::ResetBlock(SQLHSTMT hstmt) {
    SQLFreeStmt(hstmt, SQL_UNBIND);
    SetStmtInteger(hstmt, SQL_ATTR_ROW_ARRAY_SIZE, 1);
    SQLSetStmtAttr(hstmt, SQL_ATTR_ROW_STATUS_PTR, nullptr, 0);
    SQLSetStmtAttr(hstmt, SQL_ATTR_ROWS_FETCHED_PTR, nullptr, 0);
    blockMode = false;
    columns.clear();
    rowStatus.clear();
    rowsFetched = 0;
    rowInBlock = 0;
}

bool CRecordset::FetchState::BlockTruncated() const {
    for (const BlockColumn& column : columns) {
        const auto capacity = static_cast<SQLLEN>(column.width * sizeof(SQLWCHAR));
        for (SQLULEN row = 0; row < rowsFetched; ++row) {
            const SQLLEN indicator = column.indicators[row];
            if (indicator == SQL_NO_TOTAL || indicator > capacity)
                return true;
        }
    }
    return false;
}

const CRuntimeClass CRecordset::classCRecordset{"CRecordset", nullptr};

const CRuntimeClass* CRecordset::GetRuntimeClass() const {
    return RUNTIME_CLASS(CRecordset);
}

BOOL CRecordset::IsKindOf(const CRuntimeClass* pClass) const {
    return GetRuntimeClass()->IsDerivedFrom(pClass) ? TRUE : FALSE;
}

CRecordset::CRecordset(CDatabase* pDatabase)
    : m_pDatabase(pDatabase), m_pFetch(std::make_unique<FetchState>()) {}

CRecordset::~CRecordset() {
    CRecordset::Close();
}

BOOL CRecordset::Open(UINT nOpenType, const char16_t* lpszSQL, DWORD dwOptions) {
    // A statement that cannot be allocated is an error here: a caller that
    // does not test the result would otherwise read an empty result.
    return OpenSequence(static_cast<int>(nOpenType), lpszSQL, dwOptions, true, [this] {
        if (m_strSQL.IsEmpty())
            m_strSQL = GetDefaultSQL();
        PrepareAndExecute();
    });
}

BOOL CRecordset::OpenSequence(int nOpenType, const char16_t* lpszSQL, DWORD dwOptions,
                              bool statementRequired, const std::function<void()>& execute) {
    SetState(nOpenType, lpszSQL, dwOptions);
    const RETCODE rc = AllocStatement();
    if (!SQL_SUCCEEDED(rc)) {
        if (statementRequired)
            AfxThrowDBException(rc, m_pDatabase, SQL_NULL_HSTMT);
        return FALSE;
    }
    try {
        OnSetOptions(m_hstmt);
        // Bound fields have their status before the result arrives; fields
        // bound only once the columns are known get it after.
        if (m_nFields > 0 || m_nParams > 0)
            AllocStatusArrays();
        execute();
        DescribeColumns();
        AllocRowset();
        AllocStatusArrays();
        PreBindFields();
        // A result without columns has no rows to fetch: it stays at its end.
        if (m_nResultCols > 0)
            MoveNext();
        m_bBOF = m_bEOF;
    } catch (const CException&) {
        Close();
        throw;
    }
    return TRUE;
}

void CRecordset::Close() {
    // The statement goes before the buffers it may still point into.
    m_stmt.reset();
    m_hstmt = SQL_NULL_HSTMT;
    if (m_bRegistered && m_pDatabase != nullptr)
        m_pDatabase->RemoveRecordset(this);
    m_bRegistered = false;
    *m_pFetch = FetchState{};
    m_rgODBCFieldInfos.clear();
    m_nResultCols = -1;
    m_bBOF = TRUE;
    m_bEOF = TRUE;
    m_bEndReached = false;
    m_lRecordCount = 0;
    m_lCurrentRecord = -1;
}

void CRecordset::SetState(int nOpenType, const char16_t* lpszSQL, DWORD dwOptions) {
    if (IsOpen())
        Close();
    m_nOpenType = nOpenType;
    m_strSQL = lpszSQL;
    m_dwOptions = dwOptions;
}

RETCODE CRecordset::AllocStatement() {
    if (m_pDatabase == nullptr) {
        auto database = std::make_unique<CDatabase>();
        database->Open(nullptr, FALSE, FALSE, GetDefaultConnect());
        m_pOwnDatabase = std::move(database);
        m_pDatabase = m_pOwnDatabase.get();
    }
    SQLHSTMT hstmt = SQL_NULL_HSTMT;
    const RETCODE rc = SQLAllocHandle(SQL_HANDLE_STMT, m_pDatabase->m_hdbc, &hstmt);
    if (!SQL_SUCCEEDED(rc))
        return rc;
    m_stmt = odbc_detail::Handle(SQL_HANDLE_STMT, hstmt);
    m_hstmt = hstmt;
    m_pDatabase->AddRecordset(this);
    m_bRegistered = true;
    return rc;
}

void CRecordset::OnSetOptions(SQLHSTMT hstmt) {
    // The stand-in moves forward only and never writes through a cursor, so
    // every open type gets a forward-only, read-only cursor. These are the
    // ODBC defaults; a driver that rejects setting them keeps them anyway.
    SetStmtInteger(hstmt, SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_FORWARD_ONLY);
    SetStmtInteger(hstmt, SQL_ATTR_CONCURRENCY, SQL_CONCUR_READ_ONLY);
}

void CRecordset::AllocStatusArrays() {
    if (m_pFetch->fields.size() < m_nFields)
        m_pFetch->fields.resize(m_nFields);
}

void CRecordset::PrepareAndExecute() {
    std::vector<SQLWCHAR> sql = ToSqlWide(m_strSQL);
    ExecuteCall([&] { return SQLExecDirectW(m_hstmt, sql.data(), SQL_NTS); });
}

void CRecordset::ExecuteCall(const std::function<RETCODE()>& call) {
    const RETCODE rc = RepeatWhileExecuting(call);
    if (!Check(rc))
        ThrowDBException(rc);
    m_strWarnings.Empty();
    if (rc == SQL_SUCCESS_WITH_INFO) {
        for (const DiagRecord& record : ReadDiagRecords(SQL_HANDLE_STMT, m_hstmt)) {
            if (!m_strWarnings.IsEmpty())
                m_strWarnings += u'\n';
            m_strWarnings += EscapeControlCharacters(record.message);
        }
    }
}

void CRecordset::DescribeColumns() {
    m_nResultCols = -1;
    m_rgODBCFieldInfos.clear();
    SQLSMALLINT count = 0;
    RETCODE rc = RepeatWhileExecuting([&] { return SQLNumResultCols(m_hstmt, &count); });
    if (!Check(rc))
        ThrowDBException(rc);
    m_nResultCols = count;
    if (count <= 0)
        return;
    m_rgODBCFieldInfos.resize(static_cast<size_t>(count));
    SQLWCHAR name[kNameBufferChars + 1] = {};
    for (SQLUSMALLINT n = 1; n <= static_cast<SQLUSMALLINT>(count); ++n) {
        CODBCFieldInfo& info = m_rgODBCFieldInfos[n - 1];
        SQLSMALLINT nameLength = 0;
        name[0] = 0;
        rc = RepeatWhileExecuting([&] {
            return SQLDescribeColW(m_hstmt, n, name, kNameBufferChars, &nameLength,
                                   &info.m_nSQLType, &info.m_nPrecision, &info.m_nScale,
                                   &info.m_nNullability);
        });
        if (!Check(rc))
            ThrowDBException(rc);
        info.m_strName = TextOfBuffer(name, kNameBufferChars);
    }
}

void CRecordset::AllocRowset() {
    m_pFetch->values.assign(static_cast<size_t>(std::max<short>(m_nResultCols, 0)), CString());
    m_pFetch->valuesRead = 0;
    m_pFetch->piece.assign(kPieceChars, 0);
}

void CRecordset::PreBindFields() {
    if (m_nOpenType != forwardOnly || m_nFields > 0 || m_nParams > 0 || m_nResultCols <= 0)
        return;
    m_pFetch->SetUpBlock(m_hstmt, m_rgODBCFieldInfos);
}

void CRecordset::MoveNext() {
    if (!IsOpen())
        ThrowMessage(u"The recordset is not open.");
    if (m_bEndReached)
        ThrowMessage(u"Attempt to move past the end of the records.");
    if (FetchRow()) {
        m_bBOF = FALSE;
        m_bEOF = FALSE;
        ++m_lCurrentRecord;
        m_lRecordCount = std::max(m_lRecordCount, m_lCurrentRecord + 1);
        return;
    }
    m_bEndReached = true;
    m_bEOF = TRUE;
    if (m_nFields > 0) {
        CFieldExchange fx(CFieldExchange::SetFieldNull, this);
        DoFieldExchange(&fx);
    }
}

BOOL CRecordset::FetchRow() {
    FetchState& fetch = *m_pFetch;
    if (!fetch.blockMode)
        return FetchSingleRow();
    if (fetch.rowInBlock + 1 < fetch.rowsFetched) {
        ++fetch.rowInBlock;
        return TRUE;
    }
    return FetchBlock();
}

BOOL CRecordset::FetchSingleRow() {
    FetchState& fetch = *m_pFetch;
    if (m_nFields > 0 && !fetch.fieldsBound)
        BindFieldsToColumns();
    const RETCODE rc = RepeatWhileExecuting([&] { return SQLFetch(m_hstmt); });
    if (rc == SQL_NO_DATA)
        return FALSE;
    if (!Check(rc))
        ThrowDBException(rc);
    fetch.valuesRead = 0;
    if (m_nFields > 0) {
        CFieldExchange fx(CFieldExchange::Fixup, this);
        DoFieldExchange(&fx);
    }
    return TRUE;
}

BOOL CRecordset::FetchBlock() {
    FetchState& fetch = *m_pFetch;
    fetch.rowsBeforeBlock += static_cast<long>(fetch.rowsFetched);
    fetch.rowsFetched = 0;
    fetch.rowInBlock = 0;
    std::fill(fetch.rowStatus.begin(), fetch.rowStatus.end(), SQL_ROW_SUCCESS);
    const RETCODE rc = RepeatWhileExecuting([&] { return SQLFetch(m_hstmt); });
    if (rc == SQL_NO_DATA)
        return FALSE;
    if (!Check(rc))
        ThrowDBException(rc);
    for (SQLULEN row = 0; row < fetch.rowsFetched; ++row) {
        if (fetch.rowStatus[row] == SQL_ROW_ERROR)
            ThrowDBException(SQL_ERROR);
    }
    if (fetch.BlockTruncated()) {
        LeaveBlockMode(fetch.rowsBeforeBlock);
        return FetchSingleRow();
    }
    return fetch.rowsFetched > 0 ? TRUE : FALSE;
}

void CRecordset::LeaveBlockMode(long nRowsToSkip) {
    // The rows of the block are gone from a forward-only cursor, so the
    // statement runs again and the rows before the block are skipped; the
    // rest is read per field, in pieces of any length.
    SQLFreeStmt(m_hstmt, SQL_CLOSE);
    m_pFetch->ResetBlock(m_hstmt);
    PrepareAndExecute();
    for (long row = 0; row < nRowsToSkip; ++row) {
        const RETCODE rc = RepeatWhileExecuting([&] { return SQLFetch(m_hstmt); });
        if (rc == SQL_NO_DATA)
            return;
        if (!Check(rc))
            ThrowDBException(rc);
    }
}

void CRecordset::BindFieldsToColumns() {
    AllocStatusArrays();
    CFieldExchange fx(CFieldExchange::BindFieldToColumn, this);
    DoFieldExchange(&fx);
    m_pFetch->fieldsBound = true;
}

void CRecordset::BindTextField(int nColumn, int nMaxLength) {
    std::vector<FetchState::BoundText>& fields = m_pFetch->fields;
    if (fields.size() < static_cast<size_t>(nColumn))
        fields.resize(static_cast<size_t>(nColumn));
    FetchState::BoundText& field = fields[static_cast<size_t>(nColumn) - 1];
    field.buffer.assign(static_cast<size_t>(std::max(nMaxLength, 0)) + 1, 0);
    const RETCODE rc =
        SQLBindCol(m_hstmt, static_cast<SQLUSMALLINT>(nColumn), SQL_C_WCHAR, field.buffer.data(),
                   static_cast<SQLLEN>(field.buffer.size() * sizeof(SQLWCHAR)), &field.indicator);
    if (!Check(rc))
        ThrowDBException(rc);
}

CString CRecordset::BoundText(int nColumn) const {
    const FetchState::BoundText& field = m_pFetch->fields.at(static_cast<size_t>(nColumn) - 1);
    if (field.indicator == SQL_NULL_DATA || field.indicator == 0)
        return CString();
    // A value longer than the field's maximum length keeps its beginning.
    const size_t capacity = field.buffer.size() - 1;
    const size_t count =
        field.indicator == SQL_NO_TOTAL
            ? capacity
            : std::min(static_cast<size_t>(field.indicator) / sizeof(SQLWCHAR), capacity);
    return FromSqlWide(field.buffer.data(), count);
}

void CRecordset::GetODBCFieldInfo(short nIndex, CODBCFieldInfo& fieldinfo) const {
    if (nIndex < 0 || static_cast<size_t>(nIndex) >= m_rgODBCFieldInfos.size()) {
        throw CInvalidArgException();
    }
    fieldinfo = m_rgODBCFieldInfos[static_cast<size_t>(nIndex)];
}

void CRecordset::GetFieldValue(short nIndex, CString& strValue) {
    if (!IsOpen() || m_bEOF || m_lCurrentRecord < 0)
        ThrowMessage(u"No current record.");
    if (nIndex < 0 || nIndex >= m_nResultCols)
        throw CInvalidArgException();
    if (m_pFetch->blockMode) {
        CopyBlockValue(nIndex, strValue);
        return;
    }
    ReadColumnsUpTo(nIndex);
    strValue = m_pFetch->values[static_cast<size_t>(nIndex)];
}

void CRecordset::CopyBlockValue(int nIndex, CString& strValue) const {
    const FetchState& fetch = *m_pFetch;
    const FetchState::BlockColumn& column = fetch.columns[static_cast<size_t>(nIndex)];
    const SQLLEN indicator = column.indicators[fetch.rowInBlock];
    if (indicator <= 0) {
        strValue.Empty();
        return;
    }
    const char16_t* value = column.data.data() + fetch.rowInBlock * (column.width + 1);
    strValue.Empty();
    strValue.Append(value, static_cast<int>(static_cast<size_t>(indicator) / sizeof(char16_t)));
}

void CRecordset::ReadColumnsUpTo(int nIndex) {
    // SQLGetData reads columns in ascending order, so every column up to the
    // one asked for is read now and kept until the next row.
    FetchState& fetch = *m_pFetch;
    if (fetch.values.size() < static_cast<size_t>(m_nResultCols)) {
        fetch.values.resize(static_cast<size_t>(m_nResultCols));
    }
    if (fetch.piece.empty())
        fetch.piece.assign(kPieceChars, 0);
    while (fetch.valuesRead <= nIndex) {
        ReadColumn(static_cast<SQLUSMALLINT>(fetch.valuesRead + 1),
                   fetch.values[static_cast<size_t>(fetch.valuesRead)]);
        ++fetch.valuesRead;
    }
}

void CRecordset::ReadColumn(SQLUSMALLINT nColumn, CString& strValue) {
    std::vector<SQLWCHAR>& piece = m_pFetch->piece;
    const auto pieceBytes = static_cast<SQLLEN>(piece.size() * sizeof(SQLWCHAR));
    strValue.Empty();
    for (;;) {
        SQLLEN indicator = 0;
        const RETCODE rc = RepeatWhileExecuting([&] {
            return SQLGetData(m_hstmt, nColumn, SQL_C_WCHAR, piece.data(), pieceBytes, &indicator);
        });
        if (rc == SQL_NO_DATA)
            return;
        if (!Check(rc))
            ThrowDBException(rc);
        if (indicator == SQL_NULL_DATA)
            return;
        // A piece that filled the buffer (01004) leaves more to read.
        const bool last = indicator != SQL_NO_TOTAL &&
                          indicator <= pieceBytes - static_cast<SQLLEN>(sizeof(SQLWCHAR));
        const size_t count =
            last ? static_cast<size_t>(indicator) / sizeof(SQLWCHAR) : piece.size() - 1;
        AppendSqlWide(strValue, piece.data(), count);
        if (last)
            return;
    }
}

BOOL CRecordset::Check(RETCODE nRetCode) const {
    switch (nRetCode) {
        case SQL_SUCCESS:
        case SQL_SUCCESS_WITH_INFO:
        case SQL_NO_DATA:
        case SQL_NEED_DATA:
            return TRUE;
        default:
            return FALSE;
    }
}

void CRecordset::ThrowDBException(RETCODE nRetCode, SQLHSTMT hstmt) {
    AfxThrowDBException(nRetCode, m_pDatabase, hstmt != SQL_NULL_HSTMT ? hstmt : m_hstmt);
}

void CRecordset::ThrowMessage(const char16_t* pszText) const {
    CDBException e(SQL_ERROR);
    e.m_strError = pszText;
    throw e;
}
