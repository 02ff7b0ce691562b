// CRecordsetEx: the dynamic recordset. It runs the caller's statement text
// through the recordset's open sequence and describes whatever columns the
// result has.
#include "odbc/recordsetex.h"

IMPLEMENT_DYNAMIC(CRecordsetEx, CRecordset)

CRecordsetEx::CRecordsetEx(CDatabase* pDatabase) : CRecordset(pDatabase) {}

CRecordsetEx::~CRecordsetEx() = default;

BOOL CRecordsetEx::Open(UINT nOpenType, const char16_t* lpszSQL, DWORD dwOptions) {
    // The statement text stays exactly as given: no default statement, no
    // SELECT built from bound fields, no filter or sort.
    return OpenSequence(static_cast<int>(nOpenType), lpszSQL, dwOptions, false,
                        [this] { PrepareAndExecute(); });
}

void CRecordsetEx::ThrowDBException(RETCODE nRetCode, SQLHSTMT hstmt) {
    CRecordset::ThrowDBException(nRetCode, hstmt);
}
