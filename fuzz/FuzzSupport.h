// Helpers shared by the fuzz targets: a reader over the fuzz input, the
// delimiters the targets pick from, and the report of a mismatch.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size);

namespace vekfuzz {

/// Reads the fuzz input front to back; past its end every read gives zeros
/// and empty strings, so any input is a valid one.
class Input {
 public:
  Input(const std::uint8_t* Data, std::size_t Size) : FData(Data), FSize(Size) {}
  std::uint8_t Byte() { return FPos < FSize ? FData[FPos++] : 0; }
  /// A string of up to MaxLen bytes, its length taken from one byte.
  std::string Short(std::size_t MaxLen) {
    const std::size_t n = Byte() % (MaxLen + 1);
    return Bytes(n);
  }
  std::string Bytes(std::size_t N) {
    std::string s;
    while (N-- > 0 && FPos < FSize) s += static_cast<char>(FData[FPos++]);
    return s;
  }
  /// Everything not read yet.
  std::string Rest() { return Bytes(FSize - FPos); }
  bool Empty() const { return FPos >= FSize; }

 private:
  const std::uint8_t* FData;
  std::size_t FSize;
  std::size_t FPos = 0;
};

using Delimiters = std::pair<std::string, std::string>;

/// Delimiter pairs worth trying: the defaults, one-byte ones, equal ones,
/// ones that share bytes or overlap, high bytes, NUL bytes inside, empty.
inline const std::vector<Delimiters>& DelimiterPalette() {
  static const std::vector<Delimiters> palette = {
      {"<#", "#>"},
      {"{", "}"},
      {"|", "|"},
      {"XX", "XX"},
      {"[[", "]]]"},
      {"#", "##"},
      {"##", "#"},
      {"<#", "#<"},
      {"ab", "ba"},
      {"a", "a"},
      {"aa", "a"},
      {"\xff\xfe", "\xfe"},
      {"\xd0\xbf", "\xd0\xbf"},
      {std::string("<\0x", 3), "#>"},
      {std::string("\0", 1), "#>"},
      {"<#", std::string("#\0>", 3)},
      {"<#", std::string("\0", 1)},
      {"", "#>"},
      {"<#", ""},
      {"<#", "<#"},
      {"<", ">"},
      {"x", "X"},
  };
  return palette;
}

/// S with every byte outside printable ASCII written as \xNN, in quotes.
inline std::string Escape(const std::string& S) {
  std::string out = "\"";
  for (unsigned char c : S) {
    if (c >= 32 && c < 127 && c != '"' && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", c);
      out += buf;
    }
  }
  return out + "\"";
}

inline std::string Escape(const std::vector<std::string>& L) {
  std::string out = "[";
  for (std::size_t i = 0; i < L.size(); ++i) out += (i ? ", " : "") + Escape(L[i]);
  return out + "]";
}

/// Reports a difference between the component and the model and aborts, so
/// that the fuzzer keeps the input that shows it.
[[noreturn]] inline void Mismatch(const std::string& What, const std::string& Component,
                                  const std::string& Model) {
  std::fprintf(stderr, "MISMATCH in %s\n  component: %s\n  model:     %s\n", What.c_str(),
               Component.c_str(), Model.c_str());
  std::abort();
}

template <class T>
void Expect(const char* What, const T& Component, const T& Model) {
  if (!(Component == Model)) Mismatch(What, Escape(Component), Escape(Model));
}

/// Delimiters from the input: two short strings when Given, otherwise a
/// pair picked from the palette by one byte.
inline Delimiters ReadDelimiters(Input& In, bool Given) {
  if (Given) {
    std::string beg = In.Short(3);
    return {std::move(beg), In.Short(3)};
  }
  const auto& palette = DelimiterPalette();
  return palette[In.Byte() % palette.size()];
}

}  // namespace vekfuzz
