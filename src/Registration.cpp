// The unit's entries in the package module: the class reference through
// which hosts create the component by name, and its registration.
#include <typeinfo>

#include "Package.h"
#include "VekPgProd.h"

namespace {
TComponent* CreateVekPageProducer(TComponent* Owner) {
  return new TVekPageProducer(Owner);
}
}  // namespace

const TComponentClassInfo TVekPageProducer::ClassRef = {
    "TVekPageProducer", &typeid(TVekPageProducer), &CreateVekPageProducer};

namespace VekPgProd {

void Register() {
  const TComponentClass classes[] = {&TVekPageProducer::ClassRef};
  RegisterComponents("Internet", classes, 1);
}

void Initialization() {}
void Finalization() {}

}  // namespace VekPgProd
