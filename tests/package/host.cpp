// A package host built against the installed development package: it loads
// the installed package module by its SONAME (found as any shared library
// is), registers it and creates the component it registered. Prints
// "<class> on <page>" for each class the module put on the palette.
#include <iostream>

#include <vek/Package.h>

int main() {
  try {
    const TPackageHandle pkg = PackageLoad("libPVekPgPrd.so.1");
    RegisterPackage(pkg);
    for (const AnsiString& page : RegisteredPages())
      for (TComponentClass c : RegisteredClasses(page)) {
        TComponent* made = CreateComponent(c->ClassName, nullptr);
        std::cout << made->ClassName() << " on " << page << "\n";
        delete made;
      }
    PackageUnload(pkg);
  } catch (const std::exception& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
  return 0;
}
