# Cross-builds the Windows programs (x86-64) with Debian's MinGW-w64, the POSIX-threads variant
# (std::thread): cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake. tools/build-windows uses it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(RAWDAT_MINGW x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${RAWDAT_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${RAWDAT_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${RAWDAT_MINGW}-windres)

# Libraries and programs for the target from its own root; host programs (cmake, the tests'
# scripts) from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${RAWDAT_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One program that runs alone: the C++ runtime, libgcc and winpthread linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Header-only packages serve every target: those of the host are found where Debian puts their
# CMake files. Their headers come from a folder of links to them alone, searched after MinGW's
# own, so that no host C library header ever replaces the target's.
set(RAWDAT_HOST_HEADER_ONLY nlohmann_json:/usr/share/cmake/nlohmann_json:nlohmann
                            Eigen3:/usr/share/eigen3/cmake:eigen3)
set(_rawdat_host_include ${CMAKE_BINARY_DIR}/host-include)
foreach(entry ${RAWDAT_HOST_HEADER_ONLY})
  string(REPLACE ":" ";" entry "${entry}")
  list(GET entry 0 package)
  list(GET entry 1 config)
  list(GET entry 2 headers)
  if(EXISTS ${config} AND EXISTS /usr/include/${headers})
    set(${package}_DIR ${config} CACHE PATH "the host's header-only ${package}")
    file(MAKE_DIRECTORY ${_rawdat_host_include})
    if(NOT EXISTS ${_rawdat_host_include}/${headers})
      file(CREATE_LINK /usr/include/${headers} ${_rawdat_host_include}/${headers} SYMBOLIC)
    endif()
  endif()
endforeach()
string(APPEND CMAKE_CXX_FLAGS_INIT " -idirafter ${_rawdat_host_include}")
# Their targets name /usr/include, the host's C library: never put before the target's.
list(APPEND CMAKE_CXX_IMPLICIT_INCLUDE_DIRECTORIES /usr/include)
