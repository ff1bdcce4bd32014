# The installation as a user gets it: cmake --install into a temporary prefix, the installed
# programs, manual pages, desktop entry, metadata and MIME types, and the Debian package.
if(TARGET rawdat-convert)
  find_program(BASH_PROGRAM bash)
  set(package_option "")
  if(RAWDAT_SANITIZE)
    set(package_option --no-package) # the package is made from a Release build
  endif()
  add_test(NAME install.check COMMAND ${BASH_PROGRAM} ${CMAKE_CURRENT_LIST_DIR}/check_install.sh
                                      ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR} ${package_option})
  set_tests_properties(install.check PROPERTIES TIMEOUT 120 ENVIRONMENT RAWDAT_VERSION=${PROJECT_VERSION})
endif()
