# rawdat-convert, run as a user runs it.
if(TARGET rawdat-convert)
  file(GLOB cli_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*.cpp)
  add_executable(test_cli ${cli_sources} ${CMAKE_CURRENT_LIST_DIR}/../testutil.cpp
                          ${CMAKE_CURRENT_LIST_DIR}/../convert/fixtures.cpp
                          ${CMAKE_CURRENT_LIST_DIR}/../reliability/reliability.cpp)
  target_link_libraries(test_cli PRIVATE convert GTest::gtest GTest::gtest_main)
  target_include_directories(test_cli PRIVATE ${CMAKE_CURRENT_LIST_DIR}/.. ${CMAKE_CURRENT_LIST_DIR}/../convert
                                              ${CMAKE_CURRENT_LIST_DIR}/../reliability)
  target_compile_definitions(test_cli PRIVATE RAWDAT_CONVERT="$<TARGET_FILE:rawdat-convert>"
                                              RAWDAT_SAMPLES="${CMAKE_SOURCE_DIR}/samples"
                                              RAWDAT_TESTDATA="${RAWDAT_TESTDATA}")
  gtest_discover_tests(test_cli DISCOVERY_TIMEOUT 60)
endif()
