// Resources of package modules: what a module carries besides its code (its
// description, package information, images and version information), read
// back from a loaded package or from the module file without running it.
//
// Resources are identified as on the component's home platform: a type
// number, a name and a language. Two types differ in content from that
// platform's native form: a Bitmap resource holds a complete BMP file (with
// its file header) and an Icon resource a complete ICO file, so that both can
// be written to disk as they are.
//
// On this platform the resources of a module travel in an ELF note (owner
// "VekPackage", type 1) in an allocated note section, so they are mapped with
// the module and visible in its file. The note's contents, all numbers
// little-endian:
//
//   "VRS1"  u32 count
//   count times: u16 type, u16 language, u16 name length, u16 0,
//                u32 data length, the name, the data
//   (the name and the data each padded with zero bytes to a multiple of 4)
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "AnsiString.h"
#include "Encoding.h"  // TResourceType and the format constants
#include "Export.h"
#include "Package.h"

/// Language of resources that have none (language neutral).
constexpr std::uint16_t kLanguageNeutral = 0;

struct TResource {
  TResourceType Type;
  AnsiString Name;
  std::uint16_t Language;
  AnsiString Data;
};

using TResourceList = std::vector<TResource>;

/// The resources of a loaded package, read from its image in memory.
/// Throws EPackageError for a handle that is not loaded or malformed resources.
VCL50_API TResourceList PackageResources(TPackageHandle Handle);

/// The resources of the module file at Path, read from the file alone: the
/// module is neither loaded nor run. A module without resources gives an
/// empty list. Throws EPackageError naming the file when it cannot be read,
/// is not a module of this platform, or holds malformed resources.
VCL50_API TResourceList ReadModuleResources(const AnsiString& Path);

/// The resource of that type and name (ASCII letter case ignored, as the home
/// platform does) in List, or nullptr.
VCL50_API const TResource* FindModuleResource(const TResourceList& List, TResourceType Type,
                                              const AnsiString& Name);

/// Decodes the resource container described above. Throws EPackageError
/// naming Origin when it is malformed.
VCL50_API TResourceList DecodeResourceContainer(const AnsiString& Data, const AnsiString& Origin);

// ---- Package information ---------------------------------------------------------

/// What a package module declares about itself: the RCData resource
/// "DESCRIPTION" (its text) and the RCData resource "PACKAGEINFO":
///
///   u32 flags (1: usable at design time, 2: usable at run time)
///   u16 number of required packages, then each as u16 length and name
///   u16 number of units, then each as u16 length and name
struct TPackageContents {
  AnsiString Description;
  bool DesignTime = false;  ///< usable in the development environment
  bool RunTime = false;     ///< usable by applications at run time
  std::vector<AnsiString> Requires;
  std::vector<AnsiString> Units;
};

/// Reads the description and package information from a module's resources.
/// Throws EPackageError when either is missing or malformed.
VCL50_API TPackageContents DecodePackageContents(const TResourceList& List);

// ---- Version information ------------------------------------------------------------

/// A module's version information: the Version resource "1", whose contents
/// are, numbers little-endian:
///
///   "VVI1"  u16 file version[4]  u16 product version[4]
///   u16 language  u16 code page  u16 number of strings
///   each string: u16 key length, the key (ASCII),
///                u16 value length, the value in the code page
struct VCL50_API TVersionInfo {
  std::array<std::uint16_t, 4> FileVersion{};     ///< major, minor, release, build
  std::array<std::uint16_t, 4> ProductVersion{};  ///< major, minor, release, build
  std::uint16_t Language = 0;                     ///< e.g. 0x0419
  std::uint16_t CodePage = 0;                     ///< of the stored values, e.g. 1251

  struct Entry {
    AnsiString Key;    ///< e.g. "CompanyName"
    AnsiString Value;  ///< the bytes as stored, in CodePage
    AnsiString Utf8;   ///< the same text in UTF-8
  };
  std::vector<Entry> Strings;

  /// The entry with that key (exact), or nullptr.
  const Entry* Find(const AnsiString& Key) const;
};

/// Decodes the contents of a Version resource. Throws EPackageError when it
/// is malformed or its code page is not one that CodePageToUtf8 knows.
VCL50_API TVersionInfo DecodeVersionInfo(const AnsiString& Data);

/// "1.0.0.0" from {1, 0, 0, 0}.
VCL50_API AnsiString VersionText(const std::array<std::uint16_t, 4>& Version);

/// Text in a code page converted to UTF-8. Knows 1251 (Cyrillic), 20127
/// (US-ASCII) and 65001 (UTF-8, checked and copied). Throws EPackageError for
/// another code page, a byte the code page does not define, or ill-formed
/// UTF-8.
VCL50_API AnsiString CodePageToUtf8(const AnsiString& Text, unsigned CodePage);
