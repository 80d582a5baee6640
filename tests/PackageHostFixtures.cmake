# The fixture modules of the package-host test, alike natively
# (CMakeLists.txt) and for Windows (Windows.cmake): a shared library without
# package entries and a package whose unit fails to initialise (its exception
# crosses from the fixture into VCL50).
add_library(vek_fixture_noentries SHARED fixtures/NoEntries.cpp)
target_include_directories(vek_fixture_noentries PRIVATE ${PROJECT_SOURCE_DIR}/platform)
add_library(vek_fixture_failinginit SHARED fixtures/FailingInit.cpp)
target_link_libraries(vek_fixture_failinginit PRIVATE VCL50)
