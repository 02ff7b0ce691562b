// Which level a driver test program runs at, set by its build: the driver's
// functions called directly, or unixODBC's driver manager in front.
#include "odbc_client.h"

namespace xlsodbc_test {

const bool kDirect = XLSODBC_DIRECT != 0;

}  // namespace xlsodbc_test
