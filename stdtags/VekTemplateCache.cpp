// TVekTemplateCache: parsed templates kept by file, delimiters and starting
// HTML state, and parsed again when the file's stamp changes.
#include <mutex>
#include <unordered_map>

#include "VekExtensions.h"
#include "VekStdTags.h"
#include "VekTemplate.h"

namespace {
const size_t kMaxEntries = 4096;
}

struct TVekTemplateCache::TImpl {
  struct TEntry {
    TVekFileStamp Stamp;
    std::shared_ptr<const vekstd::TTemplate> Template;
  };
  std::mutex Mutex;
  std::unordered_map<std::string, TEntry> Entries;
  unsigned long long Parses = 0;
};

TVekTemplateCache::TVekTemplateCache() : FImpl(std::make_unique<TImpl>()) {}
TVekTemplateCache::~TVekTemplateCache() = default;

std::shared_ptr<const vekstd::TTemplate> TVekTemplateCache::Get(
    const TVekTemplateRoot& Root, const TVekTemplateFile& File, const AnsiString& Beg,
    const AnsiString& End, const vekstd::THtmlState& Start, const TVekExtensions* Extensions) {
  std::string key = File.Path.string();
  for (const std::string* part : {&File.Name, &Beg, &End}) {
    key += '\0';
    key += std::to_string(part->size()) + ":" + *part;
  }
  key += '\0';
  key += Start.Key();
  // The names of the application's tags and modifiers change the parse.
  if (Extensions) {
    key += '\0';
    key += Extensions->Key();
  }
  const TVekFileStamp stamp = Root.Stamp(File);
  {
    std::lock_guard<std::mutex> lock(FImpl->Mutex);
    const auto it = FImpl->Entries.find(key);
    if (it != FImpl->Entries.end() && it->second.Stamp == stamp) return it->second.Template;
  }
  // Read and parsed outside the lock: another thread may do the same at the
  // same time, and the last one stays. A change between the stamp and the
  // read is seen at the next call, since the stamp kept is the older one.
  auto parsed = vekstd::ParseTemplate(Root.Read(File), File.Name, Beg, End, Start, Extensions);
  std::lock_guard<std::mutex> lock(FImpl->Mutex);
  ++FImpl->Parses;
  if (FImpl->Entries.size() >= kMaxEntries) FImpl->Entries.clear();
  FImpl->Entries[key] = {stamp, parsed};
  return parsed;
}

unsigned long long TVekTemplateCache::Parses() const {
  std::lock_guard<std::mutex> lock(FImpl->Mutex);
  return FImpl->Parses;
}
