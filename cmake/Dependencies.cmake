# Every dependency is a Debian package (see README.md); nothing is downloaded.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(ICU 72 REQUIRED COMPONENTS uc i18n data)

# unixODBC: the driver manager (libodbc) for the program, the installer
# (libodbcinst) for driver discovery and for the driver's odbc.ini lookups.
find_path(ODBC_INCLUDE_DIR sql.h REQUIRED)
find_library(ODBC_LIBRARY odbc REQUIRED)
find_library(ODBCINST_LIBRARY odbcinst REQUIRED)
add_library(unixodbc::odbc UNKNOWN IMPORTED)
set_target_properties(unixodbc::odbc PROPERTIES
  IMPORTED_LOCATION "${ODBC_LIBRARY}" INTERFACE_INCLUDE_DIRECTORIES "${ODBC_INCLUDE_DIR}")
add_library(unixodbc::odbcinst UNKNOWN IMPORTED)
set_target_properties(unixodbc::odbcinst PROPERTIES
  IMPORTED_LOCATION "${ODBCINST_LIBRARY}" INTERFACE_INCLUDE_DIRECTORIES "${ODBC_INCLUDE_DIR}")

# The dialog: Qt 6 Widgets, and xcb to find out whether a display can be
# opened before Qt is started.
find_package(Qt6 REQUIRED COMPONENTS Widgets)
pkg_check_modules(XCB REQUIRED IMPORTED_TARGET xcb)
include(GNUInstallDirs)

if(TABROOK_TESTS)
  find_package(Qt6 REQUIRED COMPONENTS Test)
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()
