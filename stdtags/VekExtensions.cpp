// TVekExtensions: the application's modifiers and tags by name, the names
// checked against the standard ones; and what a tag's handler is given.
#include "VekExtensions.h"

#include <stdexcept>

#include "RenderScopes.h"

namespace {

const char* const kStandardModifiers[] = {
    "default", "upper",  "lower", "capitalize", "trim", "truncate", "replace", "join",
    "length",  "number", "group", "point",      "date", "raw",      "html",    "attr",
    "url",     "js",     "css",   "json",       "and",  "or",       "not",     "in"};
const char* const kStandardTags[] = {"each",    "if",      "elif",  "else",  "unless",  "set",
                                     "include", "extends", "block", "super", "verbatim"};

// A word the tokenizer reads whole, whatever operators expressions gain: a
// letter, then letters, digits and _.
void CheckName(const std::string& Kind, const std::string& Name) {
  auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  bool ok = !Name.empty() && letter(Name[0]);
  for (char c : Name) {
    if (!letter(c) && !(c >= '0' && c <= '9') && c != '_') ok = false;
  }
  if (!ok) {
    throw std::invalid_argument(Kind + " \"" + Name +
                                "\": a name is a letter, then letters, digits and _");
  }
}

}  // namespace

void TVekExtensions::AddModifier(const std::string& Name, TVekModifier Function) {
  CheckName("modifier", Name);
  for (const char* s : kStandardModifiers) {
    if (Name == s) throw std::invalid_argument("modifier \"" + Name + "\" is a standard one");
  }
  if (!Function) throw std::invalid_argument("modifier \"" + Name + "\": no function");
  FModifiers[Name] = std::move(Function);
  Rekey();
}

void TVekExtensions::AddTag(const std::string& Name, TVekTagHandler Handler) {
  CheckName("tag", Name);
  for (const char* s : kStandardTags) {
    if (Name == s) throw std::invalid_argument("tag \"" + Name + "\" is a standard one");
  }
  if (!Handler) throw std::invalid_argument("tag \"" + Name + "\": no handler");
  FTags[Name] = std::move(Handler);
  Rekey();
}

void TVekExtensions::AddFunction(const std::string& Name, TVekFunction Function) {
  CheckName("function", Name);
  for (const char* s : {"and", "or", "not", "in", "true", "false", "null"}) {
    if (Name == s)
      throw std::invalid_argument("function \"" + Name + "\" is a word of expressions");
  }
  if (!Function) throw std::invalid_argument("function \"" + Name + "\": no function");
  FFunctions[Name] = std::move(Function);
  Rekey();
}

const TVekModifier* TVekExtensions::Modifier(const std::string& Name) const {
  const auto it = FModifiers.find(Name);
  return it == FModifiers.end() ? nullptr : &it->second;
}

const TVekTagHandler* TVekExtensions::Tag(const std::string& Name) const {
  const auto it = FTags.find(Name);
  return it == FTags.end() ? nullptr : &it->second;
}

const TVekFunction* TVekExtensions::Function(const std::string& Name) const {
  const auto it = FFunctions.find(Name);
  return it == FFunctions.end() ? nullptr : &it->second;
}

std::vector<std::string> TVekExtensions::FunctionNames() const {
  std::vector<std::string> names;
  names.reserve(FFunctions.size());
  for (const auto& f : FFunctions) names.push_back(f.first);
  return names;
}

void TVekExtensions::Rekey() {
  // Names hold no blank: a blank parts them.
  FKey = "m";
  for (const auto& m : FModifiers) FKey += " " + m.first;
  FKey += " t";
  for (const auto& t : FTags) FKey += " " + t.first;
  FKey += " f";
  for (const auto& f : FFunctions) FKey += " " + f.first;
}

const TVekData& TVekArgs::operator[](size_t I) const {
  static const TVekData kNull;
  if (I >= FCount) {
    throw std::out_of_range("argument " + std::to_string(I + 1) + " asked of a call with " +
                            std::to_string(FCount));
  }
  return FArgs[I] ? *FArgs[I] : kNull;
}

std::string TVekTagCall::Param(const std::string& Key) const {
  for (const auto& p : FParams) {
    if (p.first == Key) return p.second;
  }
  return "";
}

const TVekData* TVekTagCall::Value(const std::string& Path) const {
  return static_cast<const vekstd::TScopes*>(FScopes)->Lookup(Path, FScratch);
}
