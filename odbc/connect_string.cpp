// The Excel connection string with every value braced.
#include "odbc/connect_string.h"

CString OdbcBraced(const CString& strValue) {
    CString strEscaped = strValue;
    strEscaped.Replace(u"}", u"}}");
    return u"{" + strEscaped + u"}";
}

CString ExcelConnectString(const CString& strDriver, const CString& strWorkbook) {
    return u"ODBC;DRIVER=" + OdbcBraced(strDriver) + u";DSN='';DBQ=" + OdbcBraced(strWorkbook);
}
