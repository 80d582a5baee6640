// Reading the package resource container, package information and version
// records, and converting version strings from their code page to UTF-8.
#include "PackageResources.h"
#include "TextRoutines.h"

#include <cstring>
#include <string>

#include "CodePage1251.h"
#include "PackageHost.h"
#include "PlatformModule.h"

namespace {

// Reads little-endian numbers and byte runs from Data, checking every bound.
class Reader {
 public:
  Reader(const AnsiString& Data, AnsiString What) : FData(Data), FWhat(std::move(What)) {}

  std::uint16_t U16() { return vek_encoding::GetU16(Take(2)); }
  std::uint32_t U32() { return vek_encoding::GetU32(Take(4)); }
  AnsiString Bytes(std::size_t Count) {
    return AnsiString(reinterpret_cast<const char*>(Take(Count)), Count);
  }
  void Align4() {
    const std::size_t pad = (4 - FPos % 4) % 4;
    if (pad > FData.size() - FPos) Fail("padding runs past the end");
    FPos += pad;
  }
  bool AtEnd() const { return FPos == FData.size(); }
  [[noreturn]] void Fail(const AnsiString& Why) const {
    throw EPackageError(FWhat + " is malformed at byte " + std::to_string(FPos) + ": " + Why);
  }

 private:
  const unsigned char* Take(std::size_t Count) {
    if (Count > FData.size() - FPos) Fail("it ends early");
    const auto* p = reinterpret_cast<const unsigned char*>(FData.data()) + FPos;
    FPos += Count;
    return p;
  }

  const AnsiString& FData;
  AnsiString FWhat;
  std::size_t FPos = 0;
};

std::vector<AnsiString> NameList(Reader& r) {
  std::vector<AnsiString> names(r.U16());
  for (AnsiString& name : names) name = r.Bytes(r.U16());
  return names;
}

}  // namespace

TResourceList DecodeResourceContainer(const AnsiString& Data, const AnsiString& Origin) {
  Reader r(Data, "the resources of " + Origin);
  if (r.Bytes(vek_encoding::kMagicSize) != vek_encoding::kContainerMagic)
    r.Fail("no resource container");
  const std::uint32_t count = r.U32();
  TResourceList list;
  for (std::uint32_t i = 0; i < count; ++i) {
    TResource res;
    res.Type = static_cast<TResourceType>(r.U16());
    res.Language = r.U16();
    const std::uint16_t nameLength = r.U16();
    r.U16();
    const std::uint32_t dataLength = r.U32();
    res.Name = r.Bytes(nameLength);
    r.Align4();
    res.Data = r.Bytes(dataLength);
    r.Align4();
    list.push_back(std::move(res));
  }
  if (!r.AtEnd()) r.Fail("bytes follow the last resource");
  return list;
}

TResourceList ReadModuleResources(const AnsiString& Path) {
  return vek_platform::FileResources(Path);
}

const TResource* FindModuleResource(const TResourceList& List, TResourceType Type,
                                    const AnsiString& Name) {
  for (const TResource& r : List)
    if (r.Type == Type && SameText(r.Name, Name)) return &r;
  return nullptr;
}

TPackageContents DecodePackageContents(const TResourceList& List) {
  const TResource* description =
      FindModuleResource(List, TResourceType::RCData, vek_encoding::kDescriptionName);
  const TResource* info =
      FindModuleResource(List, TResourceType::RCData, vek_encoding::kPackageInfoName);
  if (description == nullptr) throw EPackageError("the module has no DESCRIPTION resource");
  if (info == nullptr) throw EPackageError("the module has no PACKAGEINFO resource");
  TPackageContents contents;
  contents.Description = description->Data;
  Reader r(info->Data, "the PACKAGEINFO resource");
  const std::uint32_t flags = r.U32();
  using vek_encoding::kPackageDesignTime;
  using vek_encoding::kPackageRunTime;
  if ((flags & ~(kPackageDesignTime | kPackageRunTime)) != 0)
    r.Fail("unknown package flags " + std::to_string(flags));
  contents.DesignTime = (flags & kPackageDesignTime) != 0;
  contents.RunTime = (flags & kPackageRunTime) != 0;
  contents.Requires = NameList(r);
  contents.Units = NameList(r);
  if (!r.AtEnd()) r.Fail("bytes follow the unit list");
  return contents;
}

const TVersionInfo::Entry* TVersionInfo::Find(const AnsiString& Key) const {
  for (const Entry& e : Strings)
    if (e.Key == Key) return &e;
  return nullptr;
}

TVersionInfo DecodeVersionInfo(const AnsiString& Data) {
  Reader r(Data, "the version resource");
  if (r.Bytes(vek_encoding::kMagicSize) != vek_encoding::kVersionMagic)
    r.Fail("no version information");
  TVersionInfo v;
  for (auto& n : v.FileVersion) n = r.U16();
  for (auto& n : v.ProductVersion) n = r.U16();
  v.Language = r.U16();
  v.CodePage = r.U16();
  v.Strings.resize(r.U16());
  for (TVersionInfo::Entry& e : v.Strings) {
    e.Key = r.Bytes(r.U16());
    e.Value = r.Bytes(r.U16());
    e.Utf8 = CodePageToUtf8(e.Value, v.CodePage);
  }
  if (!r.AtEnd()) r.Fail("bytes follow the last string");
  return v;
}

AnsiString VersionText(const std::array<std::uint16_t, 4>& Version) {
  return std::to_string(Version[0]) + "." + std::to_string(Version[1]) + "." +
         std::to_string(Version[2]) + "." + std::to_string(Version[3]);
}

AnsiString CodePageToUtf8(const AnsiString& Text, unsigned CodePage) {
  AnsiString out;
  out.reserve(Text.size());
  for (std::size_t i = 0; i < Text.size();) {
    const auto c = static_cast<unsigned char>(Text[i]);
    const AnsiString where = " at byte " + std::to_string(i);
    switch (CodePage) {
      case vek_encoding::kCodePageCyrillic: {
        const long cp = vek_cp1251::ToUnicode(c);
        if (cp < 0) throw EPackageError("code page 1251 does not define the byte 0x98" + where);
        vek_encoding::AppendUtf8(out, static_cast<char32_t>(cp));
        ++i;
        break;
      }
      case vek_encoding::kCodePageAscii:
        if (c >= 0x80) throw EPackageError("a byte above 127 in US-ASCII text" + where);
        out += Text[i++];
        break;
      case vek_encoding::kCodePageUtf8: {
        char32_t cp;
        const std::size_t n = vek_encoding::DecodeUtf8(Text, i, cp);
        if (n == 0) throw EPackageError("ill-formed UTF-8" + where);
        out.append(Text, i, n);
        i += n;
        break;
      }
      default:
        throw EPackageError("unknown code page " + std::to_string(CodePage));
    }
  }
  return out;
}

TResourceList PackageResources(TPackageHandle Handle) {
  vek_package::Guard guard(
      vek_package::HostState().Lock);  // so that the module stays while it is read
  const vek_package::LoadedModule& module = vek_package::ModuleOf(Handle, "PackageResources");
  return vek_platform::ModuleResources(module.Os, module.Path);
}
