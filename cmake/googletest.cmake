# GoogleTest for the test programs: Debian's build for the machine we run on, or, when that does
# not fit the target (a Windows cross-build, or a C++ runtime other than the system's), built
# here from the sources Debian ships in /usr/src/googletest (package googletest).
set(NIMBRA_GTEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest sources")
option(NIMBRA_GTEST_FROM_SOURCE "Build GoogleTest from NIMBRA_GTEST_SOURCE_DIR" ${CMAKE_CROSSCOMPILING})

if(NOT NIMBRA_GTEST_FROM_SOURCE)
    find_package(GTest REQUIRED)
    return()
endif()
if(NOT EXISTS "${NIMBRA_GTEST_SOURCE_DIR}/CMakeLists.txt")
    message(FATAL_ERROR "GoogleTest sources not found in ${NIMBRA_GTEST_SOURCE_DIR} "
                        "(apt-get install googletest)")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory("${NIMBRA_GTEST_SOURCE_DIR}" "${PROJECT_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)
foreach(lib gtest gtest_main gmock gmock_main)
    if(NOT TARGET GTest::${lib})
        add_library(GTest::${lib} ALIAS ${lib})
    endif()
endforeach()
set(GTest_FOUND TRUE)
