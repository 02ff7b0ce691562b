# database_tests: the stand-in's database classes against a real driver
# (Debian's SQLite ODBC driver) loaded by unixODBC from the test-only
# configuration in the build tree.
include(${PROJECT_SOURCE_DIR}/tests/odbc/OdbcSandbox.cmake)

add_executable(database_tests
  ${CMAKE_CURRENT_LIST_DIR}/database_connection_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/database_recordset_test.cpp)
target_link_libraries(database_tests PRIVATE platform GTest::gtest_main)
# A driver whose connections fail with a diagnostic of a chosen length.
add_library(long_diag_driver MODULE ${CMAKE_CURRENT_LIST_DIR}/long_diag_driver.c)
add_dependencies(database_tests long_diag_driver)
target_compile_definitions(database_tests PRIVATE
  LONG_DIAG_DRIVER="$<TARGET_FILE:long_diag_driver>")
tabrook_warnings(database_tests)
tabrook_use_test_drivers(database_tests)
gtest_discover_tests(database_tests DISCOVERY_TIMEOUT 30
  PROPERTIES ENVIRONMENT "${TABROOK_TEST_ODBC_ENVIRONMENT}")
