// The package loader's file checks on any bytes: a file given as a module is
// read without being run, and is either understood or refused with
// EPackageError naming the file; the resource decoders likewise on the raw
// bytes. Nothing else may escape, and nothing may crash or leak.
//
// Input: the file's bytes.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "FuzzSupport.h"
#include "Package.h"
#include "PackageResources.h"

namespace {

[[noreturn]] void Fail(const char* What, const std::string& Detail) {
  std::fprintf(stderr, "module file fuzz: %s: %s\n", What, Detail.c_str());
  std::abort();
}

// Runs F; only EPackageError (whose message names Origin) may come out of it.
template <class F>
void ExpectPackageErrorOnly(const char* What, const std::string& Origin, F f) {
  try {
    f();
  } catch (const EPackageError& e) {
    if (std::string(e.what()).find(Origin) == std::string::npos)
      Fail("an error that does not name its origin", e.what());
  } catch (const std::exception& e) {
    Fail(What, e.what());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  static const std::string path = [] {
    char name[] = "/tmp/vek-module-fuzz-XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0) Fail("mkstemp", name);
    close(fd);
    return std::string(name);
  }();
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr || std::fwrite(Data, 1, Size, f) != Size || std::fclose(f) != 0)
    Fail("cannot write", path);

  TResourceList list;
  ExpectPackageErrorOnly("ReadModuleResources", path, [&] { list = ReadModuleResources(path); });
  // What the module declares, from whatever resources it has.
  ExpectPackageErrorOnly("DecodePackageContents", "", [&] { DecodePackageContents(list); });
  const std::string bytes(reinterpret_cast<const char*>(Data), Size);
  ExpectPackageErrorOnly("DecodeResourceContainer", "fuzz input",
                         [&] { DecodeResourceContainer(bytes, "fuzz input"); });
  try {
    DecodeVersionInfo(bytes);
  } catch (const EPackageError&) {
  } catch (const std::exception& e) {
    Fail("DecodeVersionInfo", e.what());
  }
  return 0;
}
