// CRecordsetEx: a recordset that runs a statement text exactly as given and
// describes whatever columns its result has, without knowing them before.
#pragma once

#include "platform/database.h"

class CRecordsetEx : public CRecordset {
    DECLARE_DYNAMIC(CRecordsetEx)

public:
    explicit CRecordsetEx(CDatabase* pDatabase);
    ~CRecordsetEx() override;

    // Runs lpszSQL unchanged (no default statement, filter or sort), then
    // stands on the first row; an empty result is at both its beginning and
    // its end. FALSE when no statement could be allocated; a CDBException
    // leaves the recordset closed.
    BOOL Open(UINT nOpenType, const char16_t* lpszSQL, DWORD dwOptions) override;
    [[noreturn]] void ThrowDBException(RETCODE nRetCode, SQLHSTMT hstmt = SQL_NULL_HSTMT) override;

protected:
    using CRecordset::DescribeColumns;
};
