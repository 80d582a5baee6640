// The package's own unit. It holds no code of its own; the component and its
// registration are in unit VekPgProd.
#include "Pvekpgprd.h"

namespace Pvekpgprd {

void Initialization() {}
void Finalization() {}

}  // namespace Pvekpgprd
