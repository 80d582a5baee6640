// The package entries of the module: its package information table, handed to
// the host's package loader on load and unload.
#include "Package.h"
#include "Pvekpgprd.h"

namespace {

// The units in initialisation order; the module's PACKAGEINFO resource lists
// the same.
const TPackageUnit kUnits[] = {
    {"Pvekpgprd", &Pvekpgprd::Initialization, &Pvekpgprd::Finalization},
    {"VekPgProd", &VekPgProd::Initialization, &VekPgProd::Finalization},
};

const TPackageInfo kPackageInfo = {kUnits, static_cast<int>(sizeof kUnits / sizeof kUnits[0])};

}  // namespace

extern "C" {

void Initialize() {
  InitializePackage(&kPackageInfo);
}

void Finalize() {
  FinalizePackage(&kPackageInfo);
}
}
