# Reliability: every prefix of every format, write faults (injected and real), and each refusal
# through the commands and the command-line converter.
if(TARGET convert)
  file(GLOB reliability_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*.cpp)
  add_executable(test_reliability ${reliability_sources} ${CMAKE_CURRENT_SOURCE_DIR}/testutil.cpp
                                  ${CMAKE_CURRENT_SOURCE_DIR}/convert/fixtures.cpp)
  target_link_libraries(test_reliability PRIVATE convert GTest::gtest GTest::gtest_main)
  target_include_directories(test_reliability PRIVATE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/convert)
  target_compile_definitions(test_reliability PRIVATE RAWDAT_TESTDATA="${RAWDAT_TESTDATA}"
                                                      RAWDAT_SAMPLES="${RAWDAT_SAMPLES}")
  if(TARGET rawdat-convert)
    target_compile_definitions(test_reliability PRIVATE RAWDAT_CONVERT="$<TARGET_FILE:rawdat-convert>")
    add_dependencies(test_reliability rawdat-convert)
  endif()
  # The sweeps write thousands of small files: on tmpfs they take seconds, on a journalled disk
  # (which flushes each replaced file) minutes.
  set(reliability_env "")
  if(IS_DIRECTORY /dev/shm)
    set(reliability_env TMPDIR=/dev/shm)
  endif()
  gtest_discover_tests(test_reliability DISCOVERY_TIMEOUT 60 PROPERTIES ENVIRONMENT "${reliability_env}")
endif()

# The window meets the same bad values (when the window is built).
if(TARGET window_testkit)
  add_executable(test_reliability_window ${CMAKE_CURRENT_LIST_DIR}/window/test_window_bad_values.cpp
                                         ${CMAKE_CURRENT_LIST_DIR}/bad_values.cpp
                                         ${CMAKE_CURRENT_LIST_DIR}/reliability.cpp
                                         ${CMAKE_CURRENT_SOURCE_DIR}/convert/fixtures.cpp)
  target_link_libraries(test_reliability_window PRIVATE window_testkit GTest::gtest)
  target_include_directories(test_reliability_window PRIVATE ${CMAKE_CURRENT_LIST_DIR}
                                                             ${CMAKE_CURRENT_SOURCE_DIR}/convert)
  gtest_discover_tests(test_reliability_window DISCOVERY_TIMEOUT 60
                       PROPERTIES ENVIRONMENT "${reliability_env}")
endif()

