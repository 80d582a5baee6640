// vekpp's data loading on any text: JSON, YAML or TOML is either data
// within the limits or refused with a std::runtime_error naming the file;
// nothing else may escape, and nothing may crash, leak or overflow the
// stack. JSON is also checked against nlohmann's own parse: whatever one
// accepts the other gives the same, but for nesting past the limit.
//
// Input: one byte choosing the format (its value modulo 3: JSON, YAML,
// TOML; the seeds use 'j', 'y' and 't'), then the text.
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "FuzzSupport.h"
#include "data/DataFiles.h"

namespace {

[[noreturn]] void Fail(const char* What, const std::string& Detail) {
  std::fprintf(stderr, "data fuzz: %s: %s\n", What, Detail.c_str());
  std::abort();
}

int Depth(const TVekData& D) {
  int deepest = 0;
  std::vector<std::pair<const TVekData*, int>> stack{{&D, 1}};
  while (!stack.empty()) {
    const auto [v, depth] = stack.back();
    stack.pop_back();
    if (!v->is_structured()) continue;
    deepest = std::max(deepest, depth);
    for (const auto& e : *v) stack.push_back({&e, depth + 1});
  }
  return deepest;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  if (Size == 0) return 0;
  static const char* const kExt[] = {".json", ".yaml", ".toml"};
  const int format = Data[0] % 3;
  const std::string text(reinterpret_cast<const char*>(Data) + 1, Size - 1);
  const std::string name = std::string("fuzz") + kExt[format];
  bool ok = false;
  TVekData data;
  std::string error;
  try {
    data = ParseDataText(text, name, kExt[format]);
    ok = true;
  } catch (const std::runtime_error& e) {
    error = e.what();
    if (error.compare(0, name.size(), name) != 0)
      Fail("an error that does not name the file", error);
  } catch (const std::exception& e) {
    Fail("an exception other than std::runtime_error", e.what());
  }
  if (ok && Depth(data) > kMaxDataNesting) Fail("data nested past the limit", text);
  if (format == 0) {
    const TVekData reference = TVekData::parse(text, nullptr, false);
    if (ok && reference != data) Fail("JSON unlike nlohmann's parse", text);
    if (!ok && !reference.is_discarded() && error.find("nested deeper") == std::string::npos)
      Fail("JSON nlohmann parses refused", error);
  }
  return 0;
}
