#include "Engines.h"

#include <ctemplate/template.h>
#include <ctemplate/template_dictionary.h>

#include <kainjow/mustache.hpp>
#include <mstch/mstch.hpp>
#include <string_view>

#include "VekPgProd.h"

namespace bench {
namespace {

using namespace std::string_view_literals;

// ---- The producer --------------------------------------------------------------

// The application's values by name: a small open-addressing hash table, as an
// application that answers many tags would keep them.
class NameTable {
 public:
  explicit NameTable(const std::unordered_map<std::string, std::string>& values) {
    std::size_t size = 16;
    while (size < 2 * values.size()) size *= 2;
    FSlots.resize(size);
    for (const auto& [name, value] : values) {
      std::size_t i = Hash(name) & (size - 1);
      while (FSlots[i].used) i = (i + 1) & (size - 1);
      FSlots[i] = {true, name, value};
    }
  }
  // The value stored under Name, or null.
  const std::string* Find(const std::string& Name) const {
    const std::size_t mask = FSlots.size() - 1;
    for (std::size_t i = Hash(Name) & mask;; i = (i + 1) & mask) {
      const Slot& s = FSlots[i];
      if (!s.used) return nullptr;
      if (s.name == Name) return &s.value;
    }
  }

 private:
  struct Slot {
    bool used = false;
    std::string name, value;
  };
  static std::size_t Hash(const std::string& s) {  // FNV-1a
    std::size_t h = 14695981039346656037ull;
    for (const char c : s) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    return h ^ (h >> 29);
  }
  std::vector<Slot> FSlots;
};

// A stream that keeps nothing and counts what is written to it.
class CountingStream : public TStream {
 public:
  long long bytes = 0;
  std::int64_t Read(void*, std::int64_t) override { return 0; }
  std::int64_t Write(const void*, std::int64_t Count) override { return bytes += Count, Count; }
  std::int64_t Seek(std::int64_t, TSeekOrigin) override { return bytes; }
};

// What a benchmark's application would write: handlers that look values up,
// format parameters, or loop over rows by expanding a pair's body again.
//
// How the template reaches the producer:
enum class VekMode {
  SeenBefore,  // Execute of the same text at every render: prepared from the second on
  FirstSeen,   // Execute with the cache of prepared texts off: scanned at every render
  Prepared,    // Content of HTMLDoc, one line holding the text: prepared, never checked
};

class VekEngine : public Engine {
 public:
  // IntoPage: loops expand their body into the page (ExpandBody); else each
  // row's output is appended to the pair handler's RetText.
  VekEngine(const Workload& w, VekMode mode, bool IntoPage = true)
      : FWork(w), FMode(mode), FIntoPage(IntoPage), FValues(w.values), FProducer(nullptr) {
    FProducer.SetVekTagBeg(w.beg);
    FProducer.SetVekTagEnd(w.end);
    if (mode == VekMode::FirstSeen) FProducer.SetPreparedTextLimits(0, 0);
    if (mode == VekMode::Prepared) FProducer.HTMLDoc()->Add(w.vek);
    switch (w.handler) {
      case HandlerKind::Lookup:
      case HandlerKind::OpenPair:
        FProducer.SetOnVekTag(TVekTagEvent(this, &VekEngine::Lookup));
        break;
      case HandlerKind::Image:
        FProducer.SetOnVekTag(TVekTagEvent(this, &VekEngine::Image));
        break;
      case HandlerKind::Rows:
        FProducer.SetOnVekTag(TVekTagEvent(this, &VekEngine::RowField));
        FProducer.SetOnVekPairTag(TVekPairTagEvent(this, &VekEngine::Rows));
        break;
      case HandlerKind::Count:
        FProducer.SetOnVekTag(TVekTagEvent(this, &VekEngine::Count));
        break;
      case HandlerKind::Pairs:
        FProducer.SetOnVekTag(TVekTagEvent(this, &VekEngine::OpenAll));
        break;
    }
  }

  long long RenderToSink() override {
    CountingStream out;
    if (FMode == VekMode::Prepared)
      FProducer.ContentTo(&out);
    else
      FProducer.ExecuteTo(FWork.vek, &out);
    return out.bytes;
  }

  std::string Render() override {
    if (FMode != VekMode::Prepared) return FProducer.Execute(FWork.vek);
    // HTMLDoc's text ends in the CR LF after its one line: cut off again.
    std::string out = FProducer.Content();
    if (out.size() >= 2 && out.compare(out.size() - 2, 2, "\r\n") == 0) out.resize(out.size() - 2);
    return out;
  }

 private:
  void Lookup(TObject*, const AnsiString& Name, TStrings*, AnsiString& Text, int& State) {
    if (const std::string* value = FValues.Find(Name)) Text.append(*value);
    if (FWork.handler == HandlerKind::OpenPair) State = rsPairTag;
  }

  // «img src="pic 1.png" w=101 h=51» -> «<img src="pic 1.png" width="101" height="51">»
  void Image(TObject*, const AnsiString& Name, TStrings* Params, AnsiString& Text, int&) {
    if (Name != "img"sv) return;
    std::string_view src, width, height;
    for (const AnsiString& p : *Params) {
      const std::string_view s(p);
      const std::size_t eq = s.find('=');
      if (eq == std::string_view::npos) continue;
      const std::string_view key = s.substr(0, eq), value = s.substr(eq + 1);
      if (key == "src"sv)
        src = value;
      else if (key == "w"sv)
        width = value;
      else if (key == "h"sv)
        height = value;
    }
    Text.append("<img src=\"").append(src).append("\" width=\"").append(width);
    Text.append("\" height=\"").append(height).append("\">");
  }

  void RowField(TObject*, const AnsiString& Name, TStrings*, AnsiString& Text, int& State) {
    if (Name == "rows"sv) {
      State = rsPairTag;
    } else if (FRow != nullptr) {
      if (Name == "id"sv)
        Text.append(FRow->id);
      else if (Name == "name"sv)
        Text.append(FRow->name);
      else if (Name == "price"sv)
        Text.append(FRow->price);
    }
  }

  void Rows(TObject* Sender, const AnsiString& Name, TStrings*, const AnsiString& Body,
            AnsiString& Text, int&) {
    if (Name != "rows"sv) return;
    auto* producer = static_cast<TVekPageProducer*>(Sender);
    if (FIntoPage) {
      const TVekBody body = producer->PrepareBody(Body);
      for (const Row& r : FWork.rows) {
        FRow = &r;
        producer->ExpandBody(body);
      }
    } else {
      for (const Row& r : FWork.rows) {
        FRow = &r;
        Text += producer->ContentFromString(Body);
      }
    }
    FRow = nullptr;
  }

  void OpenAll(TObject*, const AnsiString& Name, TStrings*, AnsiString&, int& State) {
    if (Name.empty() || Name[0] != '/') State = rsPairTag;
  }

  void Count(TObject*, const AnsiString&, TStrings* Params, AnsiString& Text, int&) {
    Text = std::to_string(Params->Count());
  }

  const Workload& FWork;
  VekMode FMode;
  bool FIntoPage;
  NameTable FValues;
  TVekPageProducer FProducer;
  const Row* FRow = nullptr;
};

// ---- ctemplate ---------------------------------------------------------------------

void FillDictionary(const Workload& w, ctemplate::TemplateDictionary& d) {
  for (const auto& [name, value] : w.values) d.SetValue(name, value);
  for (const Row& r : w.rows) {
    ctemplate::TemplateDictionary* row = d.AddSectionDictionary("rows");
    row->SetValue("id", r.id);
    row->SetValue("name", r.name);
    row->SetValue("price", r.price);
  }
}

class CtemplateEngine : public Engine {
 public:
  CtemplateEngine(const Workload& w, bool warm) : FWork(w), FWarm(warm), FDict("bench") {
    FillDictionary(w, FDict);
    if (warm) FTemplate.reset(Parse());
  }

  std::string Render() override {
    std::string out;
    out.reserve(OutputReservation(FWork.vek.size()));
    if (FWarm) {
      FTemplate->Expand(&out, &FDict);
    } else {
      std::unique_ptr<ctemplate::Template> t(Parse());
      t->Expand(&out, &FDict);
    }
    return out;
  }

 private:
  ctemplate::Template* Parse() const {
    return ctemplate::Template::StringToTemplate(FWork.ctemplate, ctemplate::DO_NOT_STRIP);
  }

  const Workload& FWork;
  bool FWarm;
  ctemplate::TemplateDictionary FDict;
  std::unique_ptr<ctemplate::Template> FTemplate;
};

// ---- kainjow mustache ------------------------------------------------------------

class MustacheEngine : public Engine {
 public:
  using Mustache = kainjow::mustache::mustache;
  using Data = kainjow::mustache::data;

  MustacheEngine(const Workload& w, bool warm) : FWork(w), FWarm(warm) {
    for (const auto& [name, value] : w.values) FData.set(name, Data(value));
    if (!w.rows.empty()) {
      Data rows(Data::type::list);
      for (const Row& r : w.rows) {
        Data row;
        row.set("id", r.id);
        row.set("name", r.name);
        row.set("price", r.price);
        rows.push_back(row);
      }
      FData.set("rows", rows);
    }
    if (warm) FTemplate = std::make_unique<Mustache>(w.mustache);
  }

  std::string Render() override {
    std::string out;
    out.reserve(OutputReservation(FWork.vek.size()));
    const Mustache::render_handler sink = [&out](const std::string& s) { out += s; };
    if (FWarm) {
      FTemplate->render(FData, sink);
    } else {
      Mustache t(FWork.mustache);
      t.render(FData, sink);
    }
    return out;
  }

 private:
  const Workload& FWork;
  bool FWarm;
  Data FData;
  std::unique_ptr<Mustache> FTemplate;
};

// ---- mstch: its one entry point parses the template at every call -----------------

class MstchEngine : public Engine {
 public:
  explicit MstchEngine(const Workload& w) : FWork(w) {
    mstch::map root;
    for (const auto& [name, value] : w.values) root.emplace(name, value);
    if (!w.rows.empty()) {
      mstch::array rows;
      for (const Row& r : w.rows)
        rows.push_back(mstch::map{{"id", r.id}, {"name", r.name}, {"price", r.price}});
      root.emplace("rows", std::move(rows));
    }
    FRoot = std::move(root);
  }

  // mstch returns a fresh string: no reservation is possible.
  std::string Render() override { return mstch::render(FWork.mustache, FRoot); }

 private:
  const Workload& FWork;
  mstch::node FRoot;
};

}  // namespace

std::unique_ptr<Engine> MakeEngine(const std::string& name, const Workload& w) {
  if (name == "vek") return std::make_unique<VekEngine>(w, VekMode::SeenBefore);
  if (name == "vek_first") return std::make_unique<VekEngine>(w, VekMode::FirstSeen);
  if (name == "vek_prepared") return std::make_unique<VekEngine>(w, VekMode::Prepared);
  if (name == "vek_rettext") return std::make_unique<VekEngine>(w, VekMode::SeenBefore, false);
  if (name == "vek_prepared_rettext")
    return std::make_unique<VekEngine>(w, VekMode::Prepared, false);
  if (name == "ctemplate_warm") return std::make_unique<CtemplateEngine>(w, true);
  if (name == "ctemplate_cold") return std::make_unique<CtemplateEngine>(w, false);
  if (name == "mustache_warm") return std::make_unique<MustacheEngine>(w, true);
  if (name == "mustache_cold") return std::make_unique<MustacheEngine>(w, false);
  if (name == "mstch_cold") return std::make_unique<MstchEngine>(w);
  return nullptr;
}

const std::vector<std::string>& PeerEngineNames() {
  static const std::vector<std::string> names = {"ctemplate_warm", "mustache_warm",
                                                 "ctemplate_cold", "mustache_cold", "mstch_cold"};
  return names;
}

}  // namespace bench
