// Reading a Windows module's resources: an icon group that names the same
// image in several entries is refused, so that the icon files assembled
// copy each image once at most (no module can make them outgrow itself).
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "PackageResources.h"

namespace {

std::string ProgramDirectory() {
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  const std::string file(path, n);
  return file.substr(0, file.find_last_of("\\/") + 1);
}

TEST(WindowsResources, AnIconImageNamedTwiceIsRefused) {
  const std::string path = ProgramDirectory() + "vek_fixture_sharedicon.dll";
  try {
    ReadModuleResources(path);
    FAIL() << "read without an error";
  } catch (const EPackageError& e) {
    EXPECT_NE(std::string(e.what()).find("has icon image 1 in more than one icon group entry"),
              std::string::npos)
        << e.what();
    EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
  }
}

}  // namespace
