// Front matter: the data at the top of a page, YAML between "---" lines or
// TOML between "+++" lines, read by the data files' own readers and limits.
#pragma once

#include <cstddef>
#include <string>

#include "VekStdTags.h"

/// A page's front matter and where its body begins.
struct TFrontMatter {
  bool Present = false;
  TVekData Data = TVekData::object();  ///< an object; empty when none
  std::size_t BodyOffset = 0;          ///< the first byte after the closing line
  int Lines = 0;                       ///< lines the front matter takes, fences included
};

/// The front matter at the very start of Text (the page Name): a first
/// line "---" opens YAML, "+++" TOML, up to the next line that is the same
/// fence (trailing blanks and "\r" allowed). Hostile data: parsed by
/// ParseDataText, so bounded as data files are, with the file's own line
/// numbers in its messages. Throws std::runtime_error starting with Name
/// for a fence never closed, data that does not parse, or data that is not
/// an object.
TFrontMatter VekReadFrontMatter(const std::string& Text, const std::string& Name);
