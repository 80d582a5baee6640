// The package host's registry: component classes registered by page, the
// units of packages initialised and finalised in order, and the record of
// those steps.
#include <algorithm>
#include <string>

#include "Package.h"
#include "PackageHost.h"
#include "TextRoutines.h"

namespace vek_package {

PackageHostState& HostState() {
  static PackageHostState state;
  return state;
}

const LoadedModule& ModuleOf(TPackageHandle Handle, const char* Operation) {
  auto it = HostState().Handles.find(static_cast<std::uint64_t>(Handle));
  if (it == HostState().Handles.end())
    throw EPackageError(AnsiString(Operation) + ": handle " +
                        std::to_string(static_cast<std::uint64_t>(Handle)) +
                        " is not a loaded package");
  return *it->second;
}

std::exception_ptr FinalizeUnits(const TPackageInfo* Info, int Count) {
  std::exception_ptr first;
  for (int i = Count - 1; i >= 0; --i) {
    const TPackageUnit& unit = Info->Units[i];
    HostState().Events.push_back({unit.Name, TUnitStep::Finalization});
    try {
      if (unit.Finalization != nullptr) unit.Finalization();
    } catch (...) {
      if (!first) first = std::current_exception();
    }
  }
  return first;
}

AnsiString WhatOf(std::exception_ptr E) {
  try {
    std::rethrow_exception(E);
  } catch (const std::exception& x) {
    return x.what();
  } catch (...) {
    return "an exception that is not a std::exception";
  }
}

}  // namespace vek_package

using namespace vek_package;

namespace {

void CheckTable(const TPackageInfo* Info, const char* Operation) {
  if (Info == nullptr) throw EPackageError(AnsiString(Operation) + ": no package information");
  if (Info->UnitCount < 0 || (Info->UnitCount > 0 && Info->Units == nullptr))
    throw EPackageError(AnsiString(Operation) + ": malformed unit table");
  for (int i = 0; i < Info->UnitCount; ++i)
    if (Info->Units[i].Name == nullptr || Info->Units[i].Name[0] == '\0')
      throw EPackageError(AnsiString(Operation) + ": unit " + std::to_string(i) + " has no name");
}

}  // namespace

// ---- Registry ------------------------------------------------------------------------

void RegisterComponents(const AnsiString& Page, const TComponentClass* Classes, int Count) {
  if (Page.empty()) throw EPackageError("RegisterComponents: empty page name");
  if (Count < 0 || (Count > 0 && Classes == nullptr))
    throw EPackageError("RegisterComponents: no class array for " + std::to_string(Count) +
                        " classes");
  Guard guard(HostState().Lock);
  std::vector<RegisteredClass> added;
  for (int i = 0; i < Count; ++i) {
    const TComponentClass c = Classes[i];
    if (c == nullptr || c->ClassName == nullptr || c->ClassName[0] == '\0' ||
        c->TypeInfo == nullptr || c->Create == nullptr)
      throw EPackageError("RegisterComponents: class " + std::to_string(i) + " on page " +
                          Quoted(Page) + " is null or incomplete");
    const AnsiString name = c->ClassName;
    bool known = false;
    for (const auto* list : {&HostState().Classes, &added}) {
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
  HostState().Classes.insert(HostState().Classes.end(), added.begin(), added.end());
}

std::vector<AnsiString> RegisteredPages() {
  Guard guard(HostState().Lock);
  std::vector<AnsiString> pages;
  for (const RegisteredClass& r : HostState().Classes)
    if (std::find(pages.begin(), pages.end(), r.Page) == pages.end()) pages.push_back(r.Page);
  return pages;
}

std::vector<TComponentClass> RegisteredClasses(const AnsiString& Page) {
  Guard guard(HostState().Lock);
  std::vector<TComponentClass> classes;
  for (const RegisteredClass& r : HostState().Classes)
    if (r.Page == Page) classes.push_back(r.Class);
  return classes;
}

TComponentClass FindComponentClass(const AnsiString& ClassName) {
  Guard guard(HostState().Lock);
  for (const RegisteredClass& r : HostState().Classes)
    if (SameText(r.Class->ClassName, ClassName)) return r.Class;
  return nullptr;
}

TComponent* CreateComponent(const AnsiString& ClassName, TComponent* Owner) {
  // Held while the constructor runs, so that the class's module cannot be
  // unloaded in between.
  Guard guard(HostState().Lock);
  const TComponentClass c = FindComponentClass(ClassName);
  if (c == nullptr)
    throw EPackageError("CreateComponent: no class named " + Quoted(ClassName) + " is registered");
  return c->Create(Owner);
}

// ---- Units -----------------------------------------------------------------------

void InitializePackage(const TPackageInfo* Info) {
  CheckTable(Info, "InitializePackage");
  Guard guard(HostState().Lock);
  if (HostState().Loading != nullptr) HostState().Loading->Info = Info;
  if (HostState().Initialized.count(Info) != 0) return;
  for (int i = 0; i < Info->UnitCount; ++i) {
    const TPackageUnit& unit = Info->Units[i];
    try {
      if (unit.Initialization != nullptr) unit.Initialization();
    } catch (...) {
      if (HostState().Loading != nullptr) HostState().Loading->FailedUnit = unit.Name;
      FinalizeUnits(Info, i);  // the exception that matters is this one
      throw;
    }
    HostState().Events.push_back({unit.Name, TUnitStep::Initialization});
  }
  HostState().Initialized[Info] = Info->UnitCount;
}

void FinalizePackage(const TPackageInfo* Info) {
  Guard guard(HostState().Lock);
  auto it = HostState().Initialized.find(Info);
  if (it == HostState().Initialized.end()) return;
  const int count = it->second;
  HostState().Initialized.erase(it);
  if (std::exception_ptr failure = FinalizeUnits(Info, count)) std::rethrow_exception(failure);
}

std::vector<TUnitEvent> UnitEvents() {
  Guard guard(HostState().Lock);
  return HostState().Events;
}
