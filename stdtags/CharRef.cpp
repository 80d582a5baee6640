// The character reference decoder of attribute values: numeric references in
// full; named ones that decode to ASCII, the legacy ones a browser accepts
// without ';', and the common ones beyond ASCII. Others are reported.
#include "CharRef.h"

#include <cstdint>
#include <cstring>

namespace vekstd {

namespace {

const size_t kMaxPending = 32;

bool IsAlnum(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}
bool IsHex(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Named references that decode to ASCII.
struct TAsciiRef {
  const char* Name;
  char Byte;
};
const TAsciiRef kAscii[] = {
    {"Tab", '\t'},         {"NewLine", '\n'},
    {"excl", '!'},         {"quot", '"'},
    {"QUOT", '"'},         {"num", '#'},
    {"dollar", '$'},       {"percnt", '%'},
    {"amp", '&'},          {"AMP", '&'},
    {"apos", '\''},        {"lpar", '('},
    {"rpar", ')'},         {"ast", '*'},
    {"midast", '*'},       {"plus", '+'},
    {"comma", ','},        {"period", '.'},
    {"sol", '/'},          {"colon", ':'},
    {"semi", ';'},         {"lt", '<'},
    {"LT", '<'},           {"equals", '='},
    {"gt", '>'},           {"GT", '>'},
    {"quest", '?'},        {"commat", '@'},
    {"lsqb", '['},         {"lbrack", '['},
    {"bsol", '\\'},        {"rsqb", ']'},
    {"rbrack", ']'},       {"Hat", '^'},
    {"lowbar", '_'},       {"UnderBar", '_'},
    {"grave", '`'},        {"DiacriticalGrave", '`'},
    {"lcub", '{'},         {"lbrace", '{'},
    {"verbar", '|'},       {"vert", '|'},
    {"VerticalLine", '|'}, {"rcub", '}'},
    {"rbrace", '}'},
};

// References a browser decodes without ';' (outside those, a name without
// ';' stays text). Their characters are beyond ASCII but for the four first.
const char* const kLegacy[] = {
    "amp",    "AMP",    "lt",     "LT",     "gt",     "GT",     "quot",   "QUOT",   "AElig",
    "Aacute", "Acirc",  "Agrave", "Aring",  "Atilde", "Auml",   "COPY",   "Ccedil", "ETH",
    "Eacute", "Ecirc",  "Egrave", "Euml",   "Iacute", "Icirc",  "Igrave", "Iuml",   "Ntilde",
    "Oacute", "Ocirc",  "Ograve", "Oslash", "Otilde", "Ouml",   "REG",    "THORN",  "Uacute",
    "Ucirc",  "Ugrave", "Uuml",   "Yacute", "aacute", "acirc",  "acute",  "aelig",  "agrave",
    "aring",  "atilde", "auml",   "brvbar", "ccedil", "cedil",  "cent",   "copy",   "curren",
    "deg",    "divide", "eacute", "ecirc",  "egrave", "eth",    "euml",   "frac12", "frac14",
    "frac34", "iacute", "icirc",  "iexcl",  "igrave", "iquest", "iuml",   "laquo",  "macr",
    "micro",  "middot", "nbsp",   "not",    "ntilde", "oacute", "ocirc",  "ograve", "ordf",
    "ordm",   "oslash", "otilde", "ouml",   "para",   "plusmn", "pound",  "raquo",  "reg",
    "sect",   "shy",    "sup1",   "sup2",   "sup3",   "szlig",  "thorn",  "times",  "uacute",
    "ucirc",  "ugrave", "uml",    "uuml",   "yacute", "yen",    "yuml",
};

// Common references with ';' beyond ASCII and the legacy set.
const char* const kOther[] = {"hellip", "mdash",  "ndash", "lsquo", "rsquo", "ldquo", "rdquo",
                              "bull",   "euro",   "trade", "larr",  "rarr",  "uarr",  "darr",
                              "harr",   "hearts", "check", "star",  "ensp",  "emsp",  "thinsp"};

// JavaScript's blanks beyond ASCII, by code point.
bool IsJsBlank(uint32_t Cp) {
  return Cp == 0xA0 || Cp == 0x1680 || (Cp >= 0x2000 && Cp <= 0x200A) || Cp == 0x202F ||
         Cp == 0x205F || Cp == 0x3000 || Cp == 0xFEFF;
}

void AppendCodePoint(std::string& Out, uint32_t Cp) {
  if (Cp == 0 || Cp > 0x10FFFF || (Cp >= 0xD800 && Cp <= 0xDFFF)) {
    Out += static_cast<char>(0x80);  // U+FFFD
  } else if (Cp < 0x80) {
    Out += static_cast<char>(Cp);
  } else if (Cp == 0x2028 || Cp == 0x2029) {
    Out += "\xE2\x80";
    Out += static_cast<char>(Cp == 0x2028 ? 0xA8 : 0xA9);
  } else if (IsJsBlank(Cp)) {
    Out += ' ';
  } else {
    Out += static_cast<char>(0x80);
  }
}

bool InList(const std::string& Name, const char* const* List, size_t N) {
  for (size_t i = 0; i < N; ++i) {
    if (Name == List[i]) return true;
  }
  return false;
}

// Decodes the named reference Name (without '&' and ';'). Semicolon: whether
// ';' ended it. False when Name stays text.
bool DecodeNamed(const std::string& Name, bool Semicolon, std::string& Out, bool& Unknown) {
  for (const TAsciiRef& r : kAscii) {
    if (Name == r.Name && (Semicolon || InList(Name, kLegacy, 8))) {
      Out += r.Byte;
      return true;
    }
  }
  const bool legacy = InList(Name, kLegacy, sizeof kLegacy / sizeof kLegacy[0]);
  if (legacy || (Semicolon && InList(Name, kOther, sizeof kOther / sizeof kOther[0]))) {
    if (Name == "nbsp" || Name == "ensp" || Name == "emsp" || Name == "thinsp") {
      Out += ' ';
    } else {
      Out += static_cast<char>(0x80);
    }
    return true;
  }
  Unknown = Semicolon;
  return false;
}

uint32_t NumberOf(const std::string& Digits, bool Hex) {
  uint32_t cp = 0;
  for (const char d : Digits) {
    const unsigned char c = static_cast<unsigned char>(d);
    const uint32_t v = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
    cp = cp * (Hex ? 16 : 10) + v;
    if (cp > 0x10FFFF) cp = 0x110000;  // saturates: decodes to U+FFFD
  }
  return cp;
}

// Pending ends before C (C is not part of it, or is its ';'): decodes it into
// Out. Returns whether C was consumed (a ';' that ends the reference).
bool Resolve(std::string& Pending, unsigned char C, std::string& Out, bool& Unknown) {
  const bool semicolon = C == ';';
  bool consumed = false;
  if (Pending.size() > 1 && Pending[1] == '#') {
    const bool hex = Pending.size() > 2 && (Pending[2] == 'x' || Pending[2] == 'X');
    const std::string digits = Pending.substr(hex ? 3 : 2);
    if (digits.empty()) {
      Out += Pending;  // "&#" or "&#x" with no digits: text
    } else {
      AppendCodePoint(Out, NumberOf(digits, hex));
      consumed = semicolon;
    }
  } else if (Pending.size() > 1) {
    const std::string name = Pending.substr(1);
    // In an attribute a name without ';' followed by '=' stays text.
    if (C != '=' && DecodeNamed(name, semicolon, Out, Unknown)) {
      consumed = semicolon;
    } else {
      Out += Pending;
    }
  } else {
    Out += Pending;
  }
  Pending.clear();
  return consumed;
}

}  // namespace

TCharRefResult CharRefStep(std::string& Pending, unsigned char C, std::string& Out) {
  bool unknown = false;
  if (!Pending.empty()) {
    const bool numeric = Pending.size() > 1 && Pending[1] == '#';
    const bool hex = numeric && Pending.size() > 2 && (Pending[2] == 'x' || Pending[2] == 'X');
    bool more = false;
    if (Pending.size() >= kMaxPending) {
      more = false;
    } else if (Pending == "&") {
      more = C == '#' || IsAlnum(C);
    } else if (Pending == "&#") {
      more = C == 'x' || C == 'X' || (C >= '0' && C <= '9');
    } else if (numeric) {
      more = hex ? IsHex(C) : (C >= '0' && C <= '9');
    } else {
      more = IsAlnum(C);
    }
    if (more) {
      Pending += static_cast<char>(C);
      return TCharRefResult::Plain;
    }
    if (Pending.size() >= kMaxPending) {
      Out += Pending;  // too long for any reference
      Pending.clear();
    } else if (Resolve(Pending, C, Out, unknown)) {
      return unknown ? TCharRefResult::Unknown : TCharRefResult::Plain;
    }
  }
  if (C == '&') {
    Pending = "&";
  } else {
    Out += static_cast<char>(C);
  }
  return unknown ? TCharRefResult::Unknown : TCharRefResult::Plain;
}

TCharRefResult CharRefFlush(std::string& Pending, std::string& Out) {
  bool unknown = false;
  if (!Pending.empty()) Resolve(Pending, 0, Out, unknown);
  return unknown ? TCharRefResult::Unknown : TCharRefResult::Plain;
}

}  // namespace vekstd
