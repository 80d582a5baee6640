# The unit tests of the component and the host layer, one program vek_tests
# built alike natively (CMakeLists.txt) and for Windows (Windows.cmake), which
# add their own sources and GoogleTest target. The internal delimiter search is
# linked as its object file, the same one the package module holds.
set(VEK_UNIT_TEST_SOURCES
  PlatformTest.cpp
  EncodingTest.cpp
  ScannerTest.cpp
  ParserTest.cpp
  ExecuteTest.cpp
  PairTest.cpp
  LoopTest.cpp
  EntryPointsTest.cpp
  FormStreamingTest.cpp
  FindBytesTest.cpp
  PreparedTest.cpp)
set(VEK_UNIT_TEST_LIBRARIES PVekPgPrd VekFindBytes vek_model)
