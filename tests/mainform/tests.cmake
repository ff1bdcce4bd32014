# The window, driven through QtTest on the offscreen platform; and one screenshot under a real
# X server (xvfb-run) kept as build/artifacts/window.png.
if(TARGET mainform)
  find_package(Qt6 REQUIRED COMPONENTS Test)
  add_library(window_testkit STATIC ${CMAKE_CURRENT_LIST_DIR}/window_files.cpp
                                    ${CMAKE_CURRENT_LIST_DIR}/window_files.h
                                    ${CMAKE_CURRENT_SOURCE_DIR}/testutil.cpp)
  set_target_properties(window_testkit PROPERTIES AUTOMOC ON)
  target_link_libraries(window_testkit PUBLIC mainform Qt6::Test)
  target_include_directories(window_testkit PUBLIC ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_LIST_DIR})
  target_compile_definitions(window_testkit PUBLIC RAWDAT_TESTDATA="${RAWDAT_TESTDATA}"
                                                   RAWDAT_SAMPLES="${RAWDAT_SAMPLES}"
                                                   RAWDAT_ARTIFACTS="${CMAKE_BINARY_DIR}/artifacts")

  add_executable(test_mainform ${CMAKE_CURRENT_LIST_DIR}/test_window.cpp)
  set_target_properties(test_mainform PROPERTIES AUTOMOC ON)
  target_link_libraries(test_mainform PRIVATE window_testkit)
  if(TARGET rawdat-convert) # the window's exports against the converter's
    target_compile_definitions(test_mainform PRIVATE RAWDAT_CONVERT="$<TARGET_FILE:rawdat-convert>")
    add_dependencies(test_mainform rawdat-convert)
  endif()
  add_test(NAME mainform.window COMMAND test_mainform)
  set_tests_properties(mainform.window PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 300)

  add_executable(test_mainform_batch ${CMAKE_CURRENT_LIST_DIR}/test_batch.cpp)
  set_target_properties(test_mainform_batch PROPERTIES AUTOMOC ON)
  target_link_libraries(test_mainform_batch PRIVATE window_testkit)
  target_compile_definitions(test_mainform_batch PRIVATE RAWDAT_CONVERT="$<TARGET_FILE:rawdat-convert>")
  add_test(NAME mainform.batch COMMAND test_mainform_batch)
  set_tests_properties(mainform.batch PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 300)

  add_executable(test_mainform_screenshot ${CMAKE_CURRENT_LIST_DIR}/test_screenshot.cpp)
  set_target_properties(test_mainform_screenshot PROPERTIES AUTOMOC ON)
  target_link_libraries(test_mainform_screenshot PRIVATE window_testkit)
  find_program(XVFB_RUN xvfb-run)
  if(XVFB_RUN)
    add_test(NAME mainform.screenshot
             COMMAND ${XVFB_RUN} -a -s "-screen 0 1280x800x24" $<TARGET_FILE:test_mainform_screenshot>)
    set_tests_properties(mainform.screenshot PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=xcb" TIMEOUT 120)
  endif()
endif()
