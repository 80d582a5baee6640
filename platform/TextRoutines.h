// Text routines the component relies on. Bytes are always taken as unsigned
// values 0..255: a "blank" is a byte of value 32 or less, so bytes of 128 and
// above are never blanks.
#pragma once

#include <cstddef>

#include "AnsiString.h"
#include "Export.h"

/// True for a blank byte: value 32 or less (space, tab, CR, LF, every other
/// control byte and NUL).
inline bool IsBlank(unsigned char c) noexcept {
  return c <= 32;
}

/// First exact, case-sensitive occurrence of the NUL-terminated SubStr in the
/// NUL-terminated Str. Returns nullptr when either text is empty or null, or
/// when SubStr does not occur. Never reads past either terminator.
VCL50_API const char* AnsiStrPos(const char* Str, const char* SubStr) noexcept;

/// Number of bytes before the terminating NUL; 0 for a null pointer.
VCL50_API std::size_t StrLen(const char* Str) noexcept;

/// S without its leading and trailing blanks (bytes of value 32 or less).
VCL50_API AnsiString Trim(const AnsiString& S);

/// True when S is an identifier: an ASCII letter or '_', then ASCII letters,
/// digits and '_'. Names of classes, components, properties and methods are
/// identifiers.
VCL50_API bool IsValidIdent(const AnsiString& S) noexcept;

/// True when A and B are equal with ASCII letter case ignored (other bytes
/// compare exactly). Identifiers are compared this way.
VCL50_API bool SameText(const AnsiString& A, const AnsiString& B) noexcept;

/// S upper-cased by the user's locale, as the environment sets it (LC_ALL,
/// then LC_CTYPE, then LANG; read once, at the first call). On Windows, by
/// the user's ANSI code page, as CharUpperBuffA folds it ("cp1251": "петля"
/// in that code page becomes "ПЕТЛЯ"). The process's global locale is
/// neither read nor changed, so the routine is safe to call from several
/// threads.
///
/// In a UTF-8 locale every well-formed character is folded ("петля" becomes
/// "ПЕТЛЯ"); bytes that are not valid UTF-8 are copied unchanged, never
/// dropped. In a single-byte locale the bytes are folded one by one. An
/// unknown or unavailable locale behaves as the "C" locale (ASCII only).
/// Throws std::bad_alloc only.
VCL50_API AnsiString AnsiUpperCase(const AnsiString& S);

/// Name of the locale AnsiUpperCase uses ("C" when the environment names
/// none or one that is not available; on Windows "cp" and the ANSI code
/// page's number) and whether it encodes text as UTF-8.
VCL50_API const char* UpperCaseLocaleName() noexcept;
VCL50_API bool UpperCaseLocaleIsUtf8() noexcept;

/// True when AnsiUpperCase maps every byte below 128 as the "C" locale does
/// (a-z to A-Z, every other byte to itself, one byte each), so that a text of
/// such bytes can be upper-cased, or compared without regard to case, byte by
/// byte. False in locales that fold an ASCII letter otherwise.
VCL50_API bool UpperCaseAsciiIsPlain() noexcept;
