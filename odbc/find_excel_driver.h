// Finds the installed Excel ODBC driver through the ODBC installer.
#pragma once

#include "platform/cstring.h"

// The full name of the first installed driver whose name contains "Excel"
// (with exactly that capitalisation), as the installer lists it within its
// first 2000 characters; empty when there is none.
CString FindExcelDriver();
