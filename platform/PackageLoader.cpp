// The package loader: loads a package module, runs its units' initialisation
// and registration, and unloads it, finalising its units and dropping its
// registered classes.
#include <algorithm>
#include <string>

#include "Package.h"
#include "PackageHost.h"

using namespace vek_package;

namespace {

template <class F>
F ToFunction(void* Symbol) {
  return reinterpret_cast<F>(Symbol);
}

}  // namespace

// ---- Loading -----------------------------------------------------------------------

TPackageHandle PackageLoad(const AnsiString& Path) {
  if (Path.empty()) throw EPackageError("PackageLoad: no file name given");
  const AnsiString where = "PackageLoad: " + Quoted(Path);
  if (vek_platform::ModuleFileMissing(Path)) throw EPackageError(where + ": no such file");

  Guard guard(HostState().Lock);
  AnsiString error;
  const ModuleHandle os = vek_platform::ModuleOpen(Path, error);
  if (os == nullptr) throw EPackageError(where + " is not a loadable module: " + error);

  auto module = std::make_shared<LoadedModule>();
  for (const auto& entry : HostState().Handles)
    if (entry.second->Os == os) module = entry.second;  // loaded before: share it

  if (module->Os == nullptr) {
    module->Os = os;
    module->Identity = vek_platform::ModuleIdentity(os);
    module->Path = Path;
    void* init = vek_platform::ModuleSymbol(os, "Initialize");
    void* fini = vek_platform::ModuleSymbol(os, "Finalize");
    if (init == nullptr || fini == nullptr) {
      vek_platform::ModuleClose(os);
      const AnsiString missing = init == nullptr && fini == nullptr
                                     ? "entries \"Initialize\" and \"Finalize\""
                                 : init == nullptr ? "entry \"Initialize\""
                                                   : "entry \"Finalize\"";
      throw EPackageError(where + " is not a package: it lacks the package " + missing);
    }
    module->Finalize = ToFunction<void (*)()>(fini);

    LoadContext context;
    const TPackageInfo*& info = context.Info;
    LoadContext* outer = HostState().Loading;
    HostState().Loading = &context;
    std::exception_ptr failure;
    try {
      ToFunction<void (*)()>(init)();
    } catch (...) {
      failure = std::current_exception();
    }
    HostState().Loading = outer;
    if (failure || info == nullptr) {
      // Units initialised before the failure are finalised while their code is there.
      if (info != nullptr) {
        try {
          FinalizePackage(info);
        } catch (...) {  // the failure reported is the first one
        }
      }
      // The exception may be of a type whose code is in the module: it is
      // read and released before the module goes.
      const bool failed = static_cast<bool>(failure);
      const AnsiString why = failed ? WhatOf(failure) : AnsiString();
      failure = nullptr;
      vek_platform::ModuleClose(os);
      if (failed)
        throw EPackageError(where + ": initialisation" +
                            (context.FailedUnit.empty() ? "" : " of unit " + context.FailedUnit) +
                            " failed: " + why);
      throw EPackageError(where + ": its entry \"Initialize\" handed over no package information");
    }
    module->Info = info;
  }
  ++module->References;
  const std::uint64_t handle = HostState().NextHandle++;
  HostState().Handles[handle] = module;
  return static_cast<TPackageHandle>(handle);
}

void PackageUnload(TPackageHandle Handle) {
  Guard guard(HostState().Lock);
  ModuleOf(Handle, "PackageUnload");
  auto it = HostState().Handles.find(static_cast<std::uint64_t>(Handle));
  const std::shared_ptr<LoadedModule> module = it->second;
  HostState().Handles.erase(it);
  if (--module->References > 0) {
    vek_platform::ModuleClose(module->Os);
    return;
  }
  std::exception_ptr failure;
  try {
    module->Finalize();
  } catch (...) {
    failure = std::current_exception();
  }
  // The units are finalised even when "Finalize" did not do it: the module's
  // code is about to go.
  try {
    FinalizePackage(module->Info);
  } catch (...) {
    if (!failure) failure = std::current_exception();
  }
  auto& classes = HostState().Classes;
  classes.erase(
      std::remove_if(classes.begin(), classes.end(),
                     [&](const RegisteredClass& r) { return r.Module == module->Identity; }),
      classes.end());
  // The exception may be of a type whose code is in the module: it is read
  // and released before the module goes.
  const AnsiString why = failure ? WhatOf(failure) : AnsiString();
  const bool failed = static_cast<bool>(failure);
  failure = nullptr;
  vek_platform::ModuleClose(module->Os);
  if (failed)
    throw EPackageError("PackageUnload: " + Quoted(module->Path) + ": finalisation failed: " + why);
}

int RegisterPackage(TPackageHandle Handle) {
  Guard guard(HostState().Lock);
  const LoadedModule& module = ModuleOf(Handle, "RegisterPackage");
  int called = 0;
  for (int i = 0; i < module.Info->UnitCount; ++i) {
    // The unit's "Register" is the C++ function <unit>::Register().
    const AnsiString unit = module.Info->Units[i].Name;
    const AnsiString symbol = "_ZN" + std::to_string(unit.size()) + unit + "8RegisterEv";
    if (void* reg = vek_platform::ModuleSymbol(module.Os, symbol.c_str())) {
      ToFunction<void (*)()>(reg)();
      ++called;
    }
  }
  return called;
}

AnsiString PackagePath(TPackageHandle Handle) {
  Guard guard(HostState().Lock);
  return ModuleOf(Handle, "PackagePath").Path;
}

std::vector<AnsiString> PackageUnits(TPackageHandle Handle) {
  Guard guard(HostState().Lock);
  const TPackageInfo* info = ModuleOf(Handle, "PackageUnits").Info;
  std::vector<AnsiString> units;
  for (int i = 0; i < info->UnitCount; ++i) units.push_back(info->Units[i].Name);
  return units;
}

void* PackageSymbol(TPackageHandle Handle, const char* Name) {
  Guard guard(HostState().Lock);
  const LoadedModule& module = ModuleOf(Handle, "PackageSymbol");
  return Name == nullptr ? nullptr : vek_platform::ModuleSymbol(module.Os, Name);
}
