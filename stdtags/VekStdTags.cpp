// TVekStdTags: the standard handlers. Bodies and included templates are
// expanded again through the same producer, so every handler copies the tag
// name, parameters and body it needs before expanding anything: a nested
// expansion overwrites the producer's TagName and TagParams.
#include <cctype>
#include <stdexcept>
#include <string>
#include <system_error>

#include "TagScan.h"
#include "VekStdTags.h"

using nlohmann::json;
namespace fs = std::filesystem;

namespace {

// Pops the last entry of a stack when the scope ends, also by an exception.
template <class V>
struct TPopGuard {
  V& stack;
  ~TPopGuard() { stack.pop_back(); }
};

bool Truthy(const json* V) {
  if (!V) return false;
  switch (V->type()) {
    case json::value_t::null:
      return false;
    case json::value_t::boolean:
      return V->get<bool>();
    case json::value_t::number_integer:
      return V->get<json::number_integer_t>() != 0;
    case json::value_t::number_unsigned:
      return V->get<json::number_unsigned_t>() != 0;
    case json::value_t::number_float:
      return V->get<json::number_float_t>() != 0;
    case json::value_t::string:
      return !V->get_ref<const json::string_t&>().empty();
    case json::value_t::array:
    case json::value_t::object:
      return !V->empty();
    default:
      return true;
  }
}

// One step down a path: a member of an object, or an element of a list by
// its decimal position.
const json* Step(const json* V, const std::string& Key) {
  if (V->is_object()) {
    const auto it = V->find(Key);
    return it == V->end() ? nullptr : &*it;
  }
  if (V->is_array() && !Key.empty() && Key.size() < 19 &&
      Key.find_first_not_of("0123456789") == std::string::npos) {
    const auto index = std::stoull(Key);
    return index < V->size() ? &(*V)[static_cast<size_t>(index)] : nullptr;
  }
  return nullptr;
}

}  // namespace

AnsiString VekHtmlEscape(const AnsiString& S) {
  AnsiString out;
  out.reserve(S.size());
  for (const char c : S) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

TVekStdTags::TVekStdTags(TVekPageProducer* Producer, const TVekTemplateRoot& Root,
                         std::shared_ptr<const json> Data, TVekStdTagsOptions Options)
    : FProducer(Producer), FRoot(Root), FData(std::move(Data)), FOptions(std::move(Options)) {
  if (!FProducer) throw std::invalid_argument("TVekStdTags: no producer");
  if (!FData) throw std::invalid_argument("TVekStdTags: no data");
  FProducer->SetVekTagBeg(FOptions.TagBeg);
  FProducer->SetVekTagEnd(FOptions.TagEnd);
  FProducer->SetOnVekTag([this](TObject*, const AnsiString& Name, TStrings* Params,
                                AnsiString& RetText,
                                int& RetState) { Tag(Name, Params, RetText, RetState); });
  FProducer->SetOnVekPairTag([this](TObject*, const AnsiString& Name, TStrings* Params,
                                    const AnsiString& Inner, AnsiString& RetText,
                                    int&) { PairTag(Name, Params, Inner, RetText); });
  FScopes.push_back({FData.get(), -1, 0});
}

TVekStdTags::~TVekStdTags() {
  FProducer->SetOnVekTag(nullptr);
  FProducer->SetOnVekPairTag(nullptr);
}

AnsiString TVekStdTags::Load(const AnsiString& Name) {
  const TVekTemplateFile file = FRoot.Locate("", Name);
  AnsiString text = FRoot.Read(file);
  if (FOptions.Strict) Check(text, file.Name);
  FIncludes.assign(1, TInclude{file.Name, file.Path});
  FScopes.resize(1);
  return text;
}

AnsiString TVekStdTags::Render(const AnsiString& Name) {
  return FProducer->ContentFromString(Load(Name));
}

AnsiString TVekStdTags::RenderText(const AnsiString& Text, const AnsiString& Name) {
  if (FOptions.Strict) Check(Text, Name);
  std::error_code ec;
  fs::path path = fs::weakly_canonical(FRoot.Dir() / Name, ec);
  FIncludes.assign(1, TInclude{Name, ec ? FRoot.Dir() / Name : path});
  FScopes.resize(1);
  return FProducer->ContentFromString(Text);
}

void TVekStdTags::Tag(const AnsiString& Name, TStrings* Params, AnsiString& RetText,
                      int& RetState) {
  if (vekstd::IsPairName(Name)) {
    RetState = rsPairTag;
  } else if (Name == "include") {
    // Copies: Include expands again. Parameters besides file are the inner
    // scope of the included template.
    const AnsiString ref = Params->Values("file");
    if (ref.empty()) Fail(FOptions.TagBeg + "include" + FOptions.TagEnd + " without file=\"...\"");
    json args = json::object();
    for (int i = 0; i < Params->Count(); ++i) {
      const AnsiString key = Params->Names(i);
      if (!key.empty() && key != "file") args[key] = Params->ValueFromIndex(i);
    }
    RetText = Include(ref, args);
  } else if (!Name.empty() && Name != "else" && Name[0] != '/') {
    // A value. Anything else (an empty tag, an else outside a condition, a
    // stray closing tag) outputs nothing; the strict check refuses it.
    RetText = Value(Name, Params->IndexOf("raw") >= 0);
  }
}

void TVekStdTags::PairTag(const AnsiString& TagName, TStrings* Params, const AnsiString& Inner,
                          AnsiString& RetText) {
  // Copies: the expansions below overwrite the producer's fields.
  const AnsiString name = TagName;
  const AnsiString path = Params->Count() > 0 ? Params->Get(0) : AnsiString();
  const AnsiString body = Inner;
  json scratch;
  const json* value = path.empty() ? nullptr : Require(path, scratch);

  if (name == "each") {
    if (!value || value->is_null()) return;
    if (!value->is_array()) {
      if (FOptions.Strict) Fail("\"" + path + "\" is not a list");
      return;
    }
    const long count = static_cast<long>(value->size());
    for (long i = 0; i < count; ++i) {
      FScopes.push_back({&(*value)[static_cast<size_t>(i)], i, count});
      TPopGuard<std::vector<TScope>> pop{FScopes};
      RetText += FProducer->ContentFromString(body);
    }
    return;
  }

  // if / unless, with an optional else.
  const bool yes = Truthy(value) == (name == "if");
  int elseBegin = 0, elseEnd = 0;
  AnsiString part = body;
  if (vekstd::FindElse(*FProducer, body, elseBegin, elseEnd)) {
    part = yes ? body.substr(0, static_cast<size_t>(elseBegin))
               : body.substr(static_cast<size_t>(elseEnd));
  } else if (!yes) {
    part.clear();
  }
  if (!part.empty()) RetText = FProducer->ContentFromString(part);
}

AnsiString TVekStdTags::Include(const AnsiString& Ref, const json& Args) {
  const AnsiString from = FIncludes.empty() ? AnsiString() : FIncludes.back().Name;
  TVekTemplateFile file;
  try {
    file = FRoot.Locate(from, Ref);
  } catch (const EVekPathError& e) {
    Fail(std::string("include: ") + e.what());
  }
  auto chain = [&] {
    std::string s;
    for (const auto& inc : FIncludes) s += inc.Name + " -> ";
    return s + file.Name;
  };
  for (const auto& inc : FIncludes) {
    if (inc.Path == file.Path) Fail("include cycle: " + chain());
  }
  if (static_cast<int>(FIncludes.size()) > FOptions.MaxIncludeDepth) {
    Fail("includes nested deeper than " + std::to_string(FOptions.MaxIncludeDepth) + ": " +
         chain());
  }
  AnsiString text;
  try {
    text = FRoot.Read(file);
  } catch (const EVekTemplateError& e) {
    Fail(std::string("include: ") + e.what());
  }
  if (FOptions.Strict) Check(text, file.Name);
  FIncludes.push_back({file.Name, file.Path});
  TPopGuard<std::vector<TInclude>> pop{FIncludes};
  if (Args.empty()) return FProducer->ContentFromString(text);
  FScopes.push_back({&Args, -1, 0});
  TPopGuard<std::vector<TScope>> popScope{FScopes};
  return FProducer->ContentFromString(text);
}

AnsiString TVekStdTags::Value(const AnsiString& Path, bool Raw) {
  json scratch;
  const json* v = Require(Path, scratch);
  if (!v) return "";
  AnsiString text;
  switch (v->type()) {
    case json::value_t::string:
      text = v->get_ref<const json::string_t&>();
      break;
    case json::value_t::boolean:
      text = v->get<bool>() ? "true" : "false";
      break;
    case json::value_t::number_integer:
    case json::value_t::number_unsigned:
    case json::value_t::number_float:
      text = v->dump();
      break;
    case json::value_t::array:
    case json::value_t::object:
      if (FOptions.Strict)
        Fail("\"" + Path + "\" is " + (v->is_array() ? "a list" : "an object") + ", not a value");
      return "";
    default:
      return "";
  }
  return Raw ? text : VekHtmlEscape(text);
}

const json* TVekStdTags::Lookup(const AnsiString& Path, json& Scratch) const {
  if (Path == ".") return FScopes.back().Value;
  if (Path == "@index" || Path == "@first" || Path == "@last") {
    for (auto it = FScopes.rbegin(); it != FScopes.rend(); ++it) {
      if (it->Index < 0) continue;
      if (Path == "@index") {
        Scratch = it->Index;
      } else {
        Scratch = Path == "@first" ? it->Index == 0 : it->Index == it->Count - 1;
      }
      return &Scratch;
    }
    return nullptr;
  }
  std::vector<std::string> keys;
  size_t start = 0;
  for (;;) {
    const size_t dot = Path.find('.', start);
    keys.push_back(Path.substr(start, dot == AnsiString::npos ? AnsiString::npos : dot - start));
    if (keys.back().empty()) return nullptr;
    if (dot == AnsiString::npos) break;
    start = dot + 1;
  }
  // The first name is looked up from the innermost scope outwards; the rest
  // of the path only below what it found.
  const json* v = nullptr;
  for (auto it = FScopes.rbegin(); it != FScopes.rend() && !v; ++it) {
    if (it->Value->is_object()) v = Step(it->Value, keys[0]);
  }
  for (size_t i = 1; v && i < keys.size(); ++i) v = Step(v, keys[i]);
  return v;
}

const json* TVekStdTags::Require(const AnsiString& Path, json& Scratch) const {
  const json* v = Lookup(Path, Scratch);
  if (!v && FOptions.Strict) Fail("no value \"" + Path + "\" in the data");
  return v;
}

void TVekStdTags::Check(const AnsiString& Text, const AnsiString& Name) const {
  const auto issues = VekCheckTemplate(Text, Name, &FRoot, FOptions.TagBeg, FOptions.TagEnd);
  if (issues.empty()) return;
  const auto& first = issues.front();
  std::string message = Name + ":" + std::to_string(first.Line) + ":" +
                        std::to_string(first.Column) + ": " + first.Message;
  if (issues.size() > 1) message += " (and " + std::to_string(issues.size() - 1) + " more)";
  throw EVekTemplateError(message);
}

void TVekStdTags::Fail(const AnsiString& Message) const {
  throw EVekTemplateError(Where() + ": " + Message);
}

AnsiString TVekStdTags::Where() const {
  if (FIncludes.empty()) return "template";
  AnsiString where = FIncludes.back().Name;
  if (FIncludes.size() > 1)
    where += " (included from " + FIncludes[FIncludes.size() - 2].Name + ")";
  return where;
}
