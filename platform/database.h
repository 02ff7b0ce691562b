// The framework's database classes over unixODBC's wide (UTF-16) API:
// CDatabase (one connection), CRecordset (one statement and its result, read
// forward), CDBException (the diagnostic records of a failed call),
// CODBCFieldInfo (one result column's description), and the field exchange
// (CFieldExchange, RFX_Text) that binds a recordset's string members to
// result columns by position.
//
// Every ODBC handle is owned by an RAII holder; the public m_hdbc/m_hstmt
// members are views of those handles, kept because the program's own
// recordset classes pass them to ODBC calls. SQLWCHAR is 16-bit on unixODBC,
// so texts are copied unit by unit between SQLWCHAR and char16_t.
#pragma once

#include "platform/runtime_class.h"
#include "platform/types.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <functional>
#include <memory>
#include <vector>

#include "platform/cstring.h"
#include "platform/exceptions.h"

class CDatabase;
class CRecordset;
class CFieldExchange;

namespace odbc_detail {

// Owns one ODBC handle and frees it (a connection is disconnected first).
class Handle {
public:
    Handle() = default;
    Handle(SQLSMALLINT type, SQLHANDLE handle) : m_type(type), m_handle(handle) {}
    Handle(Handle&& other) noexcept : m_type(other.m_type), m_handle(other.release()) {}
    Handle& operator=(Handle&& other) noexcept;
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { reset(); }

    [[nodiscard]] SQLHANDLE get() const { return m_handle; }
    SQLHANDLE release() noexcept;
    void reset() noexcept;

private:
    SQLSMALLINT m_type = 0;
    SQLHANDLE m_handle = nullptr;
};

// Calls `call` until the driver stops answering SQL_STILL_EXECUTING (a
// statement that another caller of the handle made asynchronous).
template <class Call>
RETCODE RepeatWhileExecuting(Call call) {
    RETCODE rc;
    do {
        rc = call();
    } while (rc == SQL_STILL_EXECUTING);
    return rc;
}

}  // namespace odbc_detail

// A failed ODBC call. m_strError holds the message texts of the failing
// handle's diagnostic records joined by "\n" (no newline at the end);
// m_strStateNativeOrigin the state, native code and origin of each record.
class CDBException : public CException {
public:
    explicit CDBException(RETCODE nRetCode = SQL_SUCCESS) : m_nRetCode(nRetCode) {}

    // Reads the diagnostic records of hstmt, or else of the database's
    // connection, or else of its environment.
    void BuildErrorString(const CDatabase* pdb, SQLHSTMT hstmt);

    [[nodiscard]] CString GetErrorMessage() const override { return m_strError; }
    [[nodiscard]] const char* what() const noexcept override { return "CDBException"; }

    RETCODE m_nRetCode;
    CString m_strError;
    CString m_strStateNativeOrigin;
};

[[noreturn]] void AfxThrowDBException(RETCODE nRetCode, CDatabase* pdb, SQLHSTMT hstmt);

// One result column as SQLDescribeColW reports it.
struct CODBCFieldInfo {
    CString m_strName;
    SWORD m_nSQLType = 0;
    SQLULEN m_nPrecision = 0;
    SWORD m_nScale = 0;
    SWORD m_nNullability = 0;
};

// One connection, with its own ODBC 3 environment.
class CDatabase {
public:
    CDatabase();
    CDatabase(const CDatabase&) = delete;
    CDatabase& operator=(const CDatabase&) = delete;
    virtual ~CDatabase();  // closes

    // Connects with SQLDriverConnectW (no prompt). A leading "ODBC;" of the
    // connection string is dropped; a data source name, when given, comes
    // first as "DSN=...;". The cursor-library flag has no effect: unixODBC's
    // cursor library has no wide entry points. Returns FALSE only when the
    // driver manager answers SQL_NO_DATA; throws CDBException on failure.
    virtual BOOL Open(const char16_t* lpszDSN, BOOL bExclusive = FALSE, BOOL bReadOnly = FALSE,
                      const char16_t* lpszConnect = u"ODBC;", BOOL bUseCursorLib = TRUE);
    // Closes every recordset still open on this connection, then disconnects.
    virtual void Close();
    [[nodiscard]] BOOL IsOpen() const { return m_hdbc != SQL_NULL_HDBC; }

    // The connection string the driver completed, with "ODBC;" in front.
    [[nodiscard]] const CString& GetConnect() const { return m_strConnect; }
    [[nodiscard]] SQLHENV GetHenv() const { return m_env.get(); }

    SQLHDBC m_hdbc = SQL_NULL_HDBC;

private:
    friend class CRecordset;
    void AllocEnvironment();
    void AddRecordset(CRecordset* pSet);
    void RemoveRecordset(CRecordset* pSet);

    odbc_detail::Handle m_env;
    odbc_detail::Handle m_dbc;
    CString m_strConnect;
    std::vector<CRecordset*> m_listRecordsets;  // open recordsets, closed by Close
};

// The field exchange: one pass of a recordset's DoFieldExchange, either
// binding its members to result columns or copying a fetched row into them.
class CFieldExchange {
public:
    enum RFX_Operation { BindFieldToColumn, Fixup, SetFieldNull };
    enum FieldType { noFieldType = -1, outputColumn = 0, param = SQL_PARAM_INPUT };

    CFieldExchange(UINT nOperation, CRecordset* prs) : m_nOperation(nOperation), m_prs(prs) {}
    void SetFieldType(UINT nFieldType) { m_nFieldType = nFieldType; }

    UINT m_nOperation;
    UINT m_nFieldType = static_cast<UINT>(noFieldType);
    CRecordset* m_prs;
    int m_nFields = 0;  // output columns exchanged so far in this pass
};

// Binds value to the next result column (by position, counting from 1) as
// text of at most nMaxLength characters; NULL reads as "".
void RFX_Text(CFieldExchange* pFX, const char16_t* szName, CString& value, int nMaxLength = 255,
              int nColumnType = SQL_VARCHAR, short nScale = 0);

// A statement and its result, read forward one row at a time.
class CRecordset {
public:
    enum OpenType { dynaset = 0, snapshot = 1, forwardOnly = 2, dynamic = 3 };
    enum OpenOptions {
        none = 0x0,
        readOnly = 0x0004,
        appendOnly = 0x0008,
        skipDeletedRecords = 0x0010,
        noDirtyFieldCheck = 0x0020,
        executeDirect = 0x2000
    };

    static const CRuntimeClass classCRecordset;
    [[nodiscard]] virtual const CRuntimeClass* GetRuntimeClass() const;
    [[nodiscard]] BOOL IsKindOf(const CRuntimeClass* pClass) const;

    explicit CRecordset(CDatabase* pDatabase = nullptr);
    CRecordset(const CRecordset&) = delete;
    CRecordset& operator=(const CRecordset&) = delete;
    virtual ~CRecordset();

    // Runs lpszSQL (or GetDefaultSQL) and stands on the first row, or at the
    // end of an empty result. Every open type moves forward only. Throws
    // CDBException, after closing the recordset, when a call fails.
    virtual BOOL Open(UINT nOpenType = snapshot, const char16_t* lpszSQL = nullptr,
                      DWORD dwOptions = none);
    virtual void Close();

    [[nodiscard]] BOOL IsOpen() const { return m_hstmt != SQL_NULL_HSTMT; }
    [[nodiscard]] BOOL IsEOF() const { return m_bEOF; }
    [[nodiscard]] BOOL IsBOF() const { return m_bBOF; }
    // Moves to the next row; past the last one IsEOF turns TRUE. Throws
    // CDBException when already at the end.
    void MoveNext();
    // Rows seen so far: grows by one each time a move lands on a new row.
    [[nodiscard]] long GetRecordCount() const { return m_lRecordCount; }

    [[nodiscard]] short GetODBCFieldCount() const { return m_nResultCols; }
    void GetODBCFieldInfo(short nIndex, CODBCFieldInfo& fieldinfo) const;
    // The current row's value of column nIndex (from 0) as text; NULL or an
    // empty value gives "". Columns may be read in any order and again.
    void GetFieldValue(short nIndex, CString& strValue);

    [[nodiscard]] const CString& GetSQL() const { return m_strSQL; }
    // The warnings the driver gave with the statement's result (for
    // example cells of a damaged sheet that it left out), joined by "\n";
    // empty when there were none.
    [[nodiscard]] const CString& GetWarnings() const { return m_strWarnings; }
    [[nodiscard]] virtual CString GetDefaultConnect() { return u"ODBC;"; }
    [[nodiscard]] virtual CString GetDefaultSQL() { return CString(); }
    virtual void DoFieldExchange(CFieldExchange* /*pFX*/) {}

    // TRUE for the return codes that are not failures (success, success with
    // information, no data, need data).
    [[nodiscard]] BOOL Check(RETCODE nRetCode) const;
    [[noreturn]] virtual void ThrowDBException(RETCODE nRetCode, SQLHSTMT hstmt = SQL_NULL_HSTMT);

    CDatabase* m_pDatabase;
    SQLHSTMT m_hstmt = SQL_NULL_HSTMT;
    UINT m_nFields = 0;  // bound fields (RFX calls in DoFieldExchange)
    UINT m_nParams = 0;  // parameters (none are supported)

protected:
    // The open sequence of every recordset, whatever runs its statement:
    // SetState (which closes an open recordset and records the request),
    // the statement handle, OnSetOptions, `execute` (runs the statement or
    // catalogue call, through ExecuteCall), DescribeColumns, the rowset and
    // its block binding, then the first row when the result has columns; an
    // empty result stands at both its beginning and its end. A framework
    // exception closes the recordset and is raised again. A statement handle
    // that cannot be had is a CDBException when `statementRequired`, else a
    // FALSE result.
    BOOL OpenSequence(int nOpenType, const char16_t* lpszSQL, DWORD dwOptions,
                      bool statementRequired, const std::function<void()>& execute);
    virtual void OnSetOptions(SQLHSTMT hstmt);
    void AllocStatusArrays();
    // Runs m_strSQL with SQLExecDirectW through ExecuteCall.
    void PrepareAndExecute();
    // Makes one call that produces the statement's result (repeated while
    // the driver is still executing): a rejected one becomes a CDBException
    // (ThrowDBException), the warnings of an accepted one are kept for
    // GetWarnings.
    void ExecuteCall(const std::function<RETCODE()>& call);
    // Describes the result columns into m_rgODBCFieldInfos (none for a
    // result without columns), the count into m_nResultCols; a column name
    // longer than 255 characters arrives cut by the driver. Throws
    // CDBException when the driver rejects a call.
    void DescribeColumns();
    void AllocRowset();
    // Prepares block fetches for a forward-only result without bound fields.
    void PreBindFields();

    int m_nOpenType = snapshot;
    DWORD m_dwOptions = none;
    CString m_strSQL;
    std::vector<CODBCFieldInfo> m_rgODBCFieldInfos;  // the column-information array
    short m_nResultCols = -1;                        // -1 until the driver reports it
    BOOL m_bBOF = TRUE;
    BOOL m_bEOF = TRUE;
    long m_lRecordCount = 0;
    long m_lCurrentRecord = -1;  // index of the current row, -1 before the first

private:
    friend void RFX_Text(CFieldExchange*, const char16_t*, CString&, int, int, short);
    struct FetchState;

    void SetState(int nOpenType, const char16_t* lpszSQL, DWORD dwOptions);
    // Allocates the statement (connecting first when the recordset was made
    // without a database); the driver manager's code when it refuses.
    RETCODE AllocStatement();
    BOOL FetchRow();
    BOOL FetchSingleRow();
    BOOL FetchBlock();
    void LeaveBlockMode(long nRowsToSkip);
    void BindFieldsToColumns();
    void BindTextField(int nColumn, int nMaxLength);
    [[nodiscard]] CString BoundText(int nColumn) const;
    void ReadColumnsUpTo(int nIndex);
    void ReadColumn(SQLUSMALLINT nColumn, CString& strValue);
    void CopyBlockValue(int nIndex, CString& strValue) const;
    [[noreturn]] void ThrowMessage(const char16_t* pszText) const;

    odbc_detail::Handle m_stmt;
    std::unique_ptr<CDatabase> m_pOwnDatabase;  // made by Open when none was given
    bool m_bRegistered = false;                 // listed by m_pDatabase
    bool m_bEndReached = false;                 // a fetch found no further row
    std::unique_ptr<FetchState> m_pFetch;
    CString m_strWarnings;
};
