// Internal to the package host: the process's registry of component classes,
// initialised packages and loaded modules, shared by the registry, the loader
// and the resource reader, and guarded by one lock.
#pragma once

#include <cstdint>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "AnsiString.h"
#include "Package.h"
#include "PlatformModule.h"

namespace vek_package {

using vek_platform::ModuleHandle;

struct RegisteredClass {
  AnsiString Page;
  TComponentClass Class;
  const void* Module;  // the module that holds the class reference
};

struct LoadedModule {
  ModuleHandle Os = nullptr;
  const void* Identity = nullptr;
  AnsiString Path;
  const TPackageInfo* Info = nullptr;
  void (*Finalize)() = nullptr;
  int References = 0;
};

struct LoadContext {
  const TPackageInfo* Info = nullptr;
  AnsiString FailedUnit;
};

// The registry and the package table of the process. Every access holds Lock.
struct PackageHostState {
  std::recursive_mutex Lock;
  std::vector<RegisteredClass> Classes;  // in order of registration
  std::map<const TPackageInfo*, int> Initialized;
  std::vector<TUnitEvent> Events;
  std::map<std::uint64_t, std::shared_ptr<LoadedModule>> Handles;
  std::uint64_t NextHandle = 1;
  // While PackageLoad runs a module's "Initialize": where InitializePackage
  // leaves the table it is handed, and the unit that failed.
  LoadContext* Loading = nullptr;
};

// The one instance of the process.
PackageHostState& HostState();

using Guard = std::lock_guard<std::recursive_mutex>;

// The loaded module behind Handle; throws EPackageError naming Operation when
// the handle is not one of a loaded package. The caller holds the lock.
const LoadedModule& ModuleOf(TPackageHandle Handle, const char* Operation);

// Finalises the first Count units of Info in reverse order, recording each
// step; returns the first failure. The caller holds the lock.
std::exception_ptr FinalizeUnits(const TPackageInfo* Info, int Count);

// S between double quotes, for messages.
inline AnsiString Quoted(const AnsiString& s) {
  return "\"" + s + "\"";
}

// The message of the exception E ("an exception that is not a
// std::exception" for other types).
AnsiString WhatOf(std::exception_ptr E);

}  // namespace vek_package
