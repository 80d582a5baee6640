// Component registration and package modules.
//
// A package module is a shared library that carries components. The host
// loads it with PackageLoad, which runs the module's package entry
// "Initialize"; that entry hands the module's unit table to
// InitializePackage, which initialises the units in order. Registering the
// package calls the "Register" function of each of its units, which put the
// module's component classes on palette pages with RegisterComponents. The
// registry then answers which classes are on which page and creates a
// registered component by class name. PackageUnload runs the module's
// "Finalize" (the units are finalised in reverse order), drops the classes the
// module registered and unloads it.
//
// There is one registry and one package table per process: they live in this
// shared library, which the host and every module link to.
//
// All functions here may be called from any thread; they are serialised by
// one lock, held while a module's entries run.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <typeinfo>
#include <vector>

#include "AnsiString.h"
#include "Component.h"
#include "Export.h"

/// Raised by the package loader and the component registry. The message
/// names the operation, the file or class concerned and what went wrong.
class VCL50_API EPackageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// ---- Class references and the registry -----------------------------------------

/// What a host needs to know about a component class it knows only by name:
/// its name, its run-time type information and a way to create one. A module
/// defines one constant object per component class and exports it; the
/// registry keeps pointers to it, never copies.
struct TComponentClassInfo {
  const char* ClassName;           ///< e.g. "TVekPageProducer"
  const std::type_info* TypeInfo;  ///< typeid of the class
  /// Creates a component of the class with that owner (which then owns it;
  /// with no owner the caller does). Throws what the constructor throws.
  TComponent* (*Create)(TComponent* Owner);
};

/// A class reference.
using TComponentClass = const TComponentClassInfo*;

/// Puts Count classes on the palette page Page, after those already there.
/// Registering a class again on the same page changes nothing. Throws
/// EPackageError for an empty page name, a null or incomplete class, or a
/// class whose name (letter case ignored) is already registered for another
/// class or on another page; then nothing is registered.
VCL50_API void RegisterComponents(const AnsiString& Page, const TComponentClass* Classes,
                                  int Count);

/// The pages that hold registered classes, in the order of their first
/// registration.
VCL50_API std::vector<AnsiString> RegisteredPages();

/// The classes on Page (exact name), in the order they were registered;
/// empty for an unknown page.
VCL50_API std::vector<TComponentClass> RegisteredClasses(const AnsiString& Page);

/// The registered class of that name (ASCII letter case ignored), or nullptr.
VCL50_API TComponentClass FindComponentClass(const AnsiString& ClassName);

/// Creates a component of the registered class ClassName with Owner. With a
/// non-null Owner the owner destroys it; otherwise the caller must delete it.
/// Throws EPackageError when no class of that name is registered, and what
/// the class's constructor throws.
VCL50_API TComponent* CreateComponent(const AnsiString& ClassName, TComponent* Owner);

// ---- Units and the package information table -----------------------------------

/// One unit of a module: its name and its initialisation and finalisation
/// entries (either may be null).
struct TPackageUnit {
  const char* Name;
  void (*Initialization)();
  void (*Finalization)();
};

/// The package information table a module hands to InitializePackage: its
/// units in initialisation order.
struct TPackageInfo {
  const TPackageUnit* Units;
  int UnitCount;
};

/// Initialises the units of Info in order; called by a module's package entry
/// "Initialize". A table already initialised is left alone. When a unit's
/// initialisation throws, the units initialised before it are finalised in
/// reverse order and the exception passes on. Throws EPackageError for a null
/// or malformed table.
VCL50_API void InitializePackage(const TPackageInfo* Info);

/// Finalises the initialised units of Info in reverse order; called by a
/// module's package entry "Finalize". Does nothing for a table that is not
/// initialised. Every unit is finalised even when one throws; the first
/// exception then passes on.
VCL50_API void FinalizePackage(const TPackageInfo* Info);

enum class TUnitStep { Initialization, Finalization };

/// One unit initialised or finalised.
struct TUnitEvent {
  AnsiString Unit;
  TUnitStep Step;
};

/// Every unit initialisation and finalisation run in this process so far, in
/// order.
VCL50_API std::vector<TUnitEvent> UnitEvents();

// ---- Loading modules -----------------------------------------------------------

/// A loaded package. Handles are never reused; None is never a loaded one.
enum class TPackageHandle : std::uint64_t { None = 0 };

/// Loads the package module at Path (a path without a slash is searched for
/// like any shared library), runs its entry "Initialize" and returns a new
/// handle. Loading a module that is already loaded returns another handle to
/// it and runs nothing again; each handle is unloaded on its own.
///
/// Throws EPackageError naming the file and what is wrong: the file is
/// missing or is not a loadable module, the module lacks the package entries
/// "Initialize" or "Finalize", its "Initialize" handed over no package
/// information, or a unit's initialisation failed. The module is then not
/// left loaded.
VCL50_API TPackageHandle PackageLoad(const AnsiString& Path);

/// Unloads a package loaded by PackageLoad. When this is the last handle to
/// the module, runs its entry "Finalize" (units finalised in reverse order),
/// removes the classes it registered from the registry and unloads it.
/// Components of those classes must have been destroyed before.
///
/// Throws EPackageError for a handle that is not loaded (already unloaded,
/// or never loaded), changing nothing; and, after unloading, when a unit's
/// finalisation failed.
VCL50_API void PackageUnload(TPackageHandle Handle);

/// Registers the package's components: calls the function Register of each
/// of its units that has one, in unit order. Returns how many were called.
/// Throws EPackageError for a handle that is not loaded; what Register
/// throws passes on.
VCL50_API int RegisterPackage(TPackageHandle Handle);

/// The path the package was loaded from, as given to PackageLoad.
/// Throws EPackageError for a handle that is not loaded.
VCL50_API AnsiString PackagePath(TPackageHandle Handle);

/// The names of the package's units, in initialisation order.
/// Throws EPackageError for a handle that is not loaded.
VCL50_API std::vector<AnsiString> PackageUnits(TPackageHandle Handle);

/// The address of the module's exported symbol Name (a mangled name for a
/// C++ entity), or nullptr when it exports none of that name.
/// Throws EPackageError for a handle that is not loaded.
VCL50_API void* PackageSymbol(TPackageHandle Handle, const char* Name);
