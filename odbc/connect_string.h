// The connection string that opens a workbook with the Excel driver, shared
// by the conversion and the worksheet-list load.
#pragma once

#include "platform/cstring.h"

// "ODBC;DRIVER={driver};DSN='';DBQ={workbook}". Both values go in braces
// with every "}" doubled, as ODBC defines braced values, so that no path
// or driver name can end its value early and add or change a connection
// key (a "DRIVER=" hidden in a folder name would make the driver manager
// load any library).
CString ExcelConnectString(const CString& strDriver, const CString& strWorkbook);

// A value in ODBC's braced form: "{" + value with "}" doubled + "}".
CString OdbcBraced(const CString& strValue);
