# Tests of the stand-in's core services: strings, files, code pages and
# process services.
add_executable(platform_tests
  ${CMAKE_CURRENT_LIST_DIR}/cstring_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/file_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/codepage_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/winapi_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/thread_test.cpp)
target_link_libraries(platform_tests PRIVATE platform GTest::gtest_main Threads::Threads)
tabrook_warnings(platform_tests)
gtest_discover_tests(platform_tests)
