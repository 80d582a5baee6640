// The package-host tests' platform fixture on ELF systems: the modules are
// built at the paths the build passes in; the dynamic loader tells what is
// mapped.
#include <dlfcn.h>
#include <link.h>

#include <cstring>

#include "PackageHostFixture.h"

namespace package_host {

const std::string& ModulePath() {
  static const std::string path = VEK_MODULE;
  return path;
}
const std::string& NoEntriesModulePath() {
  static const std::string path = VEK_NO_ENTRIES_MODULE;
  return path;
}
const std::string& FailingInitModulePath() {
  static const std::string path = VEK_FAILING_INIT_MODULE;
  return path;
}

const std::vector<std::string>& HostLibraryFiles() {
  static const std::vector<std::string> files{"libVCL50.so", "libINET50.so"};
  return files;
}

const char* ModuleSuffix() {
  return ".so";
}

const char* ForeignModuleMessage() {
  return "is not an ELF module";
}

bool IsMapped(const std::string& Path) {
  void* h = dlopen(Path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (h != nullptr) dlclose(h);
  return h != nullptr;
}

int CountMapped(const std::string& FileName) {
  struct Count {
    const char* Name;
    int N;
  } count{FileName.c_str(), 0};
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* data) {
        auto* c = static_cast<Count*>(data);
        const char* slash = info->dlpi_name ? std::strrchr(info->dlpi_name, '/') : nullptr;
        const char* base = slash ? slash + 1 : info->dlpi_name;
        if (base != nullptr && std::strcmp(base, c->Name) == 0) ++c->N;
        return 0;
      },
      &count);
  return count.N;
}

}  // namespace package_host
