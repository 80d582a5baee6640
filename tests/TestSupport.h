// Helpers shared by the tests: a producer with a scripted handler that
// records every call it gets.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "VekModel.h"
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

  // The same expansion done by the model (tests/model), with the producer's
  // delimiters and the same tables; its calls are recorded alike.
  std::string RunModel(const std::string& doc) {
    vekmodel::Producer m;
    m.VekTagBeg = producer.VekTagBeg();
    m.VekTagEnd = producer.VekTagEnd();
    m.OnVekTag = [this](vekmodel::Producer&, const std::string& name, vekmodel::Params* params,
                        std::string& ret, int& st) {
      calls.push_back({name, *params, "", false});
      if (auto it = text.find(name); it != text.end()) ret = it->second;
      if (auto it = state.find(name); it != state.end()) st = it->second;
    };
    m.OnVekPairTag = [this](vekmodel::Producer&, const std::string& name, vekmodel::Params* params,
                            const std::string& inner, std::string& ret, int& st) {
      calls.push_back({name, *params, inner, true});
      ret = pairOpen + inner + pairClose;
      st = pairState;
    };
    return m.Execute(doc);
  }
};
