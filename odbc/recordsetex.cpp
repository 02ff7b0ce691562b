// CRecordsetEx: open sequence and column description of the dynamic
// recordset.
#include "odbc/recordsetex.h"

#include <algorithm>

namespace {

constexpr SQLSMALLINT kNameBufferChars = 256;  // a longer name arrives cut to 255

template <class Call>
RETCODE RepeatWhileExecuting(Call call) {
    RETCODE rc;
    do {
        rc = call();
    } while (rc == SQL_STILL_EXECUTING);
    return rc;
}

CString NameOf(const std::vector<SQLWCHAR>& buffer) {
    CString name;
    for (SQLWCHAR unit : buffer) {
        if (unit == 0)
            break;
        name += static_cast<char16_t>(unit);
    }
    return name;
}

}  // namespace

IMPLEMENT_DYNAMIC(CRecordsetEx, CRecordset)

CRecordsetEx::CRecordsetEx(CDatabase* pDatabase) : CRecordset(pDatabase) {}

CRecordsetEx::~CRecordsetEx() = default;

BOOL CRecordsetEx::Open(UINT nOpenType, const char16_t* lpszSQL, DWORD dwOptions) {
    SetState(static_cast<int>(nOpenType), lpszSQL, dwOptions);
    if (!AllocHstmt())
        return FALSE;
    try {
        OnSetOptions(m_hstmt);
        const bool statusArraysOwed = m_nFields == 0 && m_nParams == 0;
        if (!statusArraysOwed)
            AllocStatusArrays();
        m_strSQL = lpszSQL;
        PrepareAndExecute();
        DescribeColumns();
        AllocRowset();
        if (statusArraysOwed && (m_nFields > 0 || m_nParams > 0))
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

void CRecordsetEx::DescribeColumns() {
    m_nResultCols = -1;
    m_rgODBCFieldInfos.clear();
    SQLSMALLINT count = 0;
    RETCODE rc = RepeatWhileExecuting([&] { return SQLNumResultCols(m_hstmt, &count); });
    if (!Check(rc))
        AfxThrowDBException(rc, m_pDatabase, m_hstmt);
    m_nResultCols = count;
    if (count <= 0)
        return;

    m_rgODBCFieldInfos.resize(static_cast<size_t>(count));
    std::vector<SQLWCHAR> name(kNameBufferChars + 1, 0);
    for (SQLSMALLINT n = 1; n <= count; ++n) {
        CODBCFieldInfo& info = m_rgODBCFieldInfos[static_cast<size_t>(n - 1)];
        SQLSMALLINT nameLength = 0;
        std::fill(name.begin(), name.end(), SQLWCHAR{0});
        rc = RepeatWhileExecuting([&] {
            return SQLDescribeColW(m_hstmt, static_cast<SQLUSMALLINT>(n), name.data(),
                                   kNameBufferChars, &nameLength, &info.m_nSQLType,
                                   &info.m_nPrecision, &info.m_nScale, &info.m_nNullability);
        });
        info.m_strName = NameOf(name);
        if (!Check(rc))
            AfxThrowDBException(rc, m_pDatabase, m_hstmt);
    }
}

void CRecordsetEx::ThrowDBException(RETCODE nRetCode, SQLHSTMT hstmt) {
    AfxThrowDBException(nRetCode, m_pDatabase, hstmt != SQL_NULL_HSTMT ? hstmt : m_hstmt);
}
