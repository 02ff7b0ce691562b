// CTables: opening the table catalogue and binding its columns.
#include "odbc/tables.h"

namespace {

// A NUL-terminated SQLWCHAR copy of a search argument; empty for null.
std::vector<SQLWCHAR> SearchArgument(const char16_t* text) {
    std::vector<SQLWCHAR> out;
    if (text == nullptr)
        return out;
    for (const char16_t* p = text; *p != u'\0'; ++p) out.push_back(static_cast<SQLWCHAR>(*p));
    out.push_back(0);
    return out;
}

SQLWCHAR* DataOrNull(std::vector<SQLWCHAR>& argument) {
    return argument.empty() ? nullptr : argument.data();
}

}  // namespace

IMPLEMENT_DYNAMIC(CTables, CRecordsetEx)

CTables::CTables(CDatabase* pDatabase) : CRecordsetEx(pDatabase) {
    m_nFields = 5;
}

CTables::~CTables() = default;

BOOL CTables::Open(const char16_t* pszTableQualifier, const char16_t* pszTableOwner,
                   const char16_t* pszTableName, const char16_t* pszTableType, UINT nOpenType) {
    SQLUSMALLINT supported = 0;
    const SQLHDBC hdbc = m_pDatabase != nullptr ? m_pDatabase->m_hdbc : SQL_NULL_HDBC;
    const RETCODE rc = SQLGetFunctions(hdbc, SQL_API_SQLTABLES, &supported);
    if (!Check(rc))
        AfxThrowDBException(rc, m_pDatabase, m_hstmt);
    if (supported == 0)
        throw u"<::SQLTables> not supported.";

    std::vector<SQLWCHAR> qualifier = SearchArgument(pszTableQualifier);
    std::vector<SQLWCHAR> owner = SearchArgument(pszTableOwner);
    std::vector<SQLWCHAR> name = SearchArgument(pszTableName);
    std::vector<SQLWCHAR> type = SearchArgument(pszTableType);
    return OpenSequence(static_cast<int>(nOpenType), nullptr, readOnly, false, [&] {
        ExecuteCall([&] {
            return SQLTablesW(m_hstmt, DataOrNull(qualifier), SQL_NTS, DataOrNull(owner), SQL_NTS,
                              DataOrNull(name), SQL_NTS, DataOrNull(type), SQL_NTS);
        });
    });
}

CString CTables::GetDefaultConnect() {
    return u"ODBC;";
}

CString CTables::GetDefaultSQL() {
    return u"!";
}

void CTables::DoFieldExchange(CFieldExchange* pFX) {
    pFX->SetFieldType(CFieldExchange::outputColumn);
    RFX_Text(pFX, u"TABLE_QUALIFIER", m_strQualifier, 255, SQL_VARCHAR, 0);
    RFX_Text(pFX, u"TABLE_OWNER", m_strOwner, 255, SQL_VARCHAR, 0);
    RFX_Text(pFX, u"TABLE_NAME", m_strTableName, 255, SQL_VARCHAR, 0);
    RFX_Text(pFX, u"TABLE_TYPE", m_strTableType, 255, SQL_VARCHAR, 0);
    RFX_Text(pFX, u"REMARKS", m_strRemarks, 255, SQL_VARCHAR, 0);
}
