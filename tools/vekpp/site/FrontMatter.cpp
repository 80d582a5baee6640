// Front matter found by its fences in one pass over the lines, its data read
// by the readers of data files.
#include "site/FrontMatter.h"

#include <stdexcept>

#include "data/DataFiles.h"

namespace {

// The line [Begin, End) is Fence, perhaps followed by blanks ("\r" too).
bool IsFence(const std::string& Text, size_t Begin, size_t End, const char* Fence) {
  if (Text.compare(Begin, 3, Fence) != 0 || End < Begin + 3) return false;
  for (size_t i = Begin + 3; i < End; ++i)
    if (static_cast<unsigned char>(Text[i]) > 32) return false;
  return true;
}

}  // namespace

TFrontMatter VekReadFrontMatter(const std::string& Text, const std::string& Name) {
  TFrontMatter fm;
  size_t lineEnd = Text.find('\n');
  if (lineEnd == std::string::npos) return fm;
  const char* fence = IsFence(Text, 0, lineEnd, "---")   ? "---"
                      : IsFence(Text, 0, lineEnd, "+++") ? "+++"
                                                         : nullptr;
  if (!fence) return fm;
  int lines = 1;
  for (size_t begin = lineEnd + 1;;) {
    size_t end = Text.find('\n', begin);
    const bool last = end == std::string::npos;
    if (last) end = Text.size();
    ++lines;
    if (IsFence(Text, begin, end, fence)) {
      // The first line becomes an empty one, so that the reader's line
      // numbers are the file's.
      const std::string data = "\n" + Text.substr(lineEnd + 1, begin - lineEnd - 1);
      TVekData parsed = ParseDataText(data, Name, fence[0] == '-' ? ".yaml" : ".toml");
      if (parsed.is_null()) parsed = TVekData::object();
      if (!parsed.is_object())
        throw std::runtime_error(Name + ":2:1: front matter must be a mapping of names to values");
      fm.Present = true;
      fm.Data = std::move(parsed);
      fm.BodyOffset = last ? Text.size() : end + 1;
      fm.Lines = lines;
      return fm;
    }
    if (last) break;
    begin = end + 1;
  }
  throw std::runtime_error(Name + ":1:1: the front matter opened by \"" + fence +
                           "\" has no closing \"" + fence + "\" line");
}
