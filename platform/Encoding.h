// The byte-level encodings the host layer reads and writes: UTF-8 decoding
// and encoding, little-endian numbers, and the format constants of the package
// resource container (magic strings, resource types, note owner). Header-only
// and standard library only, so that the resource compiler, built for the
// build machine on its own, shares it with the library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

/// Resource types, numbered as on the component's home platform.
enum class TResourceType : std::uint16_t {
  Bitmap = 2,    ///< a BMP file
  RCData = 10,   ///< raw bytes
  Icon = 14,     ///< an ICO file
  Version = 16,  ///< version information, see TVersionInfo
};

namespace vek_encoding {

// ---- Resource container format (see PackageResources.h) --------------------------

/// The first four bytes of a resource container and of a version record.
constexpr char kContainerMagic[] = "VRS1";
constexpr char kVersionMagic[] = "VVI1";
constexpr std::size_t kMagicSize = 4;

/// The ELF note that carries the container: its owner (stored with its NUL)
/// and type.
constexpr char kNoteOwner[] = "VekPackage";
constexpr std::uint32_t kNoteType = 1;

/// The names of the package's own resources and their flags.
constexpr char kDescriptionName[] = "DESCRIPTION";
constexpr char kPackageInfoName[] = "PACKAGEINFO";
constexpr char kVersionName[] = "1";
constexpr std::uint32_t kPackageDesignTime = 1;
constexpr std::uint32_t kPackageRunTime = 2;

/// The code pages that version strings may be stored in.
constexpr unsigned kCodePageCyrillic = 1251;
constexpr unsigned kCodePageAscii = 20127;
constexpr unsigned kCodePageUtf8 = 65001;

// ---- UTF-8 -------------------------------------------------------------------------

/// Length (1 to 4) of the well-formed UTF-8 sequence at S[0..Size), storing
/// its code point in CodePoint; 0 when the bytes there are not one: a stray
/// continuation byte, a lead byte without its continuations, an overlong
/// form, a surrogate or a code point above U+10FFFF. Size must be > 0.
inline std::size_t DecodeUtf8(const unsigned char* S, std::size_t Size, char32_t& CodePoint) {
  const unsigned char lead = S[0];
  if (lead < 0x80) {
    CodePoint = lead;
    return 1;
  }
  std::size_t length;
  char32_t least;  // the smallest code point that needs this length
  if (lead >= 0xC0 && lead <= 0xDF) {
    length = 2, CodePoint = lead & 0x1Fu, least = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, CodePoint = lead & 0x0Fu, least = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF7) {
    length = 4, CodePoint = lead & 0x07u, least = 0x10000;
  } else {
    return 0;
  }
  if (Size < length) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((S[k] & 0xC0) != 0x80) return 0;
    CodePoint = (CodePoint << 6) | (S[k] & 0x3Fu);
  }
  if (CodePoint < least || CodePoint > 0x10FFFF || (CodePoint >= 0xD800 && CodePoint <= 0xDFFF))
    return 0;
  return length;
}

/// The same for the bytes of Text from At on (At < Text.size()).
inline std::size_t DecodeUtf8(const std::string& Text, std::size_t At, char32_t& CodePoint) {
  return DecodeUtf8(reinterpret_cast<const unsigned char*>(Text.data()) + At, Text.size() - At,
                    CodePoint);
}

/// Appends the UTF-8 form of CodePoint (at most U+10FFFF) to Out.
inline void AppendUtf8(std::string& Out, char32_t CodePoint) {
  if (CodePoint < 0x80) {
    Out += static_cast<char>(CodePoint);
  } else if (CodePoint < 0x800) {
    Out += static_cast<char>(0xC0 | (CodePoint >> 6));
    Out += static_cast<char>(0x80 | (CodePoint & 0x3F));
  } else if (CodePoint < 0x10000) {
    Out += static_cast<char>(0xE0 | (CodePoint >> 12));
    Out += static_cast<char>(0x80 | ((CodePoint >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (CodePoint & 0x3F));
  } else {
    Out += static_cast<char>(0xF0 | (CodePoint >> 18));
    Out += static_cast<char>(0x80 | ((CodePoint >> 12) & 0x3F));
    Out += static_cast<char>(0x80 | ((CodePoint >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (CodePoint & 0x3F));
  }
}

// ---- Little-endian numbers -----------------------------------------------------------

/// Appends the low 16 bits of Value, low byte first.
inline void PutU16(std::string& Out, std::uint32_t Value) {
  Out += static_cast<char>(Value & 0xFF);
  Out += static_cast<char>((Value >> 8) & 0xFF);
}

/// Appends Value, low byte first.
inline void PutU32(std::string& Out, std::uint32_t Value) {
  PutU16(Out, Value & 0xFFFF);
  PutU16(Out, Value >> 16);
}

/// The number stored low byte first at P (the caller checks the bounds).
inline std::uint16_t GetU16(const unsigned char* P) {
  return static_cast<std::uint16_t>(P[0] | P[1] << 8);
}
inline std::uint32_t GetU32(const unsigned char* P) {
  return std::uint32_t(P[0]) | std::uint32_t(P[1]) << 8 | std::uint32_t(P[2]) << 16 |
         std::uint32_t(P[3]) << 24;
}

}  // namespace vek_encoding
