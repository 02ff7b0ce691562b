// CTables: a recordset over the ODBC table catalogue of a connection
// (SQLTablesW). For a workbook, each row names one of its tables.
#pragma once

#include "odbc/recordsetex.h"

class CTables : public CRecordsetEx {
    DECLARE_DYNAMIC(CTables)

public:
    explicit CTables(CDatabase* pDatabase);
    ~CTables() override;

    // Reads the catalogue; a null search argument places no restriction.
    // Throws CDBException on an ODBC failure (closed again), and the bare
    // wide text "<::SQLTables> not supported." when the driver lacks the
    // catalogue call. FALSE when no statement could be allocated.
    BOOL Open(const char16_t* pszTableQualifier = nullptr, const char16_t* pszTableOwner = nullptr,
              const char16_t* pszTableName = nullptr, const char16_t* pszTableType = nullptr,
              UINT nOpenType = forwardOnly);
    using CRecordsetEx::Open;

    [[nodiscard]] CString GetDefaultConnect() override;
    [[nodiscard]] CString GetDefaultSQL() override;
    void DoFieldExchange(CFieldExchange* pFX) override;

    // The current catalogue row, bound by position to its first five columns.
    CString m_strQualifier;
    CString m_strOwner;
    CString m_strTableName;
    CString m_strTableType;
    CString m_strRemarks;
};
