// The one place that includes unixODBC's headers for the driver, so every
// driver file sees the same ODBC 3.80 declarations (and never UNICODE
// macros that would rename the narrow entry points to their wide twins).
#pragma once

#ifdef UNICODE
#error "the driver defines narrow and wide entry points side by side; do not define UNICODE"
#endif

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>
