// The package module PVekPgPrd: its own unit Pvekpgprd and its package
// entries, which the package loader (PackageLoad, PackageUnload) looks up by
// name.
#pragma once

#include "VekPgProd.h"

namespace Pvekpgprd {
/// The unit's initialisation and finalisation, run by the package loader.
/// The unit has no code of its own: they do nothing.
VEKPGPROD_API void Initialization();
VEKPGPROD_API void Finalization();
}  // namespace Pvekpgprd

extern "C" {
/// Hands the module's package information table (units Pvekpgprd and
/// VekPgProd, in that order) to InitializePackage, which initialises them.
VEKPGPROD_API void Initialize();
/// Hands the same table to FinalizePackage: units finalised in reverse order.
VEKPGPROD_API void Finalize();
}
