// What the package loader and the resource readers need from the operating
// system: loading and unloading a module, finding its symbols, telling which
// module an address belongs to, and reading a module's resources from its
// image in memory or from its file. One source file per platform implements
// it (PlatformModuleElf.cpp here); nothing outside this library sees it.
#pragma once

#include "AnsiString.h"
#include "PackageResources.h"

namespace vek_platform {

/// An OS module handle; null is none.
using ModuleHandle = void*;

/// True when Path names a file (it holds a directory part) that does not
/// exist. A bare name is searched for by ModuleOpen and is never "missing".
bool ModuleFileMissing(const AnsiString& Path);

/// Loads the module at Path with all its symbols bound now. Returns null and
/// sets Error to the system's reason when it cannot be loaded.
ModuleHandle ModuleOpen(const AnsiString& Path, AnsiString& Error);

/// The address of the symbol Name that the module itself exports (not one of
/// the libraries it uses), or null.
void* ModuleSymbol(ModuleHandle Module, const char* Name);

/// Drops one reference to the module; the last one unloads it.
void ModuleClose(ModuleHandle Module) noexcept;

/// The identity of a loaded module: the same value ModuleOfAddress gives for
/// every address inside it.
const void* ModuleIdentity(ModuleHandle Module) noexcept;

/// The identity of the module that holds Address, or null when none does.
const void* ModuleOfAddress(const void* Address) noexcept;

/// The resources of a loaded module, read from its image in memory. Throws
/// EPackageError naming Origin when they are malformed; a module without
/// resources gives an empty list.
TResourceList ModuleResources(ModuleHandle Module, const AnsiString& Origin);

/// The resources of the module file at Path, read without loading it.
/// Throws EPackageError naming the file when it cannot be read, is not a
/// module of this platform, or holds malformed resources.
TResourceList FileResources(const AnsiString& Path);

}  // namespace vek_platform
