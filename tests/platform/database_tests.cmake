# database_tests: the stand-in's database classes against a real driver
# (Debian's SQLite ODBC driver) loaded by unixODBC from the test-only
# configuration in the build tree.
include(${PROJECT_SOURCE_DIR}/tests/odbc/OdbcSandbox.cmake)

add_executable(database_tests
  ${CMAKE_CURRENT_LIST_DIR}/database_connection_tests.cpp
  ${CMAKE_CURRENT_LIST_DIR}/database_recordset_tests.cpp)
target_link_libraries(database_tests PRIVATE platform GTest::gtest_main)
tabrook_warnings(database_tests)
tabrook_use_test_drivers(database_tests)
gtest_discover_tests(database_tests DISCOVERY_TIMEOUT 30
  PROPERTIES ENVIRONMENT "${TABROOK_TEST_ODBC_ENVIRONMENT}")
