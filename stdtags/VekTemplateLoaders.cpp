// The ready loaders of templates: an in-memory map, and the application's
// callback.
#include <stdexcept>
#include <utility>

#include "VekTemplateLoader.h"

TVekTemplateLoader::~TVekTemplateLoader() = default;

namespace {

EVekPathError NotFound(const std::string& Name) {
  return EVekPathError(EVekPathError::pkNotFound, "\"" + Name + "\" not found in the templates");
}

// FNV-1a over the text: tells one version of a callback's text from another.
unsigned long long Hash(const std::string& Text) {
  unsigned long long h = 14695981039346656037ULL;
  for (unsigned char c : Text) {
    h ^= c;
    h *= 1099511628211ULL;
  }
  return h;
}

class TMemoryLoader : public TVekTemplateLoader {
 public:
  explicit TMemoryLoader(std::map<std::string, std::string> Templates)
      : FTemplates(std::move(Templates)) {}

  bool Find(const std::string& Name, TVekFileStamp& Stamp) const override {
    const auto it = FTemplates.find(Name);
    if (it == FTemplates.end()) return false;
    // The map never changes: the entry's place tells it apart.
    Stamp = {};
    Stamp.Inode = reinterpret_cast<unsigned long long>(&it->second);
    Stamp.Size = it->second.size();
    return true;
  }
  std::string Read(const std::string& Name) const override {
    const auto it = FTemplates.find(Name);
    if (it == FTemplates.end()) throw NotFound(Name);
    return it->second;
  }

 private:
  const std::map<std::string, std::string> FTemplates;
};

class TCallbackLoader : public TVekTemplateLoader {
 public:
  explicit TCallbackLoader(TVekTemplateSource Source) : FSource(std::move(Source)) {}

  bool Find(const std::string& Name, TVekFileStamp& Stamp) const override {
    std::string text;
    if (!FSource(Name, text)) return false;
    Stamp = {};
    Stamp.Inode = Hash(text);
    Stamp.Size = text.size();
    return true;
  }
  std::string Read(const std::string& Name) const override {
    std::string text;
    if (!FSource(Name, text)) throw NotFound(Name);
    return text;
  }

 private:
  const TVekTemplateSource FSource;
};

}  // namespace

TVekTemplateRoot VekMemoryTemplates(std::map<std::string, std::string> Templates) {
  return TVekTemplateRoot(std::make_shared<const TMemoryLoader>(std::move(Templates)));
}

TVekTemplateRoot VekCallbackTemplates(TVekTemplateSource Source) {
  if (!Source) throw std::invalid_argument("VekCallbackTemplates: no source");
  return TVekTemplateRoot(std::make_shared<const TCallbackLoader>(std::move(Source)));
}
