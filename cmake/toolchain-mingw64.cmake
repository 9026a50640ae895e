# Cross build for 64-bit Windows with Debian's mingw-w64 (the POSIX-thread
# flavour, which std::thread needs).  Everything is linked statically so the
# .exe files run under Wine, or on a bare Windows machine, without carrying
# the compiler's DLLs along.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(REBOUNCE_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${REBOUNCE_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${REBOUNCE_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${REBOUNCE_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${REBOUNCE_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -static also pulls in winpthread statically; without it the programs ask
# for libwinpthread-1.dll.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Header-only libraries of the build machine serve the target as well,
# through package files that expose only their own headers.
foreach(pkg IN ITEMS CLI11 nlohmann_json)
  if(NOT DEFINED ${pkg}_DIR)
    set(${pkg}_DIR ${CMAKE_CURRENT_LIST_DIR}/mingw-packages CACHE PATH "")
  endif()
endforeach()

# GoogleTest is built for the target from the sources Debian installs.
if(NOT DEFINED REBOUNCE_GTEST_SOURCE_DIR AND EXISTS /usr/src/googletest/CMakeLists.txt)
  set(REBOUNCE_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources built for the target")
endif()

# Test programs run under Wine.  The wrapper refuses to start Wine where it
# could see a real serial port; tools/wine-test.sh provides the place where
# it may.
get_filename_component(REBOUNCE_SOURCE_ROOT ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${REBOUNCE_SOURCE_ROOT}/tools/wine-run.sh)
