// Differential fuzzing of the expansion: the same template, delimiters and
// scripted handlers run through the component and through the plain model;
// the outputs, the handler calls and the tag fields afterwards must agree
// byte for byte. One input runs a sequence of expansions on one producer, so
// that texts come again (the component prepares them the second time and
// takes them from its cache after), HTMLDoc is expanded unchanged and
// changed, and delimiters, handlers and the cache's limits change between
// them as the handlers change HTMLDoc and delimiters during them.
//
// Input layout (every input is valid; missing bytes read as zeros):
//   flags     bit 0: the template is made of tokens (below), not raw bytes
//             bits 1-2: entry point: Execute, ContentFromString, Content of
//                       a one-line HTMLDoc, Execute of a one-line list
//             bit 3: no OnVekTag; bit 4: no OnVekPairTag
//             bit 5: delimiters given in the input, not from the palette
//   delims    palette index, or two strings of up to 3 bytes each
//   actions   count, then 4 bytes per action: text, state, effect, argument
//             (an effect from 224 on runs a loop through ExpandBody, which
//             the model runs through RetText)
//   pool      count, then short strings the actions refer to
//   steps     count (up to 7), then 2 bytes per step: operation, argument.
//             Bits 0-2: entry point (Execute, ContentFromString, SetHTMLDoc
//             and Content, Content of HTMLDoc as it is, Execute of a list,
//             ExecuteTo a stream, ContentTo a stream, HTMLResult); bit 3:
//             the text from the pool, not the template; bits 4-6: a change
//             first (none, delimiters, OnVekTag on/off, OnVekPairTag on/off,
//             the cache's limits, HTMLDoc's lines from the pool)
//   template  the rest
// The entry point of the flags runs first, then the steps.
// In token mode a byte below 32 stands for a piece of tag syntax (the
// delimiters, names, quotes, line breaks, NUL); other bytes are themselves.
#include <climits>
#include <cstdlib>
#include <exception>
#include <string>
#include <tuple>
#include <vector>

#include "FuzzSupport.h"
#include "VekModel.h"
#include "VekPgProd.h"

namespace {

using vekfuzz::Escape;
using vekfuzz::Expect;
using vekmodel::Params;

struct Action {
  std::uint8_t text = 0, state = 0, effect = 0, arg = 0;
};

struct Script {
  std::vector<Action> actions;
  std::vector<std::string> pool;
  std::string Pool(std::uint8_t i) const { return pool.empty() ? "" : pool[i % pool.size()]; }
};

// An exception a handler throws on purpose.
struct ScriptError {
  int code;
};

const int kStates[] = {0, 0, 1, 2, 2, 2, 7, -1, INT_MIN, INT_MAX, 3};

// One handler call as the handler saw it.
struct Record {
  bool fresh = true;
  int depth = 0;
  char kind = 'T';
  std::string name, inner, nameAfter;
  Params params, paramsAfter;
  bool operator==(const Record& o) const {
    return fresh == o.fresh && depth == o.depth && kind == o.kind && name == o.name &&
           inner == o.inner && nameAfter == o.nameAfter && params == o.params &&
           paramsAfter == o.paramsAfter;
  }
  std::string Show() const {
    return std::string(fresh ? "" : "(answers not reset) ") + std::to_string(depth) + kind + " " +
           Escape(name) + " " + Escape(params) + " " + Escape(inner) + " -> " + Escape(nameAfter) +
           " " + Escape(paramsAfter);
  }
};

// How a run ended.
struct Outcome {
  std::string output;  // of every expansion, each followed by its exception code
  int thrown = -1;     // the ScriptError's code of the last one, or -1
  std::vector<Record> log;
  std::string tagName, beg, end;
  Params tagParams;
};

// The component, as the script drives it.
struct ComponentSide {
  using List = TStringList;
  TVekPageProducer p{nullptr};

  static Params Lines(const TStrings* l) { return Params(l->begin(), l->end()); }
  static int Count(const TStrings* l) { return l->Count(); }
  static const std::string& Line(const TStrings* l, int i) { return l->Get(i); }
  static void Add(TStrings* l, const std::string& s) { l->Add(s); }
  static void Clear(TStrings* l) { l->Clear(); }
  static void DeleteFirst(TStrings* l) {
    if (l->Count() > 0) l->Delete(0);
  }

  std::string Execute(const std::string& d) { return p.Execute(d); }
  std::string FromString(const std::string& d) { return p.ContentFromString(d); }
  std::string ExecuteList(TStrings* l) { return p.Execute(l); }
  std::string FromStream(const std::string& bytes) {
    TStringStream s(bytes);
    return p.ContentFromStream(&s);
  }
  std::string Content() { return p.Content(); }
  // A loop: Doc prepared once and expanded Rows times into the page, before
  // the handler's answer; nothing comes back.
  std::string Loop(const std::string& Doc, int Rows) {
    const TVekBody body = p.PrepareBody(Doc);
    for (int i = 0; i < Rows; ++i) p.ExpandBody(body);
    return "";
  }
  std::string ExecuteTo(const std::string& d) {
    TStringStream out;
    p.ExecuteTo(d, &out);
    return out.DataString();
  }
  std::string ContentTo() {
    TStringStream out;
    p.ContentTo(&out);
    return out.DataString();
  }
  void SetLimits(unsigned entries, unsigned long long bytes) {
    p.SetPreparedTextLimits(entries, bytes);
  }
  Params HTMLResult() { return Lines(p.HTMLResult()); }
  void SetHTMLDoc(const Params& lines) {
    TStringList l;
    for (const auto& s : lines) l.Add(s);
    p.SetHTMLDoc(&l);
  }
  void Unbind(bool tag) {
    if (tag)
      p.SetOnVekTag(TVekTagEvent());
    else
      p.SetOnVekPairTag(TVekPairTagEvent());
  }
  bool Bound(bool tag) const { return tag ? bool(p.OnVekTag()) : bool(p.OnVekPairTag()); }
  void SetDelimiters(const std::string& b, const std::string& e) {
    p.SetVekTagBeg(b);
    p.SetVekTagEnd(e);
  }
  std::string Beg() const { return p.VekTagBeg(); }
  std::string End() const { return p.VekTagEnd(); }
  std::string TagName() const { return p.TagName(); }
  Params TagParams() const { return Lines(p.TagParams()); }

  template <class Runner>
  void Bind(Runner& r, bool tag, bool pair) {
    if (tag)
      p.SetOnVekTag([&r, this](TObject* sender, const AnsiString& name, TStrings* params,
                               AnsiString& text, int& state) {
        if (sender != &p) std::abort();
        r.Handle('T', name, params, nullptr, text, state);
      });
    if (pair)
      p.SetOnVekPairTag([&r, this](TObject* sender, const AnsiString& name, TStrings* params,
                                   const AnsiString& body, AnsiString& text, int& state) {
        if (sender != &p) std::abort();
        r.Handle('P', name, params, &body, text, state);
      });
  }
};

// The model, driven the same way.
struct ModelSide {
  using List = Params;
  vekmodel::Producer p;

  static Params Lines(const Params* l) { return *l; }
  static int Count(const Params* l) { return static_cast<int>(l->size()); }
  static const std::string& Line(const Params* l, int i) { return (*l)[static_cast<size_t>(i)]; }
  static void Add(Params* l, const std::string& s) { l->push_back(s); }
  static void Clear(Params* l) { l->clear(); }
  static void DeleteFirst(Params* l) {
    if (!l->empty()) l->erase(l->begin());
  }

  std::string Execute(const std::string& d) { return p.Execute(d); }
  std::string FromString(const std::string& d) { return p.ContentFromString(d); }
  std::string ExecuteList(Params* l) { return p.ExecuteLines(*l); }
  std::string FromStream(const std::string& bytes) { return p.ContentFromStream(bytes); }
  std::string Content() { return p.Content(); }
  // The same loop as RetText: Doc expanded Rows times, to go before the answer.
  std::string Loop(const std::string& Doc, int Rows) {
    std::string out;
    for (int i = 0; i < Rows; ++i) out += p.ContentFromString(Doc);
    return out;
  }
  std::string ExecuteTo(const std::string& d) { return p.Execute(d); }
  std::string ContentTo() { return p.Content(); }
  void SetLimits(unsigned, unsigned long long) {}  // the model keeps nothing
  Params HTMLResult() { return p.HTMLResult(); }
  void SetHTMLDoc(const Params& lines) { p.HTMLDoc = lines; }
  void Unbind(bool tag) {
    if (tag)
      p.OnVekTag = nullptr;
    else
      p.OnVekPairTag = nullptr;
  }
  bool Bound(bool tag) const { return tag ? bool(p.OnVekTag) : bool(p.OnVekPairTag); }
  void SetDelimiters(const std::string& b, const std::string& e) {
    p.VekTagBeg = b;
    p.VekTagEnd = e;
  }
  std::string Beg() const { return p.VekTagBeg; }
  std::string End() const { return p.VekTagEnd; }
  std::string TagName() const { return p.TagName; }
  Params TagParams() const { return p.TagParams; }

  template <class Runner>
  void Bind(Runner& r, bool tag, bool pair) {
    if (tag)
      p.OnVekTag = [&r, this](vekmodel::Producer& sender, const std::string& name, Params* params,
                              std::string& text, int& state) {
        if (&sender != &p) std::abort();
        r.Handle('T', name, params, nullptr, text, state);
      };
    if (pair)
      p.OnVekPairTag = [&r, this](vekmodel::Producer& sender, const std::string& name,
                                  Params* params, const std::string& body, std::string& text,
                                  int& state) {
        if (&sender != &p) std::abort();
        r.Handle('P', name, params, &body, text, state);
      };
  }
};

// Runs a script on one side. Both sides consume the actions in call order,
// so as long as they agree they take the same actions.
template <class Side>
class Runner {
 public:
  explicit Runner(const Script& S) : FScript(S) {}

  Side side;

  template <class L>
  void Handle(char kind, const std::string& name, L* params, const std::string* body,
              std::string& text, int& state) {
    Record rec;
    rec.fresh = text.empty() && state == 0;  // the answers start as "" and 0
    rec.depth = FDepth;
    rec.kind = kind;
    rec.name = name;
    rec.params = Side::Lines(params);
    if (body != nullptr) rec.inner = *body;
    FLog.push_back(rec);
    const size_t at = FLog.size() - 1;
    const Action a = Next();
    std::string before;  // what a loop wrote into the page, on the model's side
    std::string extra =
        a.effect >= 224 ? Loop(a.arg, name, params, body, before) : Effect(a, name, params, body);
    // name is the producer's own field: a nested expansion may have changed it.
    FLog[at].nameAfter = name;
    FLog[at].paramsAfter = Side::Lines(params);
    switch (a.text % 8) {
      case 0:
        text = "";
        break;
      case 1:
        text = FScript.Pool(a.arg);
        break;
      case 2:
        text = name;
        break;
      case 3:
        text = "(" + name + ")";
        break;
      case 4:
        text = side.Beg() + name + side.End();
        break;  // never scanned again
      case 5:
        for (int i = 0; i < Side::Count(params); ++i) text += Side::Line(params, i) + "|";
        break;
      case 6:
        text = body != nullptr ? *body : "-";
        break;
      default:
        text = std::string("\0z", 2);
        break;
    }
    text = before + text + extra;
    state = kStates[a.state % (sizeof kStates / sizeof *kStates)];
  }

  // One expansion through entry point Entry (see the input layout).
  void Step(int Entry, const std::string& Doc, Outcome& o) {
    FNested = 0;
    FCalls = 0;
    std::string out;
    o.thrown = -1;
    try {
      switch (Entry) {
        case 0:
          out = side.Execute(Doc);
          break;
        case 1:
          out = side.FromString(Doc);
          break;
        case 2:
          side.SetHTMLDoc({Doc});
          out = side.Content();
          break;
        case 3:
          out = side.Content();
          break;
        case 4: {
          typename Side::List list;
          Side::Add(&list, Doc);
          out = side.ExecuteList(&list);
          break;
        }
        case 5:
          out = side.ExecuteTo(Doc);
          break;
        case 6:
          out = side.ContentTo();
          break;
        default:
          for (const auto& line : side.HTMLResult()) out += line + "|";
          break;
      }
    } catch (const ScriptError& e) {
      o.thrown = e.code;
      out.clear();  // a stream keeps what was written before: not compared
    }
    o.output += out + "#" + std::to_string(o.thrown) + "\n";
  }

  // A change between two expansions (see the input layout).
  template <class BindFn>
  void Change(int What, std::uint8_t Arg, BindFn Bind) {
    switch (What) {
      case 3:
        SetDelimiters(Arg);
        break;
      case 4:
      case 5: {
        const bool tag = What == 4;
        if (side.Bound(tag))
          side.Unbind(tag);
        else
          Bind(tag);
        break;
      }
      case 6: {
        static const std::pair<unsigned, unsigned long long> limits[] = {
            {0, 0}, {16, 8u << 20}, {1, 64}, {2, 1u << 20}};
        side.SetLimits(limits[Arg % 4].first, limits[Arg % 4].second);
        break;
      }
      case 7:
        side.SetHTMLDoc({FScript.Pool(Arg), FScript.Pool(static_cast<std::uint8_t>(Arg + 1))});
        break;
      default:
        break;
    }
  }

  Outcome Finish(Outcome o) {
    o.log = FLog;
    o.tagName = side.TagName();
    o.tagParams = side.TagParams();
    o.beg = side.Beg();
    o.end = side.End();
    return o;
  }

 private:
  Action Next() {
    ++FCalls;
    if (FScript.actions.empty()) return Action{};
    return FScript.actions[FCursor++ % FScript.actions.size()];
  }

  // The action's side effect; returns text to add to the answer.
  template <class L>
  std::string Effect(const Action& a, const std::string& name, L* params, const std::string* body) {
    const int effect = a.effect % 32;
    if (effect < 10) return "";
    if (effect <= 17 || effect == 23) return Nested(effect, a.arg, name, params, body);
    switch (effect) {
      case 18:
        SetDelimiters(a.arg);
        break;
      case 19:
        Side::Add(params, FScript.Pool(a.arg));
        break;
      case 20:
        Side::Clear(params);
        break;
      case 21:
        Side::DeleteFirst(params);
        break;
      case 22:
        throw ScriptError{a.arg};
      case 24:
      case 25:
      case 26:
      case 27:
        // New delimiters first, so that the name or a parameter, which
        // cannot hold a whole tag of the delimiters it was read with, may
        // hold one of the new ones.
        SetDelimiters(static_cast<std::uint8_t>(a.arg >> 3));
        return Nested(10 + a.arg % 8, a.arg, name, params, body);
      default:
        side.SetHTMLDoc({FScript.Pool(a.arg), FScript.Pool(static_cast<std::uint8_t>(a.arg + 1))});
        break;
    }
    return "";
  }

  // A loop over rows through the producer's own page (see Side::Loop), on
  // the pair's body, a pool string, the producer's TagName or a parameter.
  template <class L>
  std::string Loop(std::uint8_t arg, const std::string& name, L* params, const std::string* body,
                   std::string& before) {
    if (FDepth >= 3 || FNested >= 16 || FCalls > 1000) return "";
    ++FNested;
    ++FDepth;
    struct Leave {
      int& d;
      ~Leave() { --d; }
    } leave{FDepth};
    std::string doc;  // copied: the rows overwrite the name and parameters
    switch (arg % 4) {
      case 0:
        doc = body != nullptr ? *body : FScript.Pool(arg >> 2);
        break;
      case 1:
        doc = FScript.Pool(arg >> 2);
        break;
      case 2:
        doc = name;
        break;
      default:
        if (Side::Count(params) > 0) doc = Side::Line(params, (arg >> 2) % Side::Count(params));
        break;
    }
    before = side.Loop(doc, 1 + (arg >> 4) % 3);
    return "";
  }

  void SetDelimiters(std::uint8_t i) {
    const auto& d = vekfuzz::DelimiterPalette();
    side.SetDelimiters(d[i % d.size()].first, d[i % d.size()].second);
  }

  // A nested expansion through the same producer, within limits.
  template <class L>
  std::string Nested(int kind, std::uint8_t arg, const std::string& name, L* params,
                     const std::string* body) {
    if (FDepth >= 3 || FNested >= 16 || FCalls > 1000) return "";
    ++FNested;
    ++FDepth;
    struct Leave {
      int& d;
      ~Leave() { --d; }
    } leave{FDepth};
    std::string out;
    switch (kind) {
      case 10:
        out = side.Execute(FScript.Pool(arg));
        break;
      case 11:
        out = side.FromString(name);
        break;  // the producer's own TagName
      case 12:  // one of the producer's own TagParams lines
        if (Side::Count(params) > 0)
          out = side.Execute(Side::Line(params, arg % Side::Count(params)));
        break;
      case 13:
        out = side.ExecuteList(params);
        break;
      case 14:
        out = side.FromString(body != nullptr ? *body : FScript.Pool(arg));
        break;
      case 15:
        out = side.FromStream(FScript.Pool(arg));
        break;
      case 16:
        out = side.Content();
        break;
      case 17:
        for (const auto& line : side.HTMLResult()) out += line + "|";
        break;
      default:
        try {
          out = side.FromString(FScript.Pool(arg));
        } catch (const ScriptError&) {
          out = "!";
        }
        break;
    }
    return "{" + out + "}";
  }

  const Script& FScript;
  std::vector<Record> FLog;
  size_t FCursor = 0, FCalls = 0;
  int FDepth = 0, FNested = 0;
};

std::string Template(const std::string& raw, bool tokens, const std::string& beg,
                     const std::string& end) {
  if (!tokens) return raw;
  const std::string pieces[32] = {beg,
                                  end,
                                  "/",
                                  "x",
                                  "X",
                                  "y",
                                  " ",
                                  "'",
                                  "\"",
                                  "=",
                                  "\r\n",
                                  "\t",
                                  "\n",
                                  "\r",
                                  std::string("\0", 1),
                                  beg + "x" + end,
                                  beg + "/x" + end,
                                  beg + "/X" + end,
                                  "<#",
                                  "#>",
                                  "\xd0\xbf",
                                  "\xd0\x9f",
                                  beg + end,
                                  beg + "/" + end,
                                  beg + "y" + end,
                                  beg + "/y" + end,
                                  "\x01",
                                  "\xff",
                                  beg + " / x" + end,
                                  beg + "x a='",
                                  "' " + end,
                                  beg + "/\xd0\x9f" + end};
  std::string doc;
  for (unsigned char c : raw) doc += c < 32 ? pieces[c] : std::string(1, static_cast<char>(c));
  return doc;
}

void Compare(const Outcome& c, const Outcome& m) {
  Expect("output", c.output, m.output);
  if (c.thrown != m.thrown)
    vekfuzz::Mismatch("exception", std::to_string(c.thrown), std::to_string(m.thrown));
  for (size_t i = 0; i < c.log.size() || i < m.log.size(); ++i) {
    const std::string cs = i < c.log.size() ? c.log[i].Show() : "(none)";
    const std::string ms = i < m.log.size() ? m.log[i].Show() : "(none)";
    if (cs != ms) vekfuzz::Mismatch("handler call " + std::to_string(i), cs, ms);
    if (!c.log[i].fresh) vekfuzz::Mismatch("answers on entry to call " + std::to_string(i), cs, ms);
  }
  Expect("TagName", c.tagName, m.tagName);
  Expect("TagParams", c.tagParams, m.tagParams);
  Expect("VekTagBeg", c.beg, m.beg);
  Expect("VekTagEnd", c.end, m.end);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Pair names fold by the locale: exercise the UTF-8 rules unless the
  // caller chose a locale.
  setenv("LC_ALL", "C.UTF-8", 0);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  vekfuzz::Input in(Data, Size);
  const std::uint8_t flags = in.Byte();
  std::string beg, end;
  std::tie(beg, end) = vekfuzz::ReadDelimiters(in, (flags & 0x20) != 0);
  Script script;
  for (int n = in.Byte() % 33; n > 0; --n) {
    Action a;
    a.text = in.Byte();
    a.state = in.Byte();
    a.effect = in.Byte();
    a.arg = in.Byte();
    script.actions.push_back(a);
  }
  for (int n = in.Byte() % 5; n > 0; --n) script.pool.push_back(in.Short(12));
  struct StepOp {
    std::uint8_t op, arg;
  };
  std::vector<StepOp> steps;
  for (int n = in.Byte() % 8; n > 0; --n) {
    const std::uint8_t op = in.Byte();
    steps.push_back({op, in.Byte()});
  }
  const std::string doc = Template(in.Rest(), flags & 1, beg, end);
  const int entry = (flags >> 1) & 3;
  const bool tag = !(flags & 8), pair = !(flags & 16);

  Runner<ComponentSide> component(script);
  Runner<ModelSide> model(script);
  component.side.Bind(component, tag, pair);
  model.side.Bind(model, tag, pair);
  component.side.SetDelimiters(beg, end);
  model.side.SetDelimiters(beg, end);
  Outcome co, mo;
  // The flags' entry point, as Step numbers them.
  static const int kFirst[] = {0, 1, 2, 4};
  component.Step(kFirst[entry], doc, co);
  model.Step(kFirst[entry], doc, mo);
  for (const StepOp& s : steps) {
    const std::string text = s.op & 8 ? script.Pool(s.arg) : doc;
    const int what = (s.op >> 4) & 7;
    component.Change(what, s.arg, [&](bool t) { component.side.Bind(component, t, !t); });
    model.Change(what, s.arg, [&](bool t) { model.side.Bind(model, t, !t); });
    component.Step(s.op & 7, text, co);
    model.Step(s.op & 7, text, mo);
  }
  const Outcome c = component.Finish(co), m = model.Finish(mo);
  if (std::getenv("VEK_FUZZ_VERBOSE") != nullptr) {
    std::fprintf(stderr, "template %s with %s %s\noutput %s thrown %d\n", Escape(doc).c_str(),
                 Escape(beg).c_str(), Escape(end).c_str(), Escape(c.output).c_str(), c.thrown);
    for (const Record& r : c.log) std::fprintf(stderr, "  %s\n", r.Show().c_str());
  }
  Compare(c, m);
  return 0;
}
