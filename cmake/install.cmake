# Installation (GNU directories) and the Debian package (cpack -G DEB).
# On Windows: the converter's zip (cpack -G ZIP), rawdat-convert.exe with the README, the
# license and the manual page as text.
if(WIN32)
  install(TARGETS rawdat-convert RUNTIME DESTINATION .)
  install(FILES README.md LICENSE DESTINATION .)
  find_program(GROFF_PROGRAM groff REQUIRED)
  set(man_text ${CMAKE_BINARY_DIR}/man/rawdat-convert.txt)
  add_custom_command(OUTPUT ${man_text}
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
                     COMMAND ${GROFF_PROGRAM} -man -Tutf8 -P-cbou ${CMAKE_SOURCE_DIR}/man/rawdat-convert.1 > ${man_text}
                     DEPENDS ${CMAKE_SOURCE_DIR}/man/rawdat-convert.1 VERBATIM)
  add_custom_target(man_pages ALL DEPENDS ${man_text})
  install(FILES ${man_text} DESTINATION .)
  set(CPACK_PACKAGE_NAME rawdat-convert)
  set(CPACK_PACKAGE_VENDOR "rawdat developers")
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME rawdat-convert-${PROJECT_VERSION}-win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  set(CPACK_STRIP_FILES ON)
  include(CPack)
  return()
endif()

include(GNUInstallDirs)
set(RAWDAT_MAINTAINER "rawdat developers <maintainers@rawdat.org>"
    CACHE STRING "Maintainer of the Debian package (name <address>)")

foreach(program rawdat rawdat-convert)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
      # As Debian links its programs: relocations resolved at start, then made read-only.
      target_link_options(${program} PRIVATE -Wl,-z,relro -Wl,-z,now)
    endif()
  endif()
endforeach()

set(RAWDAT_APP_ID org.rawdat.rawdat)
if(TARGET rawdat)
  install(FILES data/rawdat.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES data/rawdat.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  install(FILES data/${RAWDAT_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endif()
install(FILES data/rawdat-mime.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME rawdat.xml)

# Manual pages, compressed as Debian keeps them when gzip is at hand.
set(man_pages rawdat-convert.1)
if(TARGET rawdat)
  list(APPEND man_pages rawdat.1)
endif()
find_program(GZIP_PROGRAM gzip)
foreach(page ${man_pages})
  if(GZIP_PROGRAM)
    set(gz ${CMAKE_BINARY_DIR}/man/${page}.gz)
    add_custom_command(OUTPUT ${gz}
                       COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
                       COMMAND ${GZIP_PROGRAM} -9n -c ${CMAKE_SOURCE_DIR}/man/${page} > ${gz}
                       DEPENDS ${CMAKE_SOURCE_DIR}/man/${page} VERBATIM)
    list(APPEND man_outputs ${gz})
    install(FILES ${gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  else()
    install(FILES man/${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
endforeach()
if(man_outputs)
  add_custom_target(man_pages ALL DEPENDS ${man_outputs})
endif()

# The package's documentation: the license in Debian's copyright format and the changelog.
set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/rawdat)
install(FILES data/copyright DESTINATION ${doc_dir})
install(FILES README.md DESTINATION ${doc_dir})
if(GZIP_PROGRAM)
  configure_file(data/changelog.Debian.in ${CMAKE_BINARY_DIR}/doc/changelog.Debian @ONLY)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/doc/changelog.gz
                     COMMAND ${GZIP_PROGRAM} -9n -c ${CMAKE_SOURCE_DIR}/CHANGELOG.md > ${CMAKE_BINARY_DIR}/doc/changelog.gz
                     COMMAND ${GZIP_PROGRAM} -9n -c ${CMAKE_BINARY_DIR}/doc/changelog.Debian
                             > ${CMAKE_BINARY_DIR}/doc/changelog.Debian.gz
                     DEPENDS ${CMAKE_SOURCE_DIR}/CHANGELOG.md ${CMAKE_BINARY_DIR}/doc/changelog.Debian VERBATIM)
  add_custom_target(changelogs ALL DEPENDS ${CMAKE_BINARY_DIR}/doc/changelog.gz)
  install(FILES ${CMAKE_BINARY_DIR}/doc/changelog.gz ${CMAKE_BINARY_DIR}/doc/changelog.Debian.gz
          DESTINATION ${doc_dir})
else()
  install(FILES CHANGELOG.md DESTINATION ${doc_dir})
endif()

# The Debian package: runtime dependencies computed from the libraries the programs link.
set(CPACK_PACKAGE_NAME rawdat)
set(CPACK_PACKAGE_VENDOR "rawdat developers")
set(CPACK_PACKAGE_CONTACT "${RAWDAT_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "convert and plot X-ray powder diffraction patterns")
set(CPACK_PACKAGE_DESCRIPTION
    "rawdat converts the patterns of an X-ray powder diffractometer with a
position-sensitive detector into the files that diffraction and analysis
programs read: a detector DAT file and its CAL calibration become a
diffractometer RAW file and a two-column text file, and a RAW file becomes
the detector's TXT format. Every pattern is shown in a plot.
The command-line converter rawdat-convert converts whole folders at once.")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(TARGET rawdat_python)
  # The Python module (import rawdat) is part of the package; it needs numpy only when used.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "python3, python3-numpy")
endif()
include(CPack)
