// The package-host tests' platform fixture on Windows: the DLLs are built
// next to the test program; the process's module list tells what is mapped.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// after windows.h, which it needs
#include <tlhelp32.h>

#include "PackageHostFixture.h"

namespace package_host {
namespace {

std::string ProgramDirectory() {
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string dir(path, n);
  return dir.substr(0, dir.find_last_of("\\/") + 1);
}

std::string FileNameOf(const std::string& Path) {
  return Path.substr(Path.find_last_of("\\/") + 1);
}

}  // namespace

const std::string& ModulePath() {
  static const std::string path = ProgramDirectory() + "PVekPgPrd.dll";
  return path;
}
const std::string& NoEntriesModulePath() {
  static const std::string path = ProgramDirectory() + "vek_fixture_noentries.dll";
  return path;
}
const std::string& FailingInitModulePath() {
  static const std::string path = ProgramDirectory() + "vek_fixture_failinginit.dll";
  return path;
}

const std::vector<std::string>& HostLibraryFiles() {
  static const std::vector<std::string> files{"VCL50.dll", "INET50.dll"};
  return files;
}

const char* ModuleSuffix() {
  return ".dll";
}

const char* ForeignModuleMessage() {
  return "is not a Windows module";
}

// By file name: the loader knows a module under the name it was loaded as.
bool IsMapped(const std::string& Path) {
  return GetModuleHandleA(FileNameOf(Path).c_str()) != nullptr;
}

int CountMapped(const std::string& FileName) {
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  int n = 0;
  MODULEENTRY32 entry;
  entry.dwSize = sizeof entry;
  for (BOOL more = Module32First(snapshot, &entry); more; more = Module32Next(snapshot, &entry))
    if (lstrcmpiA(entry.szModule, FileName.c_str()) == 0) ++n;
  CloseHandle(snapshot);
  return n;
}

}  // namespace package_host
