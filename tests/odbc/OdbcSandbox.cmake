# The test-only ODBC installer configuration: an odbcinst.ini in the build
# tree that names Debian's SQLite ODBC driver and, when it is built here, the
# project's Excel driver. Test programs set ODBCSYSINI to its folder before
# their first ODBC call, so no system-wide registration is needed or used.
#
# Included by every folder that uses it: the variables are set in each
# including scope, the files are generated once.

find_file(TABROOK_SQLITE_ODBC_DRIVER libsqlite3odbc.so
  PATHS /usr/lib/x86_64-linux-gnu/odbc /usr/lib/odbc NO_DEFAULT_PATH)
if(NOT TABROOK_SQLITE_ODBC_DRIVER)
  message(WARNING "libsqlite3odbc.so not found (Debian package libsqliteodbc); "
                  "the database tests will fail to connect")
  set(TABROOK_SQLITE_ODBC_DRIVER /usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so)
endif()

set(TABROOK_TEST_ODBCSYSINI "${CMAKE_BINARY_DIR}/tests/odbcsysini")
set(TABROOK_TEST_EXCEL_DRIVER OFF)
if(TARGET xlsodbc)
  get_target_property(_tabrook_xlsodbc_type xlsodbc TYPE)
  if(_tabrook_xlsodbc_type STREQUAL "SHARED_LIBRARY" OR _tabrook_xlsodbc_type STREQUAL "MODULE_LIBRARY")
    set(TABROOK_TEST_EXCEL_DRIVER ON)
  endif()
endif()

# The environment of each discovered test: leak reports of unixODBC's own
# allocations are suppressed in sanitizer builds (see tests/lsan.supp).
set(TABROOK_TEST_ODBC_ENVIRONMENT
  "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp")

get_property(_tabrook_sandbox_written GLOBAL PROPERTY TABROOK_ODBC_SANDBOX_WRITTEN)
if(NOT _tabrook_sandbox_written)
  set_property(GLOBAL PROPERTY TABROOK_ODBC_SANDBOX_WRITTEN TRUE)
  set(_tabrook_odbcinst
    "[SQLite3]\nDescription=SQLite 3 ODBC driver (Debian)\nDriver=${TABROOK_SQLITE_ODBC_DRIVER}\n")
  if(TABROOK_TEST_EXCEL_DRIVER)
    string(APPEND _tabrook_odbcinst
      "\n[Velkor Excel Driver (*.xls)]\nDescription=Velkor Excel driver (build tree)\nDriver=$<TARGET_FILE:xlsodbc>\n")
  endif()
  file(GENERATE OUTPUT "${TABROOK_TEST_ODBCSYSINI}/odbcinst.ini" CONTENT "${_tabrook_odbcinst}")
  file(GENERATE OUTPUT "${TABROOK_TEST_ODBCSYSINI}/odbc.ini" CONTENT "")
endif()

# tabrook_use_test_drivers(target [EXCEL]): the test program finds the
# configuration above; with EXCEL, the Excel driver is built before it.
function(tabrook_use_test_drivers target)
  target_compile_definitions(${target} PRIVATE
    TABROOK_TEST_ODBCSYSINI="${CMAKE_BINARY_DIR}/tests/odbcsysini")
  if(TABROOK_TEST_EXCEL_DRIVER AND "EXCEL" IN_LIST ARGN)
    add_dependencies(${target} xlsodbc)
  endif()
endfunction()
