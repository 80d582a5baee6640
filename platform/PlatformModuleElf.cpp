// The package loader's system services on ELF systems: the dynamic loader
// (dlopen, dlsym, dlclose, dladdr1, dlinfo, dl_iterate_phdr) and the resource
// note read from a module's image in memory or from its file.
#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "Encoding.h"
#include "Package.h"
#include "PlatformModule.h"

namespace vek_platform {
namespace {

using vek_encoding::kNoteOwner;  // with its NUL, as the note stores it
using vek_encoding::kNoteType;

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

std::uint64_t Padded(std::uint64_t n, std::uint64_t align) {
  return (n + align - 1) / align * align;
}

// A run of bytes holding ELF notes: Size bytes, notes aligned to Align (4, or
// 8 for a segment aligned so), written in the byte order Big says.
struct NoteRun {
  std::uint64_t Size;
  std::uint64_t Align;
  bool Big;
};

enum class TNoteWalk { Found, NotFound, OutOfSteps };

// Walks the notes of Run looking for the package note; on Found, DescAt and
// DescSize place its contents in the run. Fetch(Pos, Count, Out) copies
// Count bytes (at most 12) of the run from Pos. Only each note's header and,
// when it may be the package note, its name are fetched: the walk costs one
// step per note, and StepsLeft caps the steps (OutOfSteps when spent). A
// malformed note ends the walk.
template <class TFetch>
TNoteWalk WalkNotes(const NoteRun& Run, TFetch&& Fetch, std::uint64_t& StepsLeft,
                    std::uint64_t& DescAt, std::uint64_t& DescSize) {
  std::uint64_t pos = 0;
  unsigned char h[12];
  while (Run.Size - pos >= 12) {
    if (StepsLeft == 0) return TNoteWalk::OutOfSteps;
    --StepsLeft;
    Fetch(pos, 12, h);
    const std::uint64_t nameSize = Get32(h, Run.Big);
    const std::uint64_t descSize = Get32(h + 4, Run.Big);
    const std::uint32_t type = Get32(h + 8, Run.Big);
    const std::uint64_t left = Run.Size - pos - 12;
    if (Padded(nameSize, Run.Align) > left) return TNoteWalk::NotFound;
    const std::uint64_t descAt = 12 + Padded(nameSize, Run.Align);
    if (descSize > Run.Size - pos - descAt) return TNoteWalk::NotFound;
    if (type == kNoteType && nameSize == sizeof kNoteOwner) {
      unsigned char name[sizeof kNoteOwner];
      Fetch(pos + 12, sizeof name, name);
      if (std::memcmp(name, kNoteOwner, sizeof name) == 0) {
        DescAt = pos + descAt;
        DescSize = descSize;
        return TNoteWalk::Found;
      }
    }
    const std::uint64_t next = descAt + Padded(descSize, Run.Align);
    if (next > Run.Size - pos) return TNoteWalk::NotFound;
    pos += next;
  }
  return TNoteWalk::NotFound;
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
    // The module is mapped: its notes are read in place.
    const auto* bytes = reinterpret_cast<const unsigned char*>(info->dlpi_addr + ph.p_vaddr);
    std::uint64_t steps = std::numeric_limits<std::uint64_t>::max(), at = 0, size = 0;
    const NoteRun run{ph.p_memsz, ph.p_align == 8 ? 8u : 4u,
                      __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__};
    auto fetch = [bytes](std::uint64_t Pos, std::size_t Count, unsigned char* Out) {
      std::memcpy(Out, bytes + Pos, Count);
    };
    if (WalkNotes(run, fetch, steps, at, size) == TNoteWalk::Found) {
      search->Desc.assign(reinterpret_cast<const char*>(bytes + at), size);
      search->Found = true;
    }
  }
  return 1;
}

// A module file, read by exact positioned reads with bounds checked against
// its size.
class ElfFile {
 public:
  explicit ElfFile(const AnsiString& Path) : FPath(Path) {
    // Non-blocking, so that a named pipe cannot stall the open.
    FFd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (FFd < 0) Fail("cannot be opened: " + AnsiString(std::strerror(errno)));
    struct stat st {};
    if (::fstat(FFd, &st) != 0) Fail("cannot be read: " + AnsiString(std::strerror(errno)));
    if (!S_ISREG(st.st_mode)) Fail("is not a regular file");
    FSize = static_cast<std::uint64_t>(st.st_size);
  }
  ~ElfFile() { ::close(FFd); }
  ElfFile(const ElfFile&) = delete;
  ElfFile& operator=(const ElfFile&) = delete;

  std::uint64_t Size() const noexcept { return FSize; }

  // Fails unless Count bytes from Offset lie inside the file.
  void CheckInside(std::uint64_t Offset, std::uint64_t Count, const char* What) const {
    if (Offset > FSize || Count > FSize - Offset)
      Fail(AnsiString("is cut short: its ") + What + " lies past its end");
  }

  // As CheckInside, and fails when the bytes reach into a hole of a sparse
  // file: a module's contents are written out, so a hole means a header
  // claiming more than the file holds (its apparent size costs nothing to
  // make). Where the file system cannot tell holes, the whole file counts.
  void CheckHeld(std::uint64_t Offset, std::uint64_t Count, const char* What) const {
    CheckInside(Offset, Count, What);
    if (Count == 0) return;
    const off_t hole = ::lseek(FFd, static_cast<off_t>(Offset), SEEK_HOLE);
    if (hole >= 0 && static_cast<std::uint64_t>(hole) < Offset + Count)
      Fail(AnsiString("is malformed: its ") + What +
           " lies over a hole (bytes the file does not hold)");
  }

  // Copies Count bytes from Offset, which must lie inside the file, to Out.
  void ReadInto(std::uint64_t Offset, std::size_t Count, void* Out, const char* What) const {
    CheckInside(Offset, Count, What);
    auto* out = static_cast<char*>(Out);
    while (Count > 0) {
      const ssize_t n = ::pread(FFd, out, Count, static_cast<off_t>(Offset));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) Fail(AnsiString("cannot be read: its ") + What);
      out += n;
      Offset += static_cast<std::uint64_t>(n);
      Count -= static_cast<std::size_t>(n);
    }
  }

  AnsiString Read(std::uint64_t Offset, std::uint64_t Count, const char* What) const {
    CheckInside(Offset, Count, What);
    AnsiString bytes(static_cast<std::size_t>(Count), '\0');
    ReadInto(Offset, bytes.size(), bytes.data(), What);
    return bytes;
  }

  [[noreturn]] void Fail(const AnsiString& Why) const {
    throw EPackageError("\"" + FPath + "\" " + Why);
  }

 private:
  AnsiString FPath;
  int FFd = -1;
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
  const int elfClass = static_cast<unsigned char>(ident[4]);
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
  // Every program header has the one size of its class: a table of larger
  // entries claims up to 4 GiB that no module has.
  const std::uint16_t entrySize = is64 ? 56 : 32;
  if (phnum > 0 && phentsize != entrySize)
    file.Fail("is malformed: program headers of " + std::to_string(phentsize) + " bytes, not " +
              std::to_string(entrySize));
  file.CheckHeld(phoff, std::uint64_t(phentsize) * phnum, "program header table");
  const AnsiString table =
      file.Read(phoff, std::uint64_t(phentsize) * phnum, "program header table");

  // The note segments, each distinct one once, in their order: a segment
  // repeated in the table is walked once however often it appears.
  struct Segment {
    std::uint64_t Offset, Size, Align;
    bool operator<(const Segment& o) const {
      return std::tie(Offset, Size, Align) < std::tie(o.Offset, o.Size, o.Align);
    }
  };
  std::vector<Segment> segments;
  std::set<Segment> seen;
  for (std::uint16_t i = 0; i < phnum; ++i) {
    const auto* ph =
        reinterpret_cast<const unsigned char*>(table.data()) + std::size_t(i) * phentsize;
    if (Get32(ph, big) != PT_NOTE) continue;
    const std::uint64_t align = is64 ? Get64(ph + 48, big) : Get32(ph + 28, big);
    const Segment segment{is64 ? Get64(ph + 8, big) : Get32(ph + 4, big),
                          is64 ? Get64(ph + 32, big) : Get32(ph + 16, big), align == 8 ? 8u : 4u};
    if (seen.insert(segment).second) segments.push_back(segment);
  }

  // A module carries a handful of notes: a walk of more than kMaxNotes in
  // all (a run of empty 12-byte notes, segments laid over each other again
  // and again) is refused there. Each note costs one read of its header (and
  // of its name when it may be the package note), so the reads are bounded
  // by a constant whatever size the file claims.
  const std::uint64_t kMaxNotes = 4096;
  std::uint64_t stepsLeft = kMaxNotes;
  for (const Segment& segment : segments) {
    if (segment.Size > (std::uint64_t(1) << 30))
      file.Fail("is malformed: a note segment of over 1 GiB");
    file.CheckHeld(segment.Offset, segment.Size, "note segment");
    auto fetch = [&](std::uint64_t Pos, std::size_t Count, unsigned char* Out) {
      file.ReadInto(segment.Offset + Pos, Count, Out, "note segment");
    };
    std::uint64_t at = 0, size = 0;
    switch (WalkNotes(NoteRun{segment.Size, segment.Align, big}, fetch, stepsLeft, at, size)) {
      case TNoteWalk::Found:
        return DecodeResourceContainer(file.Read(segment.Offset + at, size, "package note"),
                                       "\"" + Path + "\"");
      case TNoteWalk::OutOfSteps:
        file.Fail("is malformed: more than " + std::to_string(kMaxNotes) +
                  " notes in its note segments");
      case TNoteWalk::NotFound:
        break;
    }
  }
  return {};
}

}  // namespace vek_platform
