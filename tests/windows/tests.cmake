# The Windows converter (label windows): tools/build-windows cross-builds it with MinGW-w64 into
# build-windows/, then its test programs run under wine, the command-line tests run it under wine,
# and its outputs are compared byte for byte with this build's. Where wine cannot start, each test
# says so and is skipped. The sanitizer build leaves them to the Release build.
option(RAWDAT_WINDOWS_TESTS "Cross-build the Windows converter and test it under wine" ON)
if(RAWDAT_WINDOWS_TESTS AND NOT RAWDAT_SANITIZE AND NOT CMAKE_CROSSCOMPILING AND TARGET rawdat-convert
   AND TARGET test_cli)
  set(win_build ${CMAKE_SOURCE_DIR}/build-windows)
  set(win_env RAWDAT_WINEPREFIX=${win_build}/wineprefix)
  set(wine ${CMAKE_CURRENT_LIST_DIR}/wine)
  set(win_convert ${win_build}/src/rawdat-convert.exe)

  add_test(NAME windows.build COMMAND ${CMAKE_SOURCE_DIR}/tools/build-windows ${win_build})
  set_tests_properties(windows.build PROPERTIES LABELS windows FIXTURES_SETUP windows_build TIMEOUT 1500
                                                RESOURCE_LOCK windows)

  foreach(program test_ulit_dat test_fmt_raw test_convert)
    add_test(NAME windows.${program} COMMAND ${wine} ${win_build}/tests/${program}.exe)
    set_tests_properties(windows.${program} PROPERTIES LABELS windows FIXTURES_REQUIRED windows_build
                         ENVIRONMENT "${win_env}" SKIP_RETURN_CODE 77 TIMEOUT 900 RESOURCE_LOCK windows)
  endforeach()

  # The command-line tests that hold on Windows, with the Windows-only rows of the safety table.
  # First the converter alone, so that a wine that cannot start skips the test instead of failing
  # each of its cases.
  add_test(NAME windows.cli
           COMMAND sh -c "\"$0\" \"$1\" --version >/dev/null || exit $?; exec \"$2\" \"$3\""
                   ${wine} ${win_convert} $<TARGET_FILE:test_cli>
                   --gtest_filter=Cli.*:Safety.EveryScenarioLeavesEveryOtherFileAsItWas)
  set_tests_properties(windows.cli PROPERTIES LABELS windows FIXTURES_REQUIRED windows_build
                       ENVIRONMENT "${win_env};RAWDAT_CONVERT_COMMAND=${wine} ${win_convert};RAWDAT_HOLD_FILE_COMMAND=${wine} ${win_build}/tests/hold-file.exe"
                       SKIP_RETURN_CODE 77 TIMEOUT 1200 RESOURCE_LOCK windows)

  add_test(NAME windows.same_bytes
           COMMAND ${CMAKE_CURRENT_LIST_DIR}/same_bytes.sh $<TARGET_FILE:rawdat-convert> ${win_convert}
                   ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/windows-same-bytes)
  set_tests_properties(windows.same_bytes PROPERTIES LABELS windows FIXTURES_REQUIRED windows_build
                       ENVIRONMENT "${win_env}" SKIP_RETURN_CODE 77 TIMEOUT 900 RESOURCE_LOCK windows)
endif()
