// YAML data: yaml-cpp's parser events feeding the one-pass builder, with
// aliases bounded and flow brackets counted before the parser runs.
#include <yaml-cpp/depthguard.h>
#include <yaml-cpp/eventhandler.h>
#include <yaml-cpp/exceptions.h>
#include <yaml-cpp/mark.h>
#include <yaml-cpp/parser.h>

#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "data/DataBuilder.h"

namespace vekdata {
namespace {

// A plain YAML scalar as the value YAML's core schema gives it.
json YamlScalar(const std::string& Tag, const std::string& S) {
  if (Tag != "?") return S;  // quoted, or tagged: a string
  if (S.empty() || S == "~" || S == "null" || S == "Null" || S == "NULL") return nullptr;
  if (S == "true" || S == "True" || S == "TRUE") return true;
  if (S == "false" || S == "False" || S == "FALSE") return false;
  const char c = S[0];
  if (c == '-' || c == '+' || (c >= '0' && c <= '9') || c == '.') {
    json n = json::parse(S[0] == '+' ? S.substr(1) : S, nullptr, false);
    if (!n.is_discarded() && n.is_number()) return n;
  }
  return S;
}

// YAML: yaml-cpp's parser events (its parser recurses once per level of
// nesting: the level past the limit throws before it goes deeper) feed the
// builder. Aliases copy their anchor's value; every value made, copies
// included, counts against a budget proportional to the text.
class TYamlEvents : public YAML::EventHandler {
 public:
  TYamlEvents(const std::string& Name, size_t Budget) : FName(Name), FBudget(Budget) {}
  TDataBuilder Builder;

  void OnDocumentStart(const YAML::Mark&) override {}
  void OnDocumentEnd() override {}
  void OnNull(const YAML::Mark& M, YAML::anchor_t A) override {
    Anchor(A, nullptr, nullptr);
    if (TakeKey(M, nullptr)) return;
    Value(M, nullptr);
  }
  void OnAlias(const YAML::Mark& M, YAML::anchor_t A) override {
    const auto found = FAnchors.find(A);
    if (found == FAnchors.end()) throw At(M, "an alias of a node that holds it");
    if (TakeKey(M, found->second.Text.get())) return;
    Made(M, found->second.Values);
    Builder.Add(found->second.Value);
    AfterValue();
  }
  void OnScalar(const YAML::Mark& M, const std::string& Tag, YAML::anchor_t A,
                const std::string& S) override {
    json v = YamlScalar(Tag, S);
    Anchor(A, v, &S);
    if (TakeKey(M, &S)) return;
    Value(M, std::move(v));
  }
  void OnSequenceStart(const YAML::Mark& M, const std::string&, YAML::anchor_t A,
                       YAML::EmitterStyle::value) override {
    Open(M, false, A);
  }
  void OnSequenceEnd() override { Close(); }
  void OnMapStart(const YAML::Mark& M, const std::string&, YAML::anchor_t A,
                  YAML::EmitterStyle::value) override {
    Open(M, true, A);
  }
  void OnMapEnd() override { Close(); }

 private:
  struct TAnchor {
    json Value;
    size_t Values;                      // in Value
    std::unique_ptr<std::string> Text;  // a scalar's text, for an alias as a key
  };
  struct TLevel {
    YAML::anchor_t Anchor;
    size_t MadeAtOpen;
    bool WantKey;  // objects: the next event is a key
  };

  std::runtime_error At(const YAML::Mark& M, const std::string& Message) const {
    return FaultAt(FName, static_cast<size_t>(M.line) + 1, static_cast<size_t>(M.column) + 1,
                   Message);
  }
  void Made(const YAML::Mark& M, size_t N) {
    FMade += N;
    if (FMade > FBudget)
      throw At(M, "the data expands to more than " + std::to_string(FBudget) +
                      " values (aliases that repeat themselves?)");
  }
  // When an object waits for a key, Text (a scalar's) is that key.
  bool TakeKey(const YAML::Mark& M, const std::string* Text) {
    if (FLevels.empty() || !FLevels.back().WantKey) return false;
    if (!Text) throw At(M, "a key that is not a plain value");
    Builder.Key(*Text);
    FLevels.back().WantKey = false;
    return true;
  }
  void AfterValue() {
    if (!FLevels.empty() && Builder.InObject()) FLevels.back().WantKey = true;
  }
  // A scalar's anchor: its value, and its text for an alias as a key.
  void Anchor(YAML::anchor_t A, const json& V, const std::string* Text) {
    if (A != YAML::NullAnchor)
      FAnchors[A] = {V, 1, Text ? std::make_unique<std::string>(*Text) : nullptr};
  }
  void Value(const YAML::Mark& M, json V) {
    Made(M, 1);
    Builder.Add(std::move(V));
    AfterValue();
  }
  void Open(const YAML::Mark& M, bool Object, YAML::anchor_t A) {
    if (!FLevels.empty() && FLevels.back().WantKey) throw At(M, "a key that is not a plain value");
    if (Builder.Depth() >= kMaxDataNesting) throw At(M, kTooDeep);
    Made(M, 1);
    Builder.Open(Object);
    FLevels.push_back({A, FMade - 1, Object});
  }
  void Close() {
    const TLevel level = FLevels.back();
    FLevels.pop_back();
    const json& closed = Builder.Close();
    if (level.Anchor != YAML::NullAnchor) {
      const size_t values = FMade - level.MadeAtOpen;
      Made(YAML::Mark(), values);  // the copy kept for aliases
      FAnchors[level.Anchor] = {closed, values, nullptr};
    }
    AfterValue();
  }

  const std::string& FName;
  const size_t FBudget;
  size_t FMade = 0;
  std::vector<TLevel> FLevels;
  std::unordered_map<YAML::anchor_t, TAnchor> FAnchors;
};

// The offset where the flow brackets of a YAML text nest deeper than
// Limit, or npos. yaml-cpp's scanner holds every token of nested flow
// collections until their keys are resolved (hundreds of bytes a bracket),
// so deep ones are refused before it runs. A quote opens a string only
// where a node starts and '#' a comment only after a blank, as in YAML, so
// that plain text (don't, a#b) hides no bracket: the count may come out
// too high (brackets in block scalars), never too low.
size_t YamlTooDeep(const std::string& Text, int Limit) {
  const auto blank = [&](size_t I) {
    return I >= Text.size() || Text[I] == ' ' || Text[I] == '\t' || Text[I] == '\r' ||
           Text[I] == '\n';
  };
  int depth = 0;
  bool nodeStart = true;
  for (size_t i = 0; i < Text.size(); ++i) {
    const char c = Text[i];
    if (c == '\n') {
      nodeStart = true;
    } else if (c == ' ' || c == '\t' || c == '\r') {
      continue;
    } else if (c == '#' && (i == 0 || blank(i - 1))) {
      while (i + 1 < Text.size() && Text[i + 1] != '\n') ++i;
    } else if ((c == '"' || c == '\'') && nodeStart) {
      for (++i; i < Text.size(); ++i) {
        if (c == '"' && Text[i] == '\\') {
          ++i;
        } else if (Text[i] == c) {
          if (c == '\'' && i + 1 < Text.size() && Text[i + 1] == '\'') {
            ++i;  // '' is a quote inside
          } else {
            break;
          }
        }
      }
      nodeStart = false;
    } else if (c == '[' || c == '{') {
      if (++depth > Limit) return i;
      nodeStart = true;
    } else if (c == ']' || c == '}') {
      if (depth > 0) --depth;
      nodeStart = false;
    } else {
      // An indicator starts a node: a comma, a colon before a blank, a dash
      // or question mark between blanks (or after a bracket or comma).
      const bool after =
          i == 0 || blank(i - 1) || Text[i - 1] == '[' || Text[i - 1] == '{' || Text[i - 1] == ',';
      nodeStart = c == ',' || (c == ':' && blank(i + 1)) ||
                  ((c == '-' || c == '?') && blank(i + 1) && after);
    }
  }
  return std::string::npos;
}

}  // namespace

// The first document of a YAML text; null for none.
json FromYaml(const std::string& Text, const std::string& Name) {
  const size_t deep = YamlTooDeep(Text, kMaxDataNesting);
  if (deep != std::string::npos) {
    const auto [line, column] = LineColumn(Text, deep);
    throw FaultAt(Name, line, column, kTooDeep);
  }
  TYamlEvents events(Name, Text.size() * 4 + 4096);
  try {
    std::istringstream in(Text);
    YAML::Parser parser(in);
    parser.HandleNextDocument(events);
  } catch (const YAML::DeepRecursion& e) {
    throw FaultAt(Name, static_cast<size_t>(e.mark.line) + 1,
                  static_cast<size_t>(e.mark.column) + 1,
                  "lists and objects nested deeper than the YAML parser allows");
  } catch (const YAML::Exception& e) {
    throw Fault(Name, e.what());
  }
  return events.Builder.Take();
}

}  // namespace vekdata
