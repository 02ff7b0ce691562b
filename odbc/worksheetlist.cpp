// CWorksheetList: the worksheet-list load, from the connection string to the
// closing of the connection.
#include "odbc/worksheetlist.h"

#include <memory>

#include "odbc/connect_string.h"
#include "odbc/tables.h"

namespace {

// Reads every catalogue row's table name. The loop runs while its index is
// below the count of rows seen so far, which grows with each move onto a
// new row, so it covers every row and never moves past the end.
void ReadNames(CTables& tables, std::vector<CString>& names) {
    for (long row = 0; row < tables.GetRecordCount(); ++row) {
        names.push_back(tables.m_strTableName);
        tables.MoveNext();
    }
}

}  // namespace

BOOL CWorksheetList::Load(const CString& strDriver, const CString& strWorkbook) {
    m_bReplaced = FALSE;
    m_arrNames.clear();
    m_strError.Empty();
    const CString connect = ExcelConnectString(strDriver, strWorkbook);
    try {
        CDatabase database;
        // The catalogue is bound to this connection and goes before it.
        std::unique_ptr<CTables> pTables;
        database.Open(nullptr, FALSE, FALSE, connect, TRUE);
        pTables = std::make_unique<CTables>(&database);
        if (pTables->IsOpen())
            pTables->Close();
        pTables->Open(nullptr, nullptr, nullptr, nullptr, CRecordset::dynaset);
        m_bReplaced = TRUE;
        ReadNames(*pTables, m_arrNames);
        if (pTables->IsOpen())
            pTables->Close();
        pTables.reset();
        database.Close();
    } catch (const CDBException& e) {
        m_strError = CString(u"Database error: ") + e.m_strError;
        return FALSE;
    } catch (const char16_t* pszError) {
        // A driver without the catalogue call: not a database error, and not
        // a reason to end the program; the list stays as it was.
        m_strError = pszError;
        return FALSE;
    }
    return TRUE;
}
