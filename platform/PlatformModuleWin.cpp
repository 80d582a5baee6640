// The package loader's system services on Windows: LoadLibrary, GetProcAddress
// and FreeLibrary, and the module's Windows resources read with the resource
// functions, from the loaded module or from its file mapped as data
// (LOAD_LIBRARY_AS_DATAFILE), which runs none of its code.
//
// The resources are handed on in the form PackageResources.h describes: a
// bitmap gets its BMP file header, an icon group is assembled into an ICO
// file from its images, and the version resource (VS_VERSIONINFO) is
// decoded into the container's version record.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <exception>
#include <string>

#include "Encoding.h"
#include "Package.h"
#include "PlatformModule.h"

namespace vek_platform {
namespace {

AnsiString SystemMessage(DWORD Code) {
  char* text = nullptr;
  const DWORD n = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, Code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  AnsiString message = n != 0 && text != nullptr ? AnsiString(text, n) : AnsiString();
  if (text != nullptr) LocalFree(text);
  while (!message.empty() && static_cast<unsigned char>(message.back()) <= ' ') message.pop_back();
  return message.empty() ? "system error " + std::to_string(Code) : message;
}

bool HasDirectory(const AnsiString& Path) {
  return Path.find_first_of("/\\") != AnsiString::npos;
}

using vek_encoding::PutU16;
using vek_encoding::PutU32;

// The numbers stored low byte first at Data[At] (the caller checks the bounds).
std::uint16_t Get16(const AnsiString& Data, std::size_t At) {
  return vek_encoding::GetU16(reinterpret_cast<const unsigned char*>(Data.data()) + At);
}
std::uint32_t Get32(const AnsiString& Data, std::size_t At) {
  return vek_encoding::GetU32(reinterpret_cast<const unsigned char*>(Data.data()) + At);
}

// Reads a module's resources and converts them; Origin names the module in
// messages.
class ResourceReader {
 public:
  ResourceReader(HMODULE Module, AnsiString Origin)
      : FModule(Module), FOrigin("\"" + std::move(Origin) + "\"") {}

  TResourceList ReadAll() {
    for (const TResourceType type : {TResourceType::RCData, TResourceType::Bitmap,
                                     TResourceType::Icon, TResourceType::Version}) {
      FType = type;
      // A module without resources of a type makes the enumeration fail with
      // ERROR_RESOURCE_TYPE_NOT_FOUND: that is no error.
      EnumResourceNamesA(FModule, MAKEINTRESOURCEA(NativeType(type)), &ResourceReader::OnName,
                         reinterpret_cast<LONG_PTR>(this));
      if (FFailure) std::rethrow_exception(FFailure);
    }
    return FList;
  }

 private:
  static WORD NativeType(TResourceType Type) {
    // The icon is read through its group, which lists the images it holds.
    return Type == TResourceType::Icon ? 14 /* RT_GROUP_ICON */ : static_cast<WORD>(Type);
  }

  static BOOL CALLBACK OnName(HMODULE Module, LPCSTR Type, LPSTR Name, LONG_PTR Self) {
    auto* reader = reinterpret_cast<ResourceReader*>(Self);
    reader->FName =
        IS_INTRESOURCE(Name) ? std::to_string(reinterpret_cast<ULONG_PTR>(Name)) : AnsiString(Name);
    EnumResourceLanguagesA(Module, Type, Name, &ResourceReader::OnLanguage, Self);
    return reader->FFailure ? FALSE : TRUE;
  }

  static BOOL CALLBACK OnLanguage(HMODULE, LPCSTR Type, LPCSTR Name, WORD Language, LONG_PTR Self) {
    auto* reader = reinterpret_cast<ResourceReader*>(Self);
    try {
      const AnsiString raw = reader->Raw(Type, Name, Language);
      reader->FList.push_back(
          {reader->FType, reader->FName, Language, reader->Convert(raw, Language)});
    } catch (...) {
      reader->FFailure = std::current_exception();
      return FALSE;
    }
    return TRUE;
  }

  AnsiString Raw(LPCSTR Type, LPCSTR Name, WORD Language) const {
    HRSRC found = FindResourceExA(FModule, Type, Name, Language);
    HGLOBAL loaded = found != nullptr ? LoadResource(FModule, found) : nullptr;
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (data == nullptr) Fail("cannot be read: " + SystemMessage(GetLastError()));
    return AnsiString(static_cast<const char*>(data), SizeofResource(FModule, found));
  }

  AnsiString Convert(const AnsiString& Raw, WORD Language) const {
    switch (FType) {
      case TResourceType::Bitmap:
        return BmpFile(Raw);
      case TResourceType::Icon:
        return IcoFile(Raw, Language);
      case TResourceType::Version:
        return VersionRecord(Raw);
      default:
        return Raw;
    }
  }

  // A bitmap resource is a BMP file without its 14-byte file header.
  AnsiString BmpFile(const AnsiString& Dib) const {
    if (Dib.size() < 40 || Get32(Dib, 0) < 40 || Get32(Dib, 0) > Dib.size())
      Fail("has a bitmap whose header is cut short");
    const std::uint32_t headerSize = Get32(Dib, 0);
    const unsigned bits = Get16(Dib, 14);
    const std::uint32_t used = Get32(Dib, 32);
    const std::uint32_t colours = used != 0 ? used : bits <= 8 ? 1u << bits : 0;
    const std::uint64_t offset = 14 + std::uint64_t(headerSize) + std::uint64_t(colours) * 4;
    if (offset > 14 + Dib.size()) Fail("has a bitmap whose palette is cut short");
    AnsiString file = "BM";
    PutU32(file, static_cast<std::uint32_t>(14 + Dib.size()));
    PutU32(file, 0);
    PutU32(file, static_cast<std::uint32_t>(offset));
    return file + Dib;
  }

  // An icon group: u16 0, u16 1, u16 count, then per image 12 bytes of
  // ICO directory entry and the u16 identifier of its RT_ICON resource.
  AnsiString IcoFile(const AnsiString& Group, WORD Language) const {
    if (Group.size() < 6 || Get16(Group, 2) != 1) Fail("has an icon group that is malformed");
    const unsigned count = Get16(Group, 4);
    if (Group.size() < 6 + std::size_t(count) * 14) Fail("has an icon group cut short");
    AnsiString head = Group.substr(0, 6), images;
    const std::size_t start = 6 + std::size_t(count) * 16;
    for (unsigned i = 0; i < count; ++i) {
      const std::size_t at = 6 + std::size_t(i) * 14;
      const AnsiString image =
          Raw(MAKEINTRESOURCEA(3 /* RT_ICON */), MAKEINTRESOURCEA(Get16(Group, at + 12)), Language);
      head += Group.substr(at, 8);
      PutU32(head, static_cast<std::uint32_t>(image.size()));
      PutU32(head, static_cast<std::uint32_t>(start + images.size()));
      images += image;
    }
    return head + images;
  }

  // VS_VERSIONINFO: nodes of u16 length, u16 value length, u16 type (1:
  // text), a NUL-terminated UTF-16 key, the value and the children, each
  // aligned to 4 bytes. The fixed part gives the versions, the string table's
  // key ("041904E3") the language and code page; the string values are
  // stored in that code page.
  struct Node {
    std::wstring Key;
    std::size_t ValueAt = 0, ValueSize = 0, ChildrenAt = 0, End = 0;
    bool Text = false;
  };

  Node ReadNode(const AnsiString& Data, std::size_t At, std::size_t Limit) const {
    if (At + 6 > Limit) Fail("has a version resource cut short");
    Node node;
    const std::size_t length = Get16(Data, At);
    if (length < 6 || At + length > Limit) Fail("has a version resource of a wrong length");
    node.End = At + length;
    const unsigned valueLength = Get16(Data, At + 2);
    node.Text = Get16(Data, At + 4) == 1;
    std::size_t p = At + 6;
    for (;; p += 2) {
      if (p + 2 > node.End) Fail("has a version resource key without its end");
      const wchar_t c = static_cast<wchar_t>(Get16(Data, p));
      if (c == 0) break;
      node.Key += c;
    }
    p = (p + 2 + 3) & ~std::size_t(3);
    node.ValueAt = p;
    node.ValueSize = node.Text ? std::size_t(valueLength) * 2 : valueLength;
    if (node.ValueAt + node.ValueSize > node.End) {
      if (node.ValueAt > node.End) Fail("has a version resource value past its node");
      node.ValueSize = node.End - node.ValueAt;  // some writers count bytes
    }
    node.ChildrenAt = (node.ValueAt + node.ValueSize + 3) & ~std::size_t(3);
    return node;
  }

  AnsiString Narrow(const std::wstring& Text, unsigned CodePage) const {
    if (Text.empty()) return {};
    BOOL lossy = FALSE;
    const bool utf8 = CodePage == CP_UTF8;
    const int n = WideCharToMultiByte(CodePage, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, Text.data(),
                                      static_cast<int>(Text.size()), nullptr, 0, nullptr,
                                      utf8 ? nullptr : &lossy);
    AnsiString out(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
    if (n <= 0 ||
        WideCharToMultiByte(CodePage, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, Text.data(),
                            static_cast<int>(Text.size()), out.data(), n, nullptr,
                            utf8 ? nullptr : &lossy) != n ||
        lossy)
      Fail("has a version string that code page " + std::to_string(CodePage) + " cannot hold");
    return out;
  }

  AnsiString VersionRecord(const AnsiString& Data) const {
    const Node root = ReadNode(Data, 0, Data.size());
    if (root.Key != L"VS_VERSION_INFO" || root.ValueSize < 52 ||
        Get32(Data, root.ValueAt) != 0xFEEF04BDu)
      Fail("has a version resource without its fixed part");
    AnsiString record = vek_encoding::kVersionMagic;
    for (const std::size_t field : {8, 16}) {  // file, then product version
      const std::uint32_t ms = Get32(Data, root.ValueAt + field);
      const std::uint32_t ls = Get32(Data, root.ValueAt + field + 4);
      PutU16(record, ms >> 16);
      PutU16(record, ms & 0xFFFF);
      PutU16(record, ls >> 16);
      PutU16(record, ls & 0xFFFF);
    }
    unsigned language = 0, codePage = 0, count = 0;
    AnsiString strings;
    bool haveTable = false;
    for (std::size_t at = root.ChildrenAt; at + 6 <= root.End;) {
      const Node block = ReadNode(Data, at, root.End);
      if (block.Key == L"StringFileInfo") {
        for (std::size_t t = block.ChildrenAt; t + 6 <= block.End && !haveTable;) {
          const Node table = ReadNode(Data, t, block.End);
          if (table.Key.size() != 8) Fail("has a string table whose key is not 8 hex digits");
          const unsigned long id =
              std::stoul(std::string(table.Key.begin(), table.Key.end()), nullptr, 16);
          language = id >> 16;
          codePage = id & 0xFFFF;
          haveTable = true;
          for (std::size_t s = table.ChildrenAt; s + 6 <= table.End;) {
            const Node entry = ReadNode(Data, s, table.End);
            std::wstring value;
            for (std::size_t v = 0; v + 1 < entry.ValueSize; v += 2) {
              const wchar_t c = static_cast<wchar_t>(Get16(Data, entry.ValueAt + v));
              if (c == 0) break;
              value += c;
            }
            const AnsiString key = Narrow(entry.Key, 20127);
            const AnsiString bytes = Narrow(value, codePage);
            PutU16(strings, static_cast<unsigned>(key.size()));
            strings += key;
            PutU16(strings, static_cast<unsigned>(bytes.size()));
            strings += bytes;
            ++count;
            s = (entry.End + 3) & ~std::size_t(3);
          }
          t = (table.End + 3) & ~std::size_t(3);
        }
      }
      at = (block.End + 3) & ~std::size_t(3);
    }
    PutU16(record, language);
    PutU16(record, codePage);
    PutU16(record, count);
    return record + strings;
  }

  [[noreturn]] void Fail(const AnsiString& Why) const { throw EPackageError(FOrigin + " " + Why); }

  HMODULE FModule;
  AnsiString FOrigin;
  TResourceType FType = TResourceType::RCData;
  AnsiString FName;
  TResourceList FList;
  std::exception_ptr FFailure;
};

}  // namespace

bool ModuleFileMissing(const AnsiString& Path) {
  if (!HasDirectory(Path) || GetFileAttributesA(Path.c_str()) != INVALID_FILE_ATTRIBUTES)
    return false;
  const DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

ModuleHandle ModuleOpen(const AnsiString& Path, AnsiString& Error) {
  // With a directory given, the DLLs the module needs are searched for in its
  // own directory first, as for a program.
  HMODULE module =
      LoadLibraryExA(Path.c_str(), nullptr, HasDirectory(Path) ? LOAD_WITH_ALTERED_SEARCH_PATH : 0);
  if (module == nullptr) Error = SystemMessage(GetLastError());
  return module;
}

void* ModuleSymbol(ModuleHandle Module, const char* Name) {
  // GetProcAddress looks only at the module's own export table.
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(Module), Name));
}

void ModuleClose(ModuleHandle Module) noexcept {
  FreeLibrary(static_cast<HMODULE>(Module));
}

const void* ModuleIdentity(ModuleHandle Module) noexcept {
  return Module;  // the module's base address
}

const void* ModuleOfAddress(const void* Address) noexcept {
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          static_cast<LPCSTR>(Address), &module))
    return nullptr;
  return module;
}

TResourceList ModuleResources(ModuleHandle Module, const AnsiString& Origin) {
  if (Module == nullptr) throw EPackageError("\"" + Origin + "\" is not a loaded module");
  return ResourceReader(static_cast<HMODULE>(Module), Origin).ReadAll();
}

TResourceList FileResources(const AnsiString& Path) {
  const AnsiString where = "\"" + Path + "\"";
  if (GetFileAttributesA(Path.c_str()) == INVALID_FILE_ATTRIBUTES)
    throw EPackageError(where + " cannot be opened: " + SystemMessage(GetLastError()));
  // Mapped as data: no code of the module runs and its imports are not loaded.
  HMODULE file = LoadLibraryExA(Path.c_str(), nullptr,
                                LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (file == nullptr)
    throw EPackageError(where + " is not a Windows module: " + SystemMessage(GetLastError()));
  struct Release {
    HMODULE Module;
    ~Release() { FreeLibrary(Module); }
  } release{file};
  return ResourceReader(file, Path).ReadAll();
}

}  // namespace vek_platform
