// What the package-host tests need from the platform they run on: where the
// package module and the fixture modules are, how to tell whether a module is
// mapped, and the few things that differ between ELF systems and Windows.
// PackageHostElf.cpp and PackageHostWindows.cpp implement it.
#pragma once

#include <string>
#include <vector>

namespace package_host {

/// The package module under test and the fixture modules: one without
/// package entries, one whose second unit fails to initialise.
const std::string& ModulePath();
const std::string& NoEntriesModulePath();
const std::string& FailingInitModulePath();

/// The file names of the host layer's libraries (VCL50, INET50).
const std::vector<std::string>& HostLibraryFiles();

/// How module files are named here (".so", ".dll").
const char* ModuleSuffix();

/// What ReadModuleResources says of a file that is not a module of this
/// platform.
const char* ForeignModuleMessage();

/// True when the module at Path (or of its file name) is mapped.
bool IsMapped(const std::string& Path);

/// How many loaded modules have that file name.
int CountMapped(const std::string& FileName);

}  // namespace package_host
