// VekQuoteName and VekTerminalText: escapes for what reaches a terminal.
#include "base/Printable.h"

#include <cstdio>

namespace {

void Hex(std::string& Out, unsigned char C) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "\\x%02x", C);
  Out += buf;
}

bool Plain(unsigned char C) {
  return C > ' ' && C != 0x7f && C != '"' && C != '\\';
}

// True when S[I] begins a C1 control character in UTF-8 (U+0080 to U+009F),
// which some terminals obey as they obey the ASCII ones.
bool C1At(const std::string& S, size_t I) {
  return static_cast<unsigned char>(S[I]) == 0xc2 && I + 1 < S.size() &&
         static_cast<unsigned char>(S[I + 1]) >= 0x80 &&
         static_cast<unsigned char>(S[I + 1]) <= 0x9f;
}

// Appends S[I] to Out, escaped when it is a control byte or starts a C1
// control; returns the bytes taken.
size_t Escaped(std::string& Out, const std::string& S, size_t I, bool Tab) {
  const unsigned char c = static_cast<unsigned char>(S[I]);
  if (C1At(S, I)) {
    Hex(Out, c);
    Hex(Out, static_cast<unsigned char>(S[I + 1]));
    return 2;
  }
  if ((c < ' ' && !(Tab && c == '\t')) || c == 0x7f) {
    Hex(Out, c);
  } else {
    Out += static_cast<char>(c);
  }
  return 1;
}

}  // namespace

std::string VekQuoteName(const std::string& Name) {
  bool plain = !Name.empty();
  for (size_t i = 0; i < Name.size() && plain; ++i)
    plain = Plain(static_cast<unsigned char>(Name[i])) && !C1At(Name, i);
  if (plain) return Name;
  std::string out = "\"";
  for (size_t i = 0; i < Name.size();) {
    if (Name[i] == '"' || Name[i] == '\\' || Name[i] == ' ') {
      if (Name[i] != ' ') out += '\\';
      out += Name[i++];
    } else {
      i += Escaped(out, Name, i, false);
    }
  }
  return out + "\"";
}

std::string VekTerminalText(const std::string& Text) {
  std::string out;
  out.reserve(Text.size());
  for (size_t i = 0; i < Text.size();) i += Escaped(out, Text, i, true);
  return out;
}

std::string VekTerminalLines(const std::string& Text) {
  std::string out;
  out.reserve(Text.size());
  for (size_t i = 0; i < Text.size();) {
    if (Text[i] == '\n') {
      out += Text[i++];
    } else {
      i += Escaped(out, Text, i, true);
    }
  }
  return out;
}
