# Tests of the Windows cross build. The programs run under Wine through the
# emulator the build is configured with (CMAKE_CROSSCOMPILING_EMULATOR, see
# scripts/wine-run.sh); the checks of the DLL's export table and resources run
# on the build machine.

# GoogleTest is built from Debian's source package with the cross compiler.
set(VEK_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(${VEK_GTEST_SOURCE} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# Its sources are not held to this project's warning options.
set_target_properties(gtest gtest_main PROPERTIES COMPILE_OPTIONS "")

include(${CMAKE_CURRENT_LIST_DIR}/UnitTests.cmake)
add_executable(vek_tests ${VEK_UNIT_TEST_SOURCES})
target_link_libraries(vek_tests PRIVATE ${VEK_UNIT_TEST_LIBRARIES} gtest_main)
add_test(NAME Windows.UnitTests COMMAND vek_tests)

# The package host (the same test source and fixture modules as on ELF
# systems, with its Windows fixture): loads PVekPgPrd.dll by path, not linked
# to it.
include(${CMAKE_CURRENT_LIST_DIR}/PackageHostFixtures.cmake)
set_target_properties(vek_fixture_noentries vek_fixture_failinginit PROPERTIES PREFIX "")

add_executable(vek_windows_package_tests PackageTest.cpp PackageHostWindows.cpp)
target_include_directories(vek_windows_package_tests PRIVATE ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(vek_windows_package_tests PRIVATE VCL50 INET50 gtest_main)
add_dependencies(vek_windows_package_tests PVekPgPrd vek_fixture_noentries
                 vek_fixture_failinginit)
add_test(NAME Windows.PackageHost COMMAND vek_windows_package_tests)

if(TARGET vek_demo)
  add_test(NAME Windows.Demo COMMAND vek_demo)
  set_tests_properties(Windows.Demo PROPERTIES
    PASS_REGULAR_EXPRESSION "<p>Hello, Good morning, <b>Ann Lee</b>!</p>"
    FAIL_REGULAR_EXPRESSION "never sent")
endif()
# The command-line package host on the DLL, loaded and as a file.
add_test(NAME Windows.InfoTool COMMAND vek_pkginfo $<TARGET_FILE:PVekPgPrd>)
set_tests_properties(Windows.InfoTool PROPERTIES
  PASS_REGULAR_EXPRESSION "Internet: TVekPageProducer\n.*description: 101 VekPageProducer")
add_test(NAME Windows.InfoToolNoLoad COMMAND vek_pkginfo --no-load $<TARGET_FILE:PVekPgPrd>)
set_tests_properties(Windows.InfoToolNoLoad PROPERTIES
  PASS_REGULAR_EXPRESSION "units: Pvekpgprd, VekPgProd\n.*BITMAP TVEKPAGEPRODUCER")
set_tests_properties(Windows.UnitTests Windows.PackageHost PROPERTIES TIMEOUT 300)

# The DLL's export table is exactly PVekPgPrd.exports.
find_program(VEK_OBJDUMP NAMES ${VEK_MINGW_PREFIX}-objdump objdump REQUIRED)
add_test(NAME Windows.Exports
  COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${VEK_OBJDUMP} -DMODULE=$<TARGET_FILE:PVekPgPrd>
          -DEXPECTED=${PROJECT_SOURCE_DIR}/package/PVekPgPrd.exports
          -P ${CMAKE_CURRENT_SOURCE_DIR}/CheckExports.cmake)

# wrestool lists and extracts the DLL's resources; the version strings and
# the images are checked byte for byte.
find_program(VEK_PYTHON NAMES python3 REQUIRED)
add_test(NAME Windows.Resources
  COMMAND ${VEK_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/windows/check_resources.py
          $<TARGET_FILE:PVekPgPrd> ${PROJECT_BINARY_DIR}/package)
