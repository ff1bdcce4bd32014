# Files written by Ecr_RAW read by another program: Debian's xyconv (package libxy-bin).
# A program of its own, so that it shows as its own test and can be run alone.
if(TARGET fmt_raw)
  add_executable(test_fmt_raw_xyconv ${CMAKE_CURRENT_LIST_DIR}/interop/test_xyconv_raw2.cpp
                                     ${CMAKE_CURRENT_SOURCE_DIR}/testutil.cpp)
  target_link_libraries(test_fmt_raw_xyconv PRIVATE fmt_raw GTest::gtest GTest::gtest_main)
  target_include_directories(test_fmt_raw_xyconv PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  gtest_discover_tests(test_fmt_raw_xyconv DISCOVERY_TIMEOUT 60)
endif()
