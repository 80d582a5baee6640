// vek_rescomp: compiles a package's resource script (PVekPgPrd.vrc) into a
// C++ source file that puts the resources into the module as its resource
// note, and writes the images it draws as BMP and ICO files.
//
//   vek_rescomp SCRIPT --source OUT.cpp [--images DIR]
//
// The formats it writes are described in platform/PackageResources.h; the
// script's syntax at the top of the script. Pixel maps hold "size W H", an
// optional "background N" and H rows of W characters: 0-9 and A-F pick a
// colour of the standard 16-colour palette, "." is the background (in a
// bitmap) or transparent (in an icon). Lines starting with "#" are comments.
// Any error names the file and line and ends the program with status 1.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "CodePage1251.h"
#include "Encoding.h"

namespace {

using Bytes = std::string;

struct Error : std::runtime_error {
  using std::runtime_error::runtime_error;
};

[[noreturn]] void Fail(const std::string& where, const std::string& why) {
  throw Error(where + ": " + why);
}

using vek_encoding::PutU16;
using vek_encoding::PutU32;
void Pad4(Bytes& b) {
  while (b.size() % 4 != 0) b += '\0';
}

// ---- Script reading ----------------------------------------------------------------

// Splits a line into words; "..." is one word (\" and \\ escape).
std::vector<std::string> Words(const std::string& line, const std::string& where) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < line.size()) {
    if (line[i] == ' ' || line[i] == '\t' || line[i] == '\r') {
      ++i;
    } else if (line[i] == '"') {
      std::string w;
      for (++i;; ++i) {
        if (i >= line.size()) Fail(where, "unterminated quoted text");
        if (line[i] == '"') break;
        if (line[i] == '\\' && i + 1 < line.size()) ++i;
        w += line[i];
      }
      words.push_back(w);
      ++i;
    } else {
      size_t j = i;
      while (j < line.size() && line[j] != ' ' && line[j] != '\t' && line[j] != '\r') ++j;
      words.push_back(line.substr(i, j - i));
      i = j;
    }
  }
  return words;
}

// The lines of a file that are neither blank nor comments, with their
// "file:line" for messages.
std::vector<std::pair<std::string, std::vector<std::string>>> ReadLines(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw Error(path + ": cannot be opened");
  std::vector<std::pair<std::string, std::vector<std::string>>> lines;
  std::string line;
  for (int n = 1; std::getline(in, line); ++n) {
    const std::string where = path + ":" + std::to_string(n);
    const size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos || line[first] == '#') continue;
    lines.emplace_back(where, Words(line, where));
  }
  return lines;
}

unsigned Number(const std::string& s, unsigned max, const std::string& where) {
  size_t used = 0;
  unsigned long v = 0;
  try {
    v = std::stoul(s, &used, 0);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used != s.size() || s.empty() || v > max) Fail(where, "bad number \"" + s + "\"");
  return static_cast<unsigned>(v);
}

void Version(const std::string& s, unsigned out[4], const std::string& where) {
  std::istringstream in(s);
  std::string part;
  int n = 0;
  while (std::getline(in, part, '.')) {
    if (n == 4) Fail(where, "a version has four numbers");
    out[n++] = Number(part, 0xFFFF, where);
  }
  if (n != 4) Fail(where, "a version has four numbers");
}

// UTF-8 text in code page CodePage (1251, or 65001 kept as it is). Text that
// is not well-formed UTF-8 (overlong forms and surrogates included) is an
// error, as the module's reader would refuse it.
Bytes Encode(const std::string& utf8, unsigned codePage, const std::string& where) {
  if (codePage != vek_encoding::kCodePageUtf8 && codePage != vek_encoding::kCodePageCyrillic)
    Fail(where, "code page " + std::to_string(codePage) + " is not known");
  Bytes out;
  for (size_t i = 0; i < utf8.size();) {
    char32_t cp;
    const size_t n = vek_encoding::DecodeUtf8(utf8, i, cp);
    if (n == 0) Fail(where, "text that is not UTF-8");
    if (codePage == vek_encoding::kCodePageUtf8) {
      out.append(utf8, i, n);
    } else {
      const int byte = vek_cp1251::FromUnicode(long(cp));
      if (byte < 0) Fail(where, "a character that code page 1251 does not have");
      out += static_cast<char>(byte);
    }
    i += n;
  }
  return out;
}

// ---- Images ------------------------------------------------------------------------

// Red, green, blue of the standard 16-colour palette.
constexpr unsigned char kPalette[16][3] = {
    {0, 0, 0},     {128, 0, 0},     {0, 128, 0},     {128, 128, 0},   {0, 0, 128}, {128, 0, 128},
    {0, 128, 128}, {192, 192, 192}, {128, 128, 128}, {255, 0, 0},     {0, 255, 0}, {255, 255, 0},
    {0, 0, 255},   {255, 0, 255},   {0, 255, 255},   {255, 255, 255},
};

struct PixelMap {
  int Width = 0, Height = 0;
  int Background = 0;
  std::vector<std::string> Rows;  // top row first; "." or a hex digit
};

PixelMap ReadPixelMap(const std::string& path) {
  PixelMap map;
  for (const auto& line : ReadLines(path)) {
    const std::string& where = line.first;
    const std::vector<std::string>& w = line.second;
    if (w[0] == "size" && w.size() == 3) {
      map.Width = int(Number(w[1], 256, where));
      map.Height = int(Number(w[2], 256, where));
    } else if (w[0] == "background" && w.size() == 2) {
      map.Background = int(Number(w[1], 15, where));
    } else if (w.size() == 1 && map.Width > 0) {
      if (int(w[0].size()) != map.Width) Fail(where, "a row must be as wide as the size says");
      if (w[0].find_first_not_of(".0123456789ABCDEF") != std::string::npos)
        Fail(where, "a row holds only \".\" and the digits 0-9, A-F");
      map.Rows.push_back(w[0]);
    } else {
      Fail(where, "expected \"size W H\", \"background N\" or a row of pixels");
    }
  }
  if (map.Width == 0 || int(map.Rows.size()) != map.Height)
    throw Error(path + ": the number of rows must match the size");
  return map;
}

int ColourAt(const PixelMap& m, int x, int yFromTop) {
  const char c = m.Rows[size_t(yFromTop)][size_t(x)];
  return c == '.' ? m.Background : c <= '9' ? c - '0' : c - 'A' + 10;
}

// A BITMAPINFOHEADER, the palette and the 4-bit pixels (bottom row first);
// for an icon, the height is doubled and the transparency mask follows.
Bytes Dib(const PixelMap& m, bool icon) {
  const int rowBytes = ((m.Width * 4 + 31) / 32) * 4;
  const int maskBytes = ((m.Width + 31) / 32) * 4;
  const std::uint32_t imageSize =
      std::uint32_t(rowBytes * m.Height + (icon ? maskBytes * m.Height : 0));
  Bytes b;
  PutU32(b, 40);
  PutU32(b, std::uint32_t(m.Width));
  PutU32(b, std::uint32_t(icon ? 2 * m.Height : m.Height));
  PutU16(b, 1);  // planes
  PutU16(b, 4);  // bits per pixel
  PutU32(b, 0);  // uncompressed
  PutU32(b, imageSize);
  PutU32(b, 2835);  // 72 dots per inch, in dots per metre
  PutU32(b, 2835);
  PutU32(b, 16);  // colours used
  PutU32(b, 0);   // all important
  for (const auto& rgb : kPalette) {
    b += char(rgb[2]), b += char(rgb[1]), b += char(rgb[0]), b += '\0';
  }
  for (int y = m.Height - 1; y >= 0; --y) {
    Bytes row(size_t(rowBytes), '\0');
    for (int x = 0; x < m.Width; ++x) {
      const bool clear = icon && m.Rows[size_t(y)][size_t(x)] == '.';
      const int colour = clear ? 0 : ColourAt(m, x, y);
      row[size_t(x / 2)] = char(row[size_t(x / 2)] | (x % 2 == 0 ? colour << 4 : colour));
    }
    b += row;
  }
  if (icon) {
    for (int y = m.Height - 1; y >= 0; --y) {
      Bytes row(size_t(maskBytes), '\0');
      for (int x = 0; x < m.Width; ++x)
        if (m.Rows[size_t(y)][size_t(x)] == '.')
          row[size_t(x / 8)] = char(row[size_t(x / 8)] | 0x80 >> (x % 8));
      b += row;
    }
  }
  return b;
}

Bytes Bmp(const PixelMap& m) {
  const Bytes dib = Dib(m, false);
  Bytes b = "BM";
  PutU32(b, std::uint32_t(14 + dib.size()));
  PutU32(b, 0);
  PutU32(b, 14 + 40 + 16 * 4);  // where the pixels start
  return b + dib;
}

Bytes Ico(const PixelMap& m) {
  if (m.Width > 255 || m.Height > 255) throw Error("an icon is at most 255 pixels wide and high");
  const Bytes dib = Dib(m, true);
  Bytes b;
  PutU16(b, 0);
  PutU16(b, 1);  // an icon
  PutU16(b, 1);  // one image
  b += char(m.Width), b += char(m.Height), b += char(16), b += '\0';
  PutU16(b, 1);  // planes
  PutU16(b, 4);  // bits per pixel
  PutU32(b, std::uint32_t(dib.size()));
  PutU32(b, 6 + 16);  // where the image starts
  return b + dib;
}

// ---- Compiling -----------------------------------------------------------------------

constexpr unsigned kLanguageNeutral = 0;

struct Resource {
  TResourceType Type;
  std::string Name;
  unsigned Language;
  Bytes Data;
};

void PutNames(Bytes& b, const std::vector<std::string>& names) {
  PutU16(b, unsigned(names.size()));
  for (const std::string& n : names) {
    PutU16(b, unsigned(n.size()));
    b += n;
  }
}

struct Compiled {
  std::vector<Resource> Resources;
  std::vector<std::pair<std::string, Bytes>> Images;  // file name, contents
};

Compiled Compile(const std::string& script) {
  const size_t slash = script.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "" : script.substr(0, slash + 1);
  Compiled out;
  std::string description;
  bool haveDescription = false;
  std::uint32_t flags = 0;
  std::vector<std::string> required, units;
  unsigned fileVersion[4] = {}, productVersion[4] = {}, language = 0, codePage = 0;
  struct Text {
    std::string Where, Key, Utf8;
  };
  std::vector<Text> strings;
  bool haveVersion = false;

  for (const auto& line : ReadLines(script)) {
    const std::string& where = line.first;
    const std::vector<std::string>& w = line.second;
    const std::string& key = w[0];
    const auto need = [&](size_t n) {
      if (w.size() != n) Fail(where, key + " takes " + std::to_string(n - 1) + " value(s)");
    };
    if (key == "DESCRIPTION") {
      need(2);
      description = w[1];
      haveDescription = true;
    } else if (key == "PACKAGE") {
      for (size_t i = 1; i < w.size(); ++i) {
        if (w[i] == "designtime") {
          flags |= vek_encoding::kPackageDesignTime;
        } else if (w[i] == "runtime") {
          flags |= vek_encoding::kPackageRunTime;
        } else {
          Fail(where, "PACKAGE takes designtime and/or runtime");
        }
      }
    } else if (key == "REQUIRES" || key == "UNITS") {
      (key == "UNITS" ? units : required).assign(w.begin() + 1, w.end());
    } else if (key == "BITMAP" || key == "ICON") {
      need(3);
      const PixelMap map = ReadPixelMap(dir + w[2]);
      const bool icon = key == "ICON";
      const Bytes data = icon ? Ico(map) : Bmp(map);
      out.Resources.push_back(
          {icon ? TResourceType::Icon : TResourceType::Bitmap, w[1], kLanguageNeutral, data});
      out.Images.emplace_back(w[1] + (icon ? ".ico" : ".bmp"), data);
    } else if (key == "FILEVERSION" || key == "PRODUCTVERSION") {
      need(2);
      Version(w[1], key == "FILEVERSION" ? fileVersion : productVersion, where);
      haveVersion = true;
    } else if (key == "LANGUAGE") {
      need(2);
      language = Number(w[1], 0xFFFF, where);
    } else if (key == "CODEPAGE") {
      need(2);
      codePage = Number(w[1], 0xFFFF, where);
    } else if (key == "STRING") {
      need(3);
      strings.push_back({where, w[1], w[2]});
    } else {
      Fail(where, "unknown statement " + key);
    }
  }
  if (!haveDescription) throw Error(script + ": no DESCRIPTION");
  if (units.empty()) throw Error(script + ": no UNITS");

  Bytes info;
  PutU32(info, flags);
  PutNames(info, required);
  PutNames(info, units);
  out.Resources.insert(
      out.Resources.begin(),
      {{TResourceType::RCData, vek_encoding::kDescriptionName, kLanguageNeutral, description},
       {TResourceType::RCData, vek_encoding::kPackageInfoName, kLanguageNeutral, info}});
  if (haveVersion || !strings.empty()) {
    Bytes v = vek_encoding::kVersionMagic;
    for (unsigned n : fileVersion) PutU16(v, n);
    for (unsigned n : productVersion) PutU16(v, n);
    PutU16(v, language);
    PutU16(v, codePage);
    PutU16(v, unsigned(strings.size()));
    for (const Text& t : strings) {
      const Bytes value = Encode(t.Utf8, codePage, t.Where);
      if (value.size() > 0xFFFF || t.Key.size() > 0xFFFF) Fail(t.Where, "text too long");
      PutU16(v, unsigned(t.Key.size()));
      v += t.Key;
      PutU16(v, unsigned(value.size()));
      v += value;
    }
    out.Resources.push_back({TResourceType::Version, vek_encoding::kVersionName, language, v});
  }
  return out;
}

Bytes Container(const std::vector<Resource>& resources) {
  Bytes b = vek_encoding::kContainerMagic;
  PutU32(b, std::uint32_t(resources.size()));
  for (const Resource& r : resources) {
    PutU16(b, static_cast<std::uint16_t>(r.Type));
    PutU16(b, r.Language);
    PutU16(b, unsigned(r.Name.size()));
    PutU16(b, 0);
    PutU32(b, std::uint32_t(r.Data.size()));
    b += r.Name;
    Pad4(b);
    b += r.Data;
    Pad4(b);
  }
  return b;
}

// A C++ source whose top-level assembly puts Desc into an ELF note of owner
// "VekPackage" and type 1, in an allocated note section of its own.
std::string NoteSource(const Bytes& desc, const std::string& script) {
  std::ostringstream s;
  s << "// Generated by vek_rescomp from " << script << ": do not edit.\n"
    << "// The package's resources, as an ELF note mapped with the module.\n"
    << "asm(\".pushsection .note.vek.package, \\\"a\\\", %note\\n\"\n"
    << "    \".balign 4\\n\"\n"
    << "    \".long " << sizeof vek_encoding::kNoteOwner << "\\n\"\n"
    << "    \".long " << desc.size() << "\\n\"\n"
    << "    \".long " << vek_encoding::kNoteType << "\\n\"\n"
    << "    \".asciz \\\"" << vek_encoding::kNoteOwner << "\\\"\\n\"\n"
    << "    \".balign 4\\n\"";
  for (size_t i = 0; i < desc.size(); ++i) {
    if (i % 16 == 0) s << "\n    \".byte ";
    s << unsigned(static_cast<unsigned char>(desc[i]))
      << (i % 16 == 15 || i + 1 == desc.size() ? "\\n\"" : ",");
  }
  s << "\n    \".balign 4\\n\"\n"
    << "    \".popsection\\n\");\n";
  return s.str();
}

void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary);
  if (!out.write(data.data(), std::streamsize(data.size())) || !out.flush())
    throw Error(path + ": cannot be written");
}

}  // namespace

int main(int argc, char** argv) {
  std::string script, source, images;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if ((a == "--source" || a == "--images") && i + 1 < argc) {
      (a == "--source" ? source : images) = argv[++i];
    } else if (script.empty() && a[0] != '-') {
      script = a;
    } else {
      script.clear();
      break;
    }
  }
  if (script.empty() || source.empty()) {
    std::cerr << "usage: vek_rescomp SCRIPT --source OUT.cpp [--images DIR]\n";
    return 2;
  }
  try {
    const Compiled c = Compile(script);
    Bytes desc = Container(c.Resources);
    WriteFile(source, NoteSource(desc, script.substr(script.find_last_of('/') + 1)));
    if (!images.empty())
      for (const auto& [name, data] : c.Images) WriteFile(images + "/" + name, data);
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "vek_rescomp: " << e.what() << "\n";
    return 1;
  }
}
