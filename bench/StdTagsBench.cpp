// The standard tags: the hostile templates that once cost quadratic or
// exponential time, at 1x, 2x and 4x their size, and a catalogue page (each
// over 10,000 items, values in text and attributes) beside the producer's
// raw W2 throughput.
//
//   vek_stdtags_bench [Google Benchmark flags]   time everything
//   vek_stdtags_bench --language                 the catalogue with a layout,
//                                                conditions and modifiers against
//                                                its plain form; exit 1 above 1.5x
//   vek_stdtags_bench --engine                   the catalogue through TVekEngine
//                                                (to a string, to a sink) against
//                                                the producer and binder, thread
//                                                CPU and wall; exit 1 above 1.05x
//   vek_stdtags_bench --peers                    the catalogue against ctemplate
//                                                (auto-escape) and kainjow mustache,
//                                                interleaved; medians of thread CPU
//                                                and wall
//   vek_stdtags_bench --scaling                  the growth per doubling of
//                                                each case; exit 1 above 2.2x
//   vek_stdtags_bench --once CASE SCALE          one run of one case, for
//                                                counting instructions:
//     valgrind --tool=callgrind vek_stdtags_bench --once nested_ifs_refused 4
//   vek_stdtags_bench --page NAME TIMES          renders one catalogue page
//                                                (catalogue, catalogue_language,
//                                                catalogue_expressions,
//                                                catalogue_macros) TIMES times, for
//                                                profiling one page's cost
#include <benchmark/benchmark.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "CataloguePeers.h"
#include "Engines.h"
#include "VekEngine.h"
#include "VekStdTags.h"
#include "Workloads.h"

namespace fs = std::filesystem;
using json = TVekData;

namespace {

std::string Repeat(const std::string& S, int N) {
  std::string out;
  out.reserve(S.size() * static_cast<size_t>(N));
  for (int i = 0; i < N; ++i) out += S;
  return out;
}

// The catalogue page: one list item per element, values in element text, in
// quoted attributes and in a URL's path.
const char* const kCatalogue =
    "<!DOCTYPE html>\n<html><head><title><#title#></title></head><body>\n<ul class=\"items\">\n"
    "<#each items#><li id=\"item-<#id#>\" data-price=\"<#price#>\"><a href=\"/item/<#id#>\" "
    "title=\"<#name#>\"><#name#></a> <span class=\"price\"><#price#></span><#if sale#> "
    "<em>sale</em><#/if#></li>\n<#/each#></ul>\n</body></html>\n";

// The same page written with the template language: a layout, conditions
// with comparisons, modifiers, a comment, and lines of block tags that vanish.
const char* const kCatalogueLayout =
    "<#-- The catalogue's layout --#>\n<!DOCTYPE html>\n<html><head><title><#block title#>"
    "<#/block#></title></head><body>\n<#block content#>\n<#/block#>\n</body></html>\n";
const char* const kCatalogueLanguage =
    "<#extends file=\"_catalogue_layout.html\"#>\n"
    "<#block title#><#title default=\"Catalogue\" trim#><#/block#>\n"
    "<#block content#>\n<ul class=\"items\">\n"
    "<#each items#>\n"
    "<li id=\"item-<#@index#>\" data-price=\"<#price number=2#>\"><a href=\"/item/<#id#>\" "
    "title=\"<#name trim#>\"><#name truncate=40#></a> <span class=\"price\"><#price#></span>"
    "<#if sale and id >= 0#> <em>sale</em><#elif id < 0#> <em>never</em><#/if#></li>\n"
    "<#else#>\n<li>none</li>\n<#/each#>\n</ul>\n<#/block#>\n";
// The language page with a variable set from arithmetic for every item, a
// named loop and an "in": the cost of the expressions, reported beside.
const char* const kCatalogueExpressions =
    "<#extends file=\"_catalogue_layout.html\"#>\n"
    "<#block title#><#title default=\"Catalogue\" trim#><#/block#>\n"
    "<#block content#>\n<ul class=\"items\">\n"
    "<#each item in items#>\n"
    "<#set n = @number - 1#>\n"
    "<li id=\"item-<#n#>\" data-price=\"<#item.price number=2#>\"><a href=\"/item/<#item.id#>\" "
    "title=\"<#item.name trim#>\"><#item.name truncate=40#></a> <span class=\"price\">"
    "<#item.price#></span><#if item.sale and item.id * 2 >= 0#> <em>sale</em>"
    "<#elif \"x\" in item.name#> <em>never</em><#/if#></li>\n"
    "<#else#>\n<li>none</li>\n<#/each#>\n</ul>\n<#/block#>\n";

// The language page with each item written by a macro, called with the
// item and its position: the cost of a call (a frame, a scope of
// parameters) per item, reported beside.
const char* const kCatalogueMacros =
    "<#extends file=\"_catalogue_layout.html\"#>\n"
    "<#macro row item n#>\n"
    "<li id=\"item-<#n#>\" data-price=\"<#item.price number=2#>\"><a href=\"/item/<#item.id#>\" "
    "title=\"<#item.name trim#>\"><#item.name truncate=40#></a> <span class=\"price\">"
    "<#item.price#></span><#if item.sale and item.id >= 0#> <em>sale</em>"
    "<#elif item.id < 0#> <em>never</em><#/if#></li>\n"
    "<#/macro#>\n"
    "<#block title#><#title default=\"Catalogue\" trim#><#/block#>\n"
    "<#block content#>\n<ul class=\"items\">\n"
    "<#each item in items#>\n<#call row item=item n=@index#>\n"
    "<#else#>\n<li>none</li>\n<#/each#>\n</ul>\n<#/block#>\n";

// A directory of templates for the whole run: the include fan-out (17 files,
// each including the next one 4 times) and the catalogue page.
class Site {
 public:
  Site() {
    char tmpl[] = "/tmp/vek-stdtags-bench-XXXXXX";
    FDir = mkdtemp(tmpl);
    for (int i = 0; i < 17; ++i) {
      const std::string next = "f" + std::to_string(i + 1) + ".html";
      std::ofstream(FDir / ("f" + std::to_string(i) + ".html"))
          << (i == 16 ? "leaf " + Repeat("x", 90)
                      : Repeat("<#include file=\"" + next + "\"#>\n", 4) + "<p>level</p>\n");
    }
    std::ofstream(FDir / "catalogue.html") << kCatalogue;
    std::ofstream(FDir / "_catalogue_layout.html") << kCatalogueLayout;
    std::ofstream(FDir / "catalogue_language.html") << kCatalogueLanguage;
    std::ofstream(FDir / "catalogue_expressions.html") << kCatalogueExpressions;
    std::ofstream(FDir / "catalogue_macros.html") << kCatalogueMacros;
  }
  ~Site() {
    std::error_code ec;
    fs::remove_all(FDir, ec);
  }
  const fs::path& Dir() const { return FDir; }

 private:
  fs::path FDir;
};

const Site& TheSite() {
  static const Site site;
  return site;
}

// One render of Text, leniently or not, with the given limits; returns the
// page or the error's message, so that both are work done.
std::string RenderOnce(const std::string& Text, const json& Data, TVekStdTagsOptions Options) {
  static const auto shared = std::make_shared<TVekTemplateCache>();
  TVekTemplateRoot root(TheSite().Dir());
  TVekPageProducer producer(nullptr);
  Options.Cache = shared;
  TVekStdTags tags(&producer, root, std::make_shared<json>(Data), Options);
  try {
    return tags.RenderText(Text, "page.html");
  } catch (const EVekTemplateError& e) {
    return e.what();
  }
}

const json& TruthData() {
  static const json data = json::parse(R"({"a": true, "x": [1]})");
  return data;
}

// A hostile case at a scale: something to run, of a size that grows with it.
struct Case {
  const char* name;
  std::function<std::string(int scale)> run;
};

std::vector<Case> Cases() {
  TVekStdTagsOptions lenient;
  lenient.Lenient = true;
  TVekStdTagsOptions deep;
  deep.MaxDepth = 1 << 24;
  return {
      {"if_over_unclosed_eaches_lenient",
       [=](int s) {
         return RenderOnce("<#if a#>" + Repeat("<#each x#>y", 10000 * s) + "<#/if#>", TruthData(),
                           lenient);
       }},
      {"if_over_unclosed_eaches_refused",
       [=](int s) {
         return RenderOnce("<#if a#>" + Repeat("<#each x#>y", 10000 * s) + "<#/if#>", TruthData(),
                           {});
       }},
      {"unclosed_ifs_check",
       [=](int s) {
         return std::to_string(
             VekCheckTemplate(Repeat("<#if a#>x", 5000 * s), "p.html", nullptr).size());
       }},
      {"unclosed_ifs_lenient",
       [=](int s) { return RenderOnce(Repeat("<#if a#>x", 5000 * s), TruthData(), lenient); }},
      {"nested_ifs_rendered",
       [=](int s) {
         const int n = 6000 * s;
         return RenderOnce(Repeat("<#if a#>", n) + "z" + Repeat("<#/if#>", n), TruthData(), deep);
       }},
      {"nested_ifs_refused",
       [=](int s) {
         const int n = 25000 * s;
         return RenderOnce(Repeat("<#if a#>", n) + "z" + Repeat("<#/if#>", n), TruthData(), {});
       }},
      {"include_fanout_to_the_limit",
       [=](int s) {
         TVekStdTagsOptions o;
         o.MaxIncludes = 10000LL * s;
         return RenderOnce("<#include file=f2.html#>", TruthData(), o);
       }},
  };
}

json CatalogueData(int Items) {
  json items = json::array();
  for (const bench::CatalogueItem& i : bench::CatalogueItems(Items)) {
    items.push_back({{"id", i.Id}, {"name", i.Name}, {"price", i.Price}, {"sale", i.Sale}});
  }
  return {{"title", "Catalogue"}, {"items", items}};
}

void BM_Catalogue(benchmark::State& State, const char* Template) {
  const auto data = std::make_shared<json>(CatalogueData(10000));
  TVekTemplateRoot root(TheSite().Dir());
  TVekPageProducer producer(nullptr);
  TVekStdTags tags(&producer, root, data);
  size_t bytes = 0;
  for (auto _ : State) {
    std::string page = tags.Render(Template);  // parsed once, then cached
    bytes = page.size();
    benchmark::DoNotOptimize(page.data());
  }
  State.SetBytesProcessed(static_cast<int64_t>(State.iterations() * bytes));
  State.SetItemsProcessed(static_cast<int64_t>(State.iterations() * 10000));
}

// The same page through TVekEngine, to a string.
void BM_CatalogueEngine(benchmark::State& State, const char* Template) {
  const json data = CatalogueData(10000);
  const TVekEngine engine{TVekTemplateRoot(TheSite().Dir())};
  size_t bytes = 0;
  for (auto _ : State) {
    std::string page = engine.Render(Template, data);
    bytes = page.size();
    benchmark::DoNotOptimize(page.data());
  }
  State.SetBytesProcessed(static_cast<int64_t>(State.iterations() * bytes));
  State.SetItemsProcessed(static_cast<int64_t>(State.iterations() * 10000));
}

// The producer alone on W2 (1 MiB, a tag every 32 bytes), for comparison.
void BM_RawW2(benchmark::State& State) {
  const bench::Workload w = bench::MakeLookup("W2", size_t(1) << 20, 32);
  const auto engine = bench::MakeEngine("vek", w);
  for (auto _ : State) {
    std::string out = engine->Render();
    benchmark::DoNotOptimize(out.data());
  }
  State.SetBytesProcessed(static_cast<int64_t>(State.iterations() * w.expected.size()));
}

void BM_Case(benchmark::State& State, Case C) {
  for (auto _ : State) {
    std::string out = C.run(static_cast<int>(State.range(0)));
    benchmark::DoNotOptimize(out.data());
  }
}

// The best of several runs at each scale, in seconds; the scales take turns,
// so that a busy machine slows them alike.
std::vector<double> Seconds(const std::function<std::string(int)>& Run) {
  std::vector<double> best(3, 1e9);
  for (int rep = 0; rep < 9; ++rep) {
    for (int i = 0; i < 3; ++i) {
      const auto t0 = std::chrono::steady_clock::now();
      const std::string out = Run(1 << i);
      const std::chrono::duration<double> d = std::chrono::steady_clock::now() - t0;
      best[static_cast<size_t>(i)] = std::min(best[static_cast<size_t>(i)], d.count());
    }
  }
  return best;
}

// The catalogue written with the language against its plain form: the best
// of several turns each, in thread CPU time and wall time; exit 1 when the
// language costs more than 1.5x the CPU time.
int LanguageCost() {
  const auto data = std::make_shared<json>(CatalogueData(10000));
  TVekTemplateRoot root(TheSite().Dir());
  TVekPageProducer producer(nullptr);
  TVekStdTags tags(&producer, root, data);
  constexpr int kPages = 4;
  const char* const names[kPages] = {"catalogue.html", "catalogue_language.html",
                                     "catalogue_expressions.html", "catalogue_macros.html"};
  const char* const labels[kPages] = {"plain", "layout, conditions, modifiers",
                                      "  and set, arithmetic, in", "  and a macro per item"};
  double best[kPages] = {1e9, 1e9, 1e9, 1e9}, bestCpu[kPages] = {1e9, 1e9, 1e9, 1e9};
  size_t bytes[kPages] = {0, 0, 0, 0};
  auto cpu = [] {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
  };
  for (int rep = 0; rep < 15; ++rep) {
    for (int i = 0; i < kPages; ++i) {
      const double c0 = cpu();
      const auto t0 = std::chrono::steady_clock::now();
      const std::string page = tags.Render(names[i]);
      const std::chrono::duration<double> d = std::chrono::steady_clock::now() - t0;
      best[i] = std::min(best[i], d.count());
      bestCpu[i] = std::min(bestCpu[i], cpu() - c0);
      bytes[i] = page.size();
    }
  }
  std::printf("%-32s %8s %8s %10s %9s %9s\n", "catalogue, 10,000 items", "cpu ms", "wall ms",
              "bytes", "cpu/plain", "wall/plain");
  for (int i = 0; i < kPages; ++i) {
    std::printf("%-32s %8.2f %8.2f %10zu %9.2f %9.2f\n", labels[i], bestCpu[i] * 1e3, best[i] * 1e3,
                bytes[i], bestCpu[i] / bestCpu[0], best[i] / best[0]);
  }
  const double ratio = bestCpu[1] / bestCpu[0];
  if (ratio > 1.5) std::printf("the language page costs %.2fx the plain one: ABOVE 1.5\n", ratio);
  return ratio <= 1.5 ? 0 : 1;
}

// One catalogue page rendered Times times: a profile of it alone.
int PageOnly(const std::string& Name, int Times) {
  const auto data = std::make_shared<json>(CatalogueData(10000));
  TVekTemplateRoot root(TheSite().Dir());
  TVekPageProducer producer(nullptr);
  TVekStdTags tags(&producer, root, data);
  size_t bytes = 0;
  for (int i = 0; i < Times; ++i) bytes += tags.Render(Name + ".html").size();
  std::printf("%s: %zu bytes in %d renders\n", Name.c_str(), bytes, Times);
  return 0;
}

double ThreadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The catalogue pages through the engine (to a string; to a sink that
// keeps nothing but a count) against the producer and binder: the paths take
// turns and the best of each is kept, thread CPU and wall; exit 1 when an
// engine path costs more than 1.05x the binder in thread CPU time.
int EngineCost() {
  const json data = CatalogueData(10000);
  const auto shared = std::make_shared<const json>(data);
  TVekTemplateRoot root(TheSite().Dir());
  TVekPageProducer producer(nullptr);
  TVekStdTags tags(&producer, root, shared);
  const TVekEngine engine(root);
  size_t sunk = 0;
  const TVekSink sink = [&](const char*, size_t N) { sunk += N; };
  int failed = 0;
  std::printf("%-26s %-16s %10s %10s %8s %8s\n", "catalogue, 10,000 items", "path", "cpu ms",
              "wall ms", "cpu x", "wall x");
  for (const char* name : {"catalogue.html", "catalogue_language.html"}) {
    const char* const paths[3] = {"producer+binder", "engine string", "engine sink"};
    double cpu[3] = {1e9, 1e9, 1e9}, wall[3] = {1e9, 1e9, 1e9};
    size_t bytes[3] = {0, 0, 0};
    for (int rep = 0; rep < 21; ++rep) {
      for (int i = 0; i < 3; ++i) {
        const double c0 = ThreadSeconds();
        const auto t0 = std::chrono::steady_clock::now();
        if (i == 0) {
          bytes[i] = tags.Render(name).size();
        } else if (i == 1) {
          bytes[i] = engine.Render(name, data).size();
        } else {
          sunk = 0;
          engine.Render(name, data, sink);
          bytes[i] = sunk;
        }
        const std::chrono::duration<double> d = std::chrono::steady_clock::now() - t0;
        cpu[i] = std::min(cpu[i], ThreadSeconds() - c0);
        wall[i] = std::min(wall[i], d.count());
      }
    }
    for (int i = 0; i < 3; ++i) {
      const double rc = cpu[i] / cpu[0], rw = wall[i] / wall[0];
      const bool ok = rc <= 1.05 && bytes[i] == bytes[0];
      failed += ok ? 0 : 1;
      std::printf("%-26s %-16s %10.2f %10.2f %8.3f %8.3f%s\n", name, paths[i], cpu[i] * 1e3,
                  wall[i] * 1e3, rc, rw, ok ? "" : "  ABOVE 1.05 OR OTHER BYTES");
    }
  }
  return failed == 0 ? 0 : 1;
}

double Median(std::vector<double> V) {
  std::sort(V.begin(), V.end());
  return V[V.size() / 2];
}

// The catalogue page through the standard tags and through its peers, the
// engines taking turns: the median of each in thread CPU time and wall time,
// and its ratio to ctemplate's (above 1: faster than ctemplate).
int PeerCost() {
  const auto data = std::make_shared<json>(CatalogueData(10000));
  TVekTemplateRoot root(TheSite().Dir());
  TVekPageProducer producer(nullptr);
  TVekStdTags tags(&producer, root, data);
  const std::vector<bench::CatalogueItem> items = bench::CatalogueItems(10000);
  const std::string title = (*data)["title"].get<std::string>();
  const char* const names[3] = {"vek stdtags", "ctemplate", "mustache"};
  std::unique_ptr<bench::Engine> peers[3] = {nullptr,
                                             bench::MakeCataloguePeer("ctemplate", items, title),
                                             bench::MakeCataloguePeer("mustache", items, title)};
  std::vector<double> cpu[3], wall[3];
  size_t bytes[3] = {0, 0, 0};
  for (int rep = 0; rep < 31; ++rep) {
    for (int i = 0; i < 3; ++i) {
      const double c0 = ThreadSeconds();
      const auto t0 = std::chrono::steady_clock::now();
      bytes[i] = i == 0 ? tags.Render("catalogue.html").size() : peers[i]->Render().size();
      const std::chrono::duration<double> d = std::chrono::steady_clock::now() - t0;
      cpu[i].push_back(ThreadSeconds() - c0);
      wall[i].push_back(d.count());
    }
  }
  std::printf("%-24s %10s %10s %10s %14s %14s\n", "catalogue, 10,000 items", "cpu ms", "wall ms",
              "bytes", "x ctemplate cpu", "x ctemplate wall");
  const double ctCpu = Median(cpu[1]), ctWall = Median(wall[1]);
  for (int i = 0; i < 3; ++i) {
    const double c = Median(cpu[i]), w = Median(wall[i]);
    std::printf("%-24s %10.2f %10.2f %10zu %14.2f %14.2f\n", names[i], c * 1e3, w * 1e3, bytes[i],
                ctCpu / c, ctWall / w);
  }
  return 0;
}

int Scaling() {
  int failed = 0;
  std::printf("%-34s %10s %10s %10s %8s %8s\n", "case", "1x ms", "2x ms", "4x ms", "2x/1x",
              "4x/2x");
  for (const Case& c : Cases()) {
    const std::vector<double> t = Seconds(c.run);
    const double t1 = t[0], t2 = t[1], t4 = t[2];
    const double r1 = t2 / t1, r2 = t4 / t2;
    const bool ok = r1 <= 2.2 && r2 <= 2.2;
    failed += ok ? 0 : 1;
    std::printf("%-34s %10.2f %10.2f %10.2f %8.2f %8.2f%s\n", c.name, t1 * 1e3, t2 * 1e3, t4 * 1e3,
                r1, r2, ok ? "" : "  ABOVE 2.2");
  }
  return failed == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--scaling") == 0) return Scaling();
  if (argc == 2 && std::strcmp(argv[1], "--language") == 0) return LanguageCost();
  if (argc == 2 && std::strcmp(argv[1], "--engine") == 0) return EngineCost();
  if (argc == 2 && std::strcmp(argv[1], "--peers") == 0) return PeerCost();
  if (argc == 4 && std::strcmp(argv[1], "--page") == 0)
    return PageOnly(argv[2], std::atoi(argv[3]));
  if (argc == 4 && std::strcmp(argv[1], "--once") == 0) {
    for (const Case& c : Cases()) {
      if (c.name == std::string(argv[2])) return c.run(std::atoi(argv[3])).empty() ? 1 : 0;
    }
    std::fprintf(stderr, "no case %s\n", argv[2]);
    return 2;
  }
  for (const Case& c : Cases()) {
    benchmark::RegisterBenchmark((std::string("stdtags/") + c.name).c_str(), BM_Case, c)
        ->Arg(1)
        ->Arg(2)
        ->Arg(4)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RegisterBenchmark("stdtags/catalogue_10000_items", BM_Catalogue, "catalogue.html")
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("stdtags/catalogue_10000_items_language", BM_Catalogue,
                               "catalogue_language.html")
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("stdtags/catalogue_10000_items_engine", BM_CatalogueEngine,
                               "catalogue.html")
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("W2/vek", BM_RawW2)->Unit(benchmark::kMillisecond);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
