// The dependency graph of a site's outputs: keys of what each page was
// rendered from, and the global names its templates mention.
#include "site/BuildGraph.h"

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <string_view>

namespace {

uint64_t Mix(uint64_t H, uint64_t V) {
  // The finaliser of splitmix64 over the pair: order matters, collisions
  // are as unlikely as for any 64-bit hash.
  uint64_t x = H ^ (V + 0x9e3779b97f4a7c15ULL + (H << 6) + (H >> 2));
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
  return x ^ (x >> 31);
}

uint64_t HashText(std::string_view S) {
  return Mix(S.size(), std::hash<std::string_view>()(S));
}

bool NameByte(unsigned char C) {
  return std::isalnum(C) || C == '_' || C == '-' || C >= 128;
}

}  // namespace

uint64_t VekHashData(const TVekData& Value) {
  uint64_t h = 0x51ed27;
  std::vector<const TVekData*> todo{&Value};
  while (!todo.empty()) {
    const TVekData& v = *todo.back();
    todo.pop_back();
    h = Mix(h, static_cast<uint64_t>(v.type()));
    switch (v.type()) {
      case TVekData::value_t::object:
        h = Mix(h, v.size());
        // Pushed in reverse, so that members are hashed in their order.
        for (auto it = v.crbegin(); it != v.crend(); ++it) todo.push_back(&*it);
        for (auto it = v.cbegin(); it != v.cend(); ++it) h = Mix(h, HashText(it.key()));
        break;
      case TVekData::value_t::array:
        h = Mix(h, v.size());
        for (auto it = v.crbegin(); it != v.crend(); ++it) todo.push_back(&*it);
        break;
      case TVekData::value_t::string:
        h = Mix(h, HashText(v.get_ref<const std::string&>()));
        break;
      case TVekData::value_t::binary: {
        const auto& b = v.get_binary();
        h = Mix(h, HashText(std::string_view(reinterpret_cast<const char*>(b.data()), b.size())));
        break;
      }
      default:
        h = Mix(h, HashText(v.dump()));
        break;
    }
  }
  return h;
}

uint64_t VekHashPageData(const TVekData& Data, const TVekData* Listed) {
  const uint64_t h = VekHashData(Data);
  return Listed ? Mix(h, VekHashData(*Listed)) : h;
}

std::vector<std::string> VekNamedGlobals(const std::string& Text) {
  std::vector<std::string> names;
  const size_t n = Text.size();
  size_t i = 0;
  while (i < n) {
    const unsigned char c = static_cast<unsigned char>(Text[i]);
    if (!NameByte(c) ||
        (i > 0 && (NameByte(static_cast<unsigned char>(Text[i - 1])) || Text[i - 1] == '.'))) {
      ++i;
      continue;
    }
    // A chain of names joined by dots, read once: the scan is linear.
    std::vector<std::string_view> parts;
    size_t j = i;
    for (;;) {
      const size_t from = j;
      while (j < n && NameByte(static_cast<unsigned char>(Text[j]))) ++j;
      parts.emplace_back(Text.data() + from, j - from);
      if (j + 1 < n && Text[j] == '.' && NameByte(static_cast<unsigned char>(Text[j + 1]))) {
        ++j;
        continue;
      }
      break;
    }
    i = j;
    std::string path;
    for (size_t k = 0; k < parts.size() && k < 3; ++k) {
      const size_t dash = parts[k].find('-');
      if (dash != std::string_view::npos) {
        // "count-1" may be a name or count less one: both are depended on.
        names.push_back(path + (k > 0 ? "." : "") + std::string(parts[k].substr(0, dash)));
      }
      if (k > 0) path += '.';
      path += std::string(parts[k]);
    }
    names.push_back(path);
  }
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  // A name whose parent is named too adds nothing to a key.
  std::vector<std::string> kept;
  for (const auto& name : names) {
    if (!kept.empty() && name.size() > kept.back().size() &&
        name.compare(0, kept.back().size(), kept.back()) == 0 && name[kept.back().size()] == '.')
      continue;
    kept.push_back(name);
  }
  return kept;
}

void TBuildGraph::Begin(const TVekData& Globals, int64_t StartNs) {
  std::lock_guard<std::mutex> lock(FMutex);
  FGlobals = &Globals;
  FStartNs = StartNs;
  FGlobalHashes.clear();
  FStamps.clear();
  FNextPages.clear();
  FNextCopies.clear();
  Written.clear();
}

void TBuildGraph::Finish() {
  std::lock_guard<std::mutex> lock(FMutex);
  FPages.swap(FNextPages);
  FCopies.swap(FNextCopies);
  FNextPages.clear();
  FNextCopies.clear();
  FGlobalHashes.clear();
  FStamps.clear();
  FGlobals = nullptr;
  // Scans of files no page read any more are dropped.
  std::unordered_map<std::string, bool> used;
  for (const auto& p : FPages)
    for (const auto& f : p.second.Files) used[f] = true;
  for (auto it = FScans.begin(); it != FScans.end();)
    it = used.count(it->first) ? std::next(it) : FScans.erase(it);
  std::sort(Written.begin(), Written.end());
  ++Builds;
}

TVekFileStamp TBuildGraph::Trusted(TVekFileStamp Stamp) const {
  return Stamp.ModifiedNs >= FStartNs - 1000000000LL ? kUntrustedStamp : Stamp;
}

uint64_t TBuildGraph::GlobalHash(const std::string& Path) {
  {
    std::lock_guard<std::mutex> lock(FMutex);
    const auto it = FGlobalHashes.find(Path);
    if (it != FGlobalHashes.end()) return it->second;
  }
  const TVekData* v = FGlobals;
  size_t from = 0;
  while (v && from <= Path.size()) {
    const size_t dot = std::min(Path.find('.', from), Path.size());
    if (!v->is_object()) {
      v = nullptr;
      break;
    }
    const auto it = v->find(Path.substr(from, dot - from));
    v = it == v->end() ? nullptr : &*it;
    from = dot + 1;
  }
  const uint64_t h = v ? VekHashData(*v) : 0x0b5e47;
  std::lock_guard<std::mutex> lock(FMutex);
  FGlobalHashes.emplace(Path, h);
  return h;
}

std::vector<std::string> TBuildGraph::FileNames(const TVekTemplateRoot& Root,
                                                const std::string& File,
                                                const TVekFileStamp& Stamp) {
  {
    std::lock_guard<std::mutex> lock(FMutex);
    const auto it = FScans.find(File);
    if (it != FScans.end() && it->second.first == Stamp) return it->second.second;
  }
  std::vector<std::string> names = VekNamedGlobals(Root.Read(Root.Locate("", File)));
  std::lock_guard<std::mutex> lock(FMutex);
  FScans[File] = {Stamp, names};
  return names;
}

uint64_t TBuildGraph::Key(const TSitePage& Page, const TEntry& E) {
  uint64_t h = Mix(HashText(Page.Source), HashText(Page.Output));
  h = Mix(h, HashText(Page.Text));
  h = Mix(h, Page.DataHash ? Page.DataHash
             : Page.Data   ? VekHashPageData(*Page.Data, Page.Listed)
                           : 0);
  for (const auto& name : E.Names) h = Mix(Mix(h, HashText(name)), GlobalHash(name));
  return h;
}

bool TBuildGraph::CurrentStamp(const TVekTemplateRoot& Root, const std::string& Name,
                               TVekFileStamp& Stamp) {
  {
    std::lock_guard<std::mutex> lock(FMutex);
    const auto it = FStamps.find(Name);
    if (it != FStamps.end()) {
      Stamp = it->second.second;
      return it->second.first;
    }
  }
  bool found = true;
  try {
    Stamp = Root.Stamp(Root.Locate("", Name));
  } catch (const std::exception&) {
    found = false;
  }
  std::lock_guard<std::mutex> lock(FMutex);
  FStamps[Name] = {found, Stamp};
  return found;
}

bool TBuildGraph::Unchanged(const TVekTemplateRoot& Root, const TSitePage& Page) {
  // FPages keeps its shape until Finish; each output is looked at by one
  // thread, which alone may move its entry on.
  const auto it = FPages.find(Page.Output);
  if (it == FPages.end() || it->second.Source != Page.Source) return false;
  TEntry& e = it->second;
  for (size_t i = 0; i < e.Files.size(); ++i) {
    TVekFileStamp stamp;
    if (!CurrentStamp(Root, e.Files[i], stamp) || !(stamp == e.Stamps[i])) return false;
  }
  if (Key(Page, e) != e.Key) return false;
  std::lock_guard<std::mutex> lock(FMutex);
  FNextPages[Page.Output] = std::move(e);
  return true;
}

void TBuildGraph::Rendered(const TVekTemplateRoot& Root, const TSitePage& Page,
                           const std::vector<AnsiString>& FilesRead) {
  TEntry e;
  e.Source = Page.Source;
  e.Names = VekNamedGlobals(Page.Text);
  std::vector<std::string> files(FilesRead.begin(), FilesRead.end());
  std::sort(files.begin(), files.end());
  files.erase(std::unique(files.begin(), files.end()), files.end());
  try {
    for (const auto& f : files) {
      TVekFileStamp stamp;
      if (!CurrentStamp(Root, f, stamp)) throw std::runtime_error("gone");
      const std::vector<std::string> names = FileNames(Root, f, stamp);
      e.Names.insert(e.Names.end(), names.begin(), names.end());
      e.Files.push_back(f);
      e.Stamps.push_back(Trusted(stamp));
    }
  } catch (const std::exception&) {
    // A file gone since the render read it: the page is rendered next time.
    std::lock_guard<std::mutex> lock(FMutex);
    Written.push_back(Page.Output);
    return;
  }
  std::sort(e.Names.begin(), e.Names.end());
  e.Names.erase(std::unique(e.Names.begin(), e.Names.end()), e.Names.end());
  e.Key = Key(Page, e);
  std::lock_guard<std::mutex> lock(FMutex);
  Written.push_back(Page.Output);
  FNextPages[Page.Output] = std::move(e);
}

bool TBuildGraph::CopyUnchanged(const std::string& Name, const TVekFileStamp& Stamp) {
  std::lock_guard<std::mutex> lock(FMutex);
  const auto it = FCopies.find(Name);
  if (it == FCopies.end() || !(it->second == Stamp)) return false;
  FNextCopies[Name] = Stamp;
  return true;
}

void TBuildGraph::Copied(const std::string& Name, const TVekFileStamp& Stamp) {
  std::lock_guard<std::mutex> lock(FMutex);
  Written.push_back(Name);
  FNextCopies[Name] = Trusted(Stamp);
}
