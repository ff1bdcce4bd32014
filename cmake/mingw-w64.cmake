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

# Header-only packages serve every target: the host's are found here too. Eigen3's CMake files
# name only its own folder, /usr/include/eigen3. nlohmann_json's name /usr/include, where the
# host's C library lies, which must never come before the target's: it is found through a folder
# holding a link to its headers alone, with its own version file.
if(EXISTS /usr/share/eigen3/cmake/Eigen3Config.cmake)
  set(Eigen3_DIR /usr/share/eigen3/cmake CACHE PATH "the host's header-only Eigen3" FORCE)
endif()
set(_rawdat_json ${CMAKE_BINARY_DIR}/host-header-only/nlohmann_json)
if(EXISTS /usr/include/nlohmann/json.hpp AND EXISTS /usr/share/cmake/nlohmann_json/nlohmann_jsonConfigVersion.cmake)
  file(MAKE_DIRECTORY ${_rawdat_json}/include)
  if(NOT EXISTS ${_rawdat_json}/include/nlohmann)
    file(CREATE_LINK /usr/include/nlohmann ${_rawdat_json}/include/nlohmann SYMBOLIC)
  endif()
  file(COPY /usr/share/cmake/nlohmann_json/nlohmann_jsonConfigVersion.cmake DESTINATION ${_rawdat_json})
  file(WRITE ${_rawdat_json}/nlohmann_jsonConfig.cmake
       "if(NOT TARGET nlohmann_json::nlohmann_json)\n"
       "  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)\n"
       "  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES\n"
       "                        INTERFACE_INCLUDE_DIRECTORIES ${_rawdat_json}/include)\n"
       "endif()\n")
  set(nlohmann_json_DIR ${_rawdat_json} CACHE PATH "the host's header-only nlohmann_json" FORCE)
endif()
