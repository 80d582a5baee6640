// vek_pkginfo: a small package host. It loads a package module by path,
// registers it and prints what it holds: the palette pages and classes it
// registered, its description, package information, version information and
// resources. With --no-load it reads the module file alone, running nothing.
//
//   vek_pkginfo [--no-load] MODULE
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "Package.h"
#include "PackageResources.h"

namespace {

std::string Join(const std::vector<AnsiString>& items) {
  std::string out;
  for (const AnsiString& s : items) out += (out.empty() ? "" : ", ") + s;
  return out.empty() ? "(none)" : out;
}

std::string Hex4(unsigned v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%04X", v & 0xFFFF);
  return buf;
}

unsigned Le(const std::string& d, size_t at, int bytes) {
  unsigned v = 0;
  for (int i = bytes - 1; i >= 0; --i)
    v = v << 8 | (at + size_t(i) < d.size() ? static_cast<unsigned char>(d[at + size_t(i)]) : 0u);
  return v;
}

// What the image headers say: "24x24, 4 bits per pixel".
std::string ImageSummary(const TResource& r) {
  if (r.Type == TResourceType::Bitmap && r.Data.compare(0, 2, "BM") == 0)
    return std::to_string(Le(r.Data, 18, 4)) + "x" + std::to_string(Le(r.Data, 22, 4)) + ", " +
           std::to_string(Le(r.Data, 28, 2)) + " bits per pixel";
  if (r.Type == TResourceType::Icon && Le(r.Data, 2, 2) == 1 && Le(r.Data, 4, 2) >= 1) {
    const unsigned w = Le(r.Data, 6, 1), h = Le(r.Data, 7, 1);
    return std::to_string(w ? w : 256) + "x" + std::to_string(h ? h : 256) + ", " +
           std::to_string(Le(r.Data, 12, 2)) + " bits per pixel, " +
           std::to_string(Le(r.Data, 4, 2)) + " image(s)";
  }
  return "";
}

const char* TypeName(TResourceType t) {
  switch (t) {
    case TResourceType::Bitmap:
      return "BITMAP";
    case TResourceType::RCData:
      return "RCDATA";
    case TResourceType::Icon:
      return "ICON";
    case TResourceType::Version:
      return "VERSION";
  }
  return "TYPE";
}

void PrintResources(const TResourceList& resources) {
  try {
    const TPackageContents c = DecodePackageContents(resources);
    std::cout << "description: " << c.Description << "\n"
              << "package: "
              << (c.DesignTime && c.RunTime ? "design time and run time"
                  : c.DesignTime            ? "design time only"
                  : c.RunTime               ? "run time only"
                                            : "neither design time nor run time")
              << "\n"
              << "requires: " << Join(c.Requires) << "\n"
              << "units: " << Join(c.Units) << "\n";
  } catch (const EPackageError& e) {
    std::cout << "package information: " << e.what() << "\n";
  }

  if (const TResource* v = FindModuleResource(resources, TResourceType::Version, "1")) {
    try {
      const TVersionInfo info = DecodeVersionInfo(v->Data);
      std::cout << "version: file " << VersionText(info.FileVersion) << ", product "
                << VersionText(info.ProductVersion) << ", language " << Hex4(info.Language)
                << ", code page " << info.CodePage << "\n";
      for (const TVersionInfo::Entry& e : info.Strings)
        std::cout << "  " << e.Key << ": " << e.Utf8 << "\n";
    } catch (const EPackageError& e) {
      std::cout << "version: " << e.what() << "\n";
    }
  } else {
    std::cout << "version: (none)\n";
  }

  std::cout << "resources:\n";
  for (const TResource& r : resources) {
    const std::string image = ImageSummary(r);
    std::cout << "  " << TypeName(r.Type) << " " << r.Name << " (language " << Hex4(r.Language)
              << "): " << r.Data.size() << " bytes" << (image.empty() ? "" : " (" + image + ")")
              << "\n";
  }
}

}  // namespace

int main(int argc, char** argv) {
  bool load = true;
  const char* path = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--no-load") == 0) {
      load = false;
    } else if (path == nullptr && argv[i][0] != '-') {
      path = argv[i];
    } else {
      path = nullptr;
      break;
    }
  }
  if (path == nullptr) {
    std::cerr << "usage: vek_pkginfo [--no-load] MODULE\n";
    return 2;
  }
  try {
    std::cout << "module: " << path << "\n";
    if (!load) {
      PrintResources(ReadModuleResources(path));
      return 0;
    }
    const TPackageHandle package = PackageLoad(path);
    try {
      RegisterPackage(package);
      std::cout << "pages:\n";
      for (const AnsiString& page : RegisteredPages()) {
        std::string classes;
        for (TComponentClass c : RegisteredClasses(page))
          classes += (classes.empty() ? "" : ", ") + std::string(c->ClassName);
        std::cout << "  " << page << ": " << classes << "\n";
      }
      PrintResources(PackageResources(package));
    } catch (...) {
      PackageUnload(package);
      throw;
    }
    PackageUnload(package);
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "vek_pkginfo: " << e.what() << "\n";
    return 1;
  }
}
