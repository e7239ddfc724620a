# GoogleTest for the suites without Qt: Debian's package natively, built from Debian's sources for the
# target when cross-compiling.
if(TARGET GTest::gtest_main)
    return()
endif()
if(CMAKE_CROSSCOMPILING)
    set(ZORVIK_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest's sources, built for the target")
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(${ZORVIK_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
else()
    find_package(GTest REQUIRED)
endif()
