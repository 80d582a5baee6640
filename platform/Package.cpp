#include "Package.h"

#include <algorithm>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "PackageResources.h"
#include "PlatformModule.h"
#include "TextRoutines.h"

using vek_platform::ModuleHandle;

namespace {

AnsiString Quoted(const AnsiString& s) {
  return "\"" + s + "\"";
}

AnsiString WhatOf(std::exception_ptr e) {
  try {
    std::rethrow_exception(e);
  } catch (const std::exception& x) {
    return x.what();
  } catch (...) {
    return "an exception that is not a std::exception";
  }
}

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

// The registry and the package table of the process.
struct State {
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

State& S() {
  static State state;
  return state;
}

using Guard = std::lock_guard<std::recursive_mutex>;

const LoadedModule& ModuleOf(TPackageHandle Handle, const char* Operation) {
  auto it = S().Handles.find(static_cast<std::uint64_t>(Handle));
  if (it == S().Handles.end())
    throw EPackageError(AnsiString(Operation) + ": handle " +
                        std::to_string(static_cast<std::uint64_t>(Handle)) +
                        " is not a loaded package");
  return *it->second;
}

void CheckTable(const TPackageInfo* Info, const char* Operation) {
  if (Info == nullptr) throw EPackageError(AnsiString(Operation) + ": no package information");
  if (Info->UnitCount < 0 || (Info->UnitCount > 0 && Info->Units == nullptr))
    throw EPackageError(AnsiString(Operation) + ": malformed unit table");
  for (int i = 0; i < Info->UnitCount; ++i)
    if (Info->Units[i].Name == nullptr || Info->Units[i].Name[0] == '\0')
      throw EPackageError(AnsiString(Operation) + ": unit " + std::to_string(i) + " has no name");
}

// Finalises the first Count units of Info in reverse order; returns the first
// failure.
std::exception_ptr FinalizeUnits(const TPackageInfo* Info, int Count) {
  std::exception_ptr first;
  for (int i = Count - 1; i >= 0; --i) {
    const TPackageUnit& unit = Info->Units[i];
    S().Events.push_back({unit.Name, TUnitStep::Finalization});
    try {
      if (unit.Finalization != nullptr) unit.Finalization();
    } catch (...) {
      if (!first) first = std::current_exception();
    }
  }
  return first;
}

template <class F>
F ToFunction(void* Symbol) {
  return reinterpret_cast<F>(Symbol);
}

}  // namespace

// ---- Registry ------------------------------------------------------------------------

void RegisterComponents(const AnsiString& Page, const TComponentClass* Classes, int Count) {
  if (Page.empty()) throw EPackageError("RegisterComponents: empty page name");
  if (Count < 0 || (Count > 0 && Classes == nullptr))
    throw EPackageError("RegisterComponents: no class array for " + std::to_string(Count) +
                        " classes");
  Guard guard(S().Lock);
  std::vector<RegisteredClass> added;
  for (int i = 0; i < Count; ++i) {
    const TComponentClass c = Classes[i];
    if (c == nullptr || c->ClassName == nullptr || c->ClassName[0] == '\0' ||
        c->TypeInfo == nullptr || c->Create == nullptr)
      throw EPackageError("RegisterComponents: class " + std::to_string(i) + " on page " +
                          Quoted(Page) + " is null or incomplete");
    const AnsiString name = c->ClassName;
    bool known = false;
    for (const auto* list : {&S().Classes, &added}) {
      for (const RegisteredClass& r : *list) {
        if (!SameText(r.Class->ClassName, name)) continue;
        if (r.Class != c)
          throw EPackageError("RegisterComponents: another class named " + name +
                              " is already registered");
        if (r.Page != Page)
          throw EPackageError("RegisterComponents: class " + name +
                              " is already registered on page " + Quoted(r.Page));
        known = true;
      }
    }
    if (!known) added.push_back({Page, c, vek_platform::ModuleOfAddress(c)});
  }
  S().Classes.insert(S().Classes.end(), added.begin(), added.end());
}

std::vector<AnsiString> RegisteredPages() {
  Guard guard(S().Lock);
  std::vector<AnsiString> pages;
  for (const RegisteredClass& r : S().Classes)
    if (std::find(pages.begin(), pages.end(), r.Page) == pages.end()) pages.push_back(r.Page);
  return pages;
}

std::vector<TComponentClass> RegisteredClasses(const AnsiString& Page) {
  Guard guard(S().Lock);
  std::vector<TComponentClass> classes;
  for (const RegisteredClass& r : S().Classes)
    if (r.Page == Page) classes.push_back(r.Class);
  return classes;
}

TComponentClass FindComponentClass(const AnsiString& ClassName) {
  Guard guard(S().Lock);
  for (const RegisteredClass& r : S().Classes)
    if (SameText(r.Class->ClassName, ClassName)) return r.Class;
  return nullptr;
}

TComponent* CreateComponent(const AnsiString& ClassName, TComponent* Owner) {
  // Held while the constructor runs, so that the class's module cannot be
  // unloaded in between.
  Guard guard(S().Lock);
  const TComponentClass c = FindComponentClass(ClassName);
  if (c == nullptr)
    throw EPackageError("CreateComponent: no class named " + Quoted(ClassName) + " is registered");
  return c->Create(Owner);
}

// ---- Units -----------------------------------------------------------------------

void InitializePackage(const TPackageInfo* Info) {
  CheckTable(Info, "InitializePackage");
  Guard guard(S().Lock);
  if (S().Loading != nullptr) S().Loading->Info = Info;
  if (S().Initialized.count(Info) != 0) return;
  for (int i = 0; i < Info->UnitCount; ++i) {
    const TPackageUnit& unit = Info->Units[i];
    try {
      if (unit.Initialization != nullptr) unit.Initialization();
    } catch (...) {
      if (S().Loading != nullptr) S().Loading->FailedUnit = unit.Name;
      FinalizeUnits(Info, i);  // the exception that matters is this one
      throw;
    }
    S().Events.push_back({unit.Name, TUnitStep::Initialization});
  }
  S().Initialized[Info] = Info->UnitCount;
}

void FinalizePackage(const TPackageInfo* Info) {
  Guard guard(S().Lock);
  auto it = S().Initialized.find(Info);
  if (it == S().Initialized.end()) return;
  const int count = it->second;
  S().Initialized.erase(it);
  if (std::exception_ptr failure = FinalizeUnits(Info, count)) std::rethrow_exception(failure);
}

std::vector<TUnitEvent> UnitEvents() {
  Guard guard(S().Lock);
  return S().Events;
}

// ---- Loading -----------------------------------------------------------------------

TPackageHandle PackageLoad(const AnsiString& Path) {
  if (Path.empty()) throw EPackageError("PackageLoad: no file name given");
  const AnsiString where = "PackageLoad: " + Quoted(Path);
  if (vek_platform::ModuleFileMissing(Path)) throw EPackageError(where + ": no such file");

  Guard guard(S().Lock);
  AnsiString error;
  const ModuleHandle os = vek_platform::ModuleOpen(Path, error);
  if (os == nullptr) throw EPackageError(where + " is not a loadable module: " + error);

  auto module = std::make_shared<LoadedModule>();
  for (const auto& entry : S().Handles)
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
    LoadContext* outer = S().Loading;
    S().Loading = &context;
    std::exception_ptr failure;
    try {
      ToFunction<void (*)()>(init)();
    } catch (...) {
      failure = std::current_exception();
    }
    S().Loading = outer;
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
  const std::uint64_t handle = S().NextHandle++;
  S().Handles[handle] = module;
  return static_cast<TPackageHandle>(handle);
}

void PackageUnload(TPackageHandle Handle) {
  Guard guard(S().Lock);
  ModuleOf(Handle, "PackageUnload");
  auto it = S().Handles.find(static_cast<std::uint64_t>(Handle));
  const std::shared_ptr<LoadedModule> module = it->second;
  S().Handles.erase(it);
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
  auto& classes = S().Classes;
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
  Guard guard(S().Lock);
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
  Guard guard(S().Lock);
  return ModuleOf(Handle, "PackagePath").Path;
}

std::vector<AnsiString> PackageUnits(TPackageHandle Handle) {
  Guard guard(S().Lock);
  const TPackageInfo* info = ModuleOf(Handle, "PackageUnits").Info;
  std::vector<AnsiString> units;
  for (int i = 0; i < info->UnitCount; ++i) units.push_back(info->Units[i].Name);
  return units;
}

void* PackageSymbol(TPackageHandle Handle, const char* Name) {
  Guard guard(S().Lock);
  const LoadedModule& module = ModuleOf(Handle, "PackageSymbol");
  return Name == nullptr ? nullptr : vek_platform::ModuleSymbol(module.Os, Name);
}

TResourceList PackageResources(TPackageHandle Handle) {
  Guard guard(S().Lock);  // so that the module stays while it is read
  const LoadedModule& module = ModuleOf(Handle, "PackageResources");
  return vek_platform::ModuleResources(module.Os, module.Path);
}
