# Test support for the Windows cross build: GoogleTest compiled for the
# target from source, and every test of the build labelled "wine", since
# each one runs under Wine through the cross-compiling emulator.
if(NOT REBOUNCE_GTEST_SOURCE_DIR OR NOT EXISTS ${REBOUNCE_GTEST_SOURCE_DIR}/CMakeLists.txt)
  message(FATAL_ERROR "Cross builds need GoogleTest sources: set REBOUNCE_GTEST_SOURCE_DIR "
                      "(Debian's googletest package installs them in /usr/src/googletest)")
endif()

set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${REBOUNCE_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
foreach(lib IN ITEMS gtest gtest_main gmock gmock_main)
  if(NOT TARGET GTest::${lib})
    add_library(GTest::${lib} ALIAS ${lib})
  endif()
endforeach()

# Applies to the tests of this directory and all below it, also to those
# that gtest_discover_tests adds when CTest runs.
set_property(DIRECTORY PROPERTY LABELS wine)
