// The package loader's system services on ELF systems: the dynamic loader
// (dlopen, dlsym, dlclose, dladdr1, dlinfo, dl_iterate_phdr) and the resource
// note read from a module's image in memory or from its file.
#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <limits>
#include <string>

#include "Encoding.h"
#include "Package.h"
#include "PlatformModule.h"

namespace vek_platform {
namespace {

using vek_encoding::kNoteOwner;  // with its NUL, as the note stores it
using vek_encoding::kNoteType;

// A run of bytes holding ELF notes, with the byte order they are written in.
struct NoteRun {
  const unsigned char* Data;
  std::size_t Size;
  std::size_t Align;  // 4, or 8 for a segment aligned so
  bool BigEndian;
};

std::uint32_t Get32(const unsigned char* p, bool big) {
  return big ? std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 |
                   std::uint32_t(p[3])
             : std::uint32_t(p[3]) << 24 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 |
                   std::uint32_t(p[0]);
}

std::uint64_t Get64(const unsigned char* p, bool big) {
  const std::uint64_t a = Get32(p, big), b = Get32(p + 4, big);
  return big ? a << 32 | b : b << 32 | a;
}

std::uint16_t Get16(const unsigned char* p, bool big) {
  return big ? std::uint16_t(p[0] << 8 | p[1]) : std::uint16_t(p[1] << 8 | p[0]);
}

std::size_t Padded(std::size_t n, std::size_t align) {
  return (n + align - 1) / align * align;
}

// Finds the package note in Run; true and its contents in Desc when found.
// A run that does not hold well-formed notes ends the search in it.
bool FindPackageNote(const NoteRun& Run, AnsiString& Desc) {
  std::size_t pos = 0;
  while (Run.Size - pos >= 12) {
    const unsigned char* h = Run.Data + pos;
    const std::size_t nameSize = Get32(h, Run.BigEndian);
    const std::size_t descSize = Get32(h + 4, Run.BigEndian);
    const std::uint32_t type = Get32(h + 8, Run.BigEndian);
    const std::size_t left = Run.Size - pos - 12;
    if (nameSize > left || Padded(nameSize, Run.Align) > left) return false;
    const std::size_t descAt = 12 + Padded(nameSize, Run.Align);
    if (descSize > Run.Size - pos - descAt) return false;
    if (type == kNoteType && nameSize == sizeof kNoteOwner &&
        std::memcmp(h + 12, kNoteOwner, sizeof kNoteOwner) == 0) {
      Desc.assign(reinterpret_cast<const char*>(h + descAt), descSize);
      return true;
    }
    const std::size_t next = descAt + Padded(descSize, Run.Align);
    if (next > Run.Size - pos) return false;
    pos += next;
  }
  return false;
}

struct PhdrSearch {
  const link_map* Map = nullptr;
  bool Matched = false;
  bool Found = false;
  AnsiString Desc;
};

int SearchLoadedObject(dl_phdr_info* info, size_t, void* data) {
  auto* search = static_cast<PhdrSearch*>(data);
  if (info->dlpi_addr != search->Map->l_addr || info->dlpi_name == nullptr ||
      std::strcmp(info->dlpi_name, search->Map->l_name) != 0)
    return 0;
  search->Matched = true;
  for (int i = 0; i < info->dlpi_phnum && !search->Found; ++i) {
    const ElfW(Phdr)& ph = info->dlpi_phdr[i];
    if (ph.p_type != PT_NOTE) continue;
    const NoteRun run{reinterpret_cast<const unsigned char*>(info->dlpi_addr + ph.p_vaddr),
                      ph.p_memsz, ph.p_align == 8 ? 8u : 4u,
                      __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__};
    search->Found = FindPackageNote(run, search->Desc);
  }
  return 1;
}

// The whole of a module file's program headers and notes, read with bounds
// checked against the file's size.
class ElfFile {
 public:
  explicit ElfFile(const AnsiString& Path) : FPath(Path), FIn(Path, std::ios::binary) {
    if (!FIn) Fail("cannot be opened: " + AnsiString(std::strerror(errno)));
    FIn.seekg(0, std::ios::end);
    const std::streamoff size = FIn.tellg();
    if (size < 0) Fail("cannot be read");
    FSize = static_cast<std::uint64_t>(size);
  }

  AnsiString Read(std::uint64_t Offset, std::uint64_t Count, const char* What) {
    if (Offset > FSize || Count > FSize - Offset)
      Fail(AnsiString("is cut short: its ") + What + " lies past its end");
    AnsiString bytes(static_cast<std::size_t>(Count), '\0');
    FIn.clear();
    FIn.seekg(static_cast<std::streamoff>(Offset));
    if (!FIn.read(bytes.data(), static_cast<std::streamsize>(Count)))
      Fail(AnsiString("cannot be read: its ") + What);
    return bytes;
  }

  [[noreturn]] void Fail(const AnsiString& Why) const {
    throw EPackageError("\"" + FPath + "\" " + Why);
  }

 private:
  AnsiString FPath;
  std::ifstream FIn;
  std::uint64_t FSize = 0;
};

}  // namespace

bool ModuleFileMissing(const AnsiString& Path) {
  struct stat st;
  return Path.find('/') != AnsiString::npos && stat(Path.c_str(), &st) != 0 && errno == ENOENT;
}

ModuleHandle ModuleOpen(const AnsiString& Path, AnsiString& Error) {
  dlerror();
  void* module = dlopen(Path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    const char* why = dlerror();
    Error = why != nullptr ? why : "unknown error";
  }
  return module;
}

const void* ModuleIdentity(ModuleHandle Module) noexcept {
  link_map* map = nullptr;
  if (dlinfo(Module, RTLD_DI_LINKMAP, &map) != 0) return nullptr;
  return map;
}

const void* ModuleOfAddress(const void* Address) noexcept {
  Dl_info info;
  link_map* map = nullptr;
  if (dladdr1(Address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0) return nullptr;
  return map;
}

void* ModuleSymbol(ModuleHandle Module, const char* Name) {
  dlerror();
  void* symbol = dlsym(Module, Name);
  // dlsym also searches the libraries the module uses: only its own count.
  if (symbol == nullptr || ModuleOfAddress(symbol) != ModuleIdentity(Module)) return nullptr;
  return symbol;
}

void ModuleClose(ModuleHandle Module) noexcept {
  dlclose(Module);
}

TResourceList ModuleResources(ModuleHandle Module, const AnsiString& Origin) {
  PhdrSearch search;
  search.Map = static_cast<const link_map*>(ModuleIdentity(Module));
  if (search.Map == nullptr) throw EPackageError("\"" + Origin + "\" is not a loaded module");
  dl_iterate_phdr(SearchLoadedObject, &search);
  if (!search.Matched) throw EPackageError("\"" + Origin + "\" is not a loaded module");
  if (!search.Found) return {};
  return DecodeResourceContainer(search.Desc, "\"" + Origin + "\"");
}

TResourceList FileResources(const AnsiString& Path) {
  ElfFile file(Path);
  const AnsiString ident = file.Read(0, 16, "identification");
  if (ident.compare(0, 4,
                    "\x7f"
                    "ELF") != 0)
    file.Fail("is not an ELF module");
  const int elfClass = ident[4];
  const bool big = ident[5] == 2;
  if ((elfClass != 1 && elfClass != 2) || (ident[5] != 1 && ident[5] != 2))
    file.Fail("is an ELF file of an unknown class or byte order");
  const bool is64 = elfClass == 2;

  const AnsiString header = file.Read(0, is64 ? 64 : 52, "header");
  const auto* h = reinterpret_cast<const unsigned char*>(header.data());
  if (Get16(h + 16, big) != ET_DYN) file.Fail("is not a shared module");
  const std::uint64_t phoff = is64 ? Get64(h + 32, big) : Get32(h + 28, big);
  const std::uint16_t phentsize = Get16(h + (is64 ? 54 : 42), big);
  const std::uint16_t phnum = Get16(h + (is64 ? 56 : 44), big);
  if (phnum == 0xFFFF) file.Fail("has more program headers than it can say");
  if (phnum > 0 && phentsize < (is64 ? 56u : 32u)) file.Fail("has program headers too small");
  const AnsiString table =
      file.Read(phoff, std::uint64_t(phentsize) * phnum, "program header table");

  for (std::uint16_t i = 0; i < phnum; ++i) {
    const auto* ph =
        reinterpret_cast<const unsigned char*>(table.data()) + std::size_t(i) * phentsize;
    if (Get32(ph, big) != PT_NOTE) continue;
    const std::uint64_t offset = is64 ? Get64(ph + 8, big) : Get32(ph + 4, big);
    const std::uint64_t size = is64 ? Get64(ph + 32, big) : Get32(ph + 16, big);
    const std::uint64_t align = is64 ? Get64(ph + 48, big) : Get32(ph + 28, big);
    if (size > (std::uint64_t(1) << 30)) file.Fail("has a note segment too large to be real");
    const AnsiString notes = file.Read(offset, size, "note segment");
    AnsiString desc;
    if (FindPackageNote({reinterpret_cast<const unsigned char*>(notes.data()), notes.size(),
                         align == 8 ? 8u : 4u, big},
                        desc))
      return DecodeResourceContainer(desc, "\"" + Path + "\"");
  }
  return {};
}

}  // namespace vek_platform
