// Helpers shared by the tests: a producer with a scripted handler that
// records every call it gets.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "VekPgProd.h"

// One call of a handler as the tests see it.
struct Call {
  std::string name;
  std::vector<std::string> params;
  std::string inner;  // the body, for pair calls
  bool pair = false;
  bool operator==(const Call& o) const {
    return name == o.name && params == o.params && inner == o.inner && pair == o.pair;
  }
};

inline std::vector<std::string> Lines(const TStrings& list) {
  return std::vector<std::string>(list.begin(), list.end());
}

// Answers tags by name from two tables, and records the calls.
struct ScriptedProducer {
  TVekPageProducer producer{nullptr};
  std::map<std::string, std::string> text;  // name -> RetText
  std::map<std::string, int> state;         // name -> RetState
  // Pair answers: RetText = open + body + close, RetState = pairState.
  std::string pairOpen = "[", pairClose = "]";
  int pairState = rsContinue;
  std::vector<Call> calls;

  ScriptedProducer() {
    producer.SetOnVekTag([this](TObject* sender, const AnsiString& name, TStrings* params,
                                AnsiString& ret, int& st) {
      EXPECT_EQ(sender, &producer);
      calls.push_back({name, Lines(*params), "", false});
      if (auto it = text.find(name); it != text.end()) ret = it->second;
      if (auto it = state.find(name); it != state.end()) st = it->second;
    });
    producer.SetOnVekPairTag([this](TObject* sender, const AnsiString& name, TStrings* params,
                                    const AnsiString& inner, AnsiString& ret, int& st) {
      EXPECT_EQ(sender, &producer);
      calls.push_back({name, Lines(*params), inner, true});
      ret = pairOpen + inner + pairClose;
      st = pairState;
    });
  }
  std::string Run(const std::string& doc) { return producer.Execute(doc); }
};

// The expansion written plainly from the producer's public steps, with int
// positions and no index: what Execute must match byte for byte.
inline std::string NaiveExecute(TVekPageProducer& p, const std::string& doc) {
  if (p.VekTagBeg().empty() || p.VekTagEnd().empty() || doc.empty()) return "";
  std::string out;
  int pos = 0;
  const int len = static_cast<int>(doc.size());
  AnsiString name;
  TStringList params;
  while (pos < len) {
    AnsiString tag;
    if (!p.ExtractNextTag(doc.c_str(), pos, &out, &tag)) break;
    TVekPageProducer::ExtractTagParams(tag, name, &params);
    AnsiString ret;
    int state = rsContinue;
    if (p.OnVekTag()) p.OnVekTag()(&p, name, &params, ret, state);
    out += ret;
    if (state == rsStop) break;
    if (state != rsPairTag) continue;
    AnsiString body;
    p.ExtractInnerText(name, doc.c_str(), pos, body);
    if (body.empty()) continue;
    ret.clear();
    state = rsContinue;
    if (p.OnVekPairTag()) p.OnVekPairTag()(&p, name, &params, body, ret, state);
    out += ret;
    if (state == rsStop) break;
  }
  return out;
}
