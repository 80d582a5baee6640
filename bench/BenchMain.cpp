// The benchmark: every workload through the producer, the peers (warm and
// cold) and memcpy, in one process. Each engine's output is compared with the
// expected bytes before it is timed; a mismatch is reported as an error.
//
//   vek_bench [Google Benchmark flags]   time everything
//   vek_bench --check                    render each pair once, compare, exit 1 on a mismatch
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Engines.h"
#include "Workloads.h"

namespace {

using bench::Workload;

constexpr std::size_t kMiB = std::size_t(1) << 20;

void RunEngine(benchmark::State& state, const Workload* w, const std::string& engine) {
  const std::unique_ptr<bench::Engine> e = bench::MakeEngine(engine, *w);
  const std::string first = e->Render();
  if (first != w->expected) {
    state.SkipWithError(("output differs from the expected bytes (" + std::to_string(first.size()) +
                         " vs " + std::to_string(w->expected.size()) + " bytes)")
                            .c_str());
    for (auto _ : state) {
    }
    return;
  }
  for (auto _ : state) {
    std::string out = e->Render();
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * w->expected.size()));
  state.counters["tags"] = static_cast<double>(w->tags);
  state.counters["in_bytes"] = static_cast<double>(w->vek.size());
}

// The physical limit: copying the expected output into a ready buffer.
void RunMemcpy(benchmark::State& state, const Workload* w) {
  std::string buffer(w->expected.size(), '\0');
  for (auto _ : state) {
    std::memcpy(buffer.data(), w->expected.data(), w->expected.size());
    benchmark::DoNotOptimize(buffer.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * w->expected.size()));
}

// Every (workload, engine) pair registered, for --check.
std::vector<std::pair<const Workload*, std::string>>& Pairs() {
  static std::vector<std::pair<const Workload*, std::string>> pairs;
  return pairs;
}

void Register(const Workload& w, const std::vector<std::string>& engines, bool memcpyToo) {
  for (const std::string& e : engines) {
    benchmark::RegisterBenchmark((w.name + "/" + e).c_str(), RunEngine, &w, e);
    Pairs().emplace_back(&w, e);
  }
  if (memcpyToo) benchmark::RegisterBenchmark((w.name + "/memcpy").c_str(), RunMemcpy, &w);
}

}  // namespace

int main(int argc, char** argv) {
  // Built once, before anything is timed, and kept for the whole run.
  std::vector<std::unique_ptr<Workload>> all;
  auto keep = [&all](Workload w) -> const Workload& {
    all.push_back(std::make_unique<Workload>(std::move(w)));
    return *all.back();
  };
  // The producer three ways: HTMLDoc prepared, a text seen before through
  // Execute, every text seen the first time.
  const std::vector<std::string> vek = {"vek_prepared", "vek", "vek_first"};
  std::vector<std::string> everyone = vek;
  for (const std::string& p : bench::PeerEngineNames()) everyone.push_back(p);

  Register(keep(bench::MakeLookup("W1", kMiB, 1024)), everyone, true);
  Register(keep(bench::MakeLookup("W2", kMiB, 32)), everyone, true);
  Register(keep(bench::MakeImages(kMiB)), everyone, true);
  {
    // The loop also the older way, every row through RetText, to compare.
    std::vector<std::string> loop = everyone;
    loop.insert(loop.begin() + 3, {"vek_prepared_rettext", "vek_rettext"});
    Register(keep(bench::MakeLoop(10000)), loop, true);
  }
  for (const auto& w : {bench::MakeUnclosedPairs(kMiB), bench::MakeUnclosedDelimiters(kMiB),
                        bench::MakeOneByteDelimiters(kMiB), bench::MakeHugeTag(kMiB)})
    Register(keep(w), {"vek", "vek_first"}, false);
  // The two pair findings at three sizes each (1, 2, 4 times), to show them
  // linear; W2 at the smallest of those sizes to compare with.
  for (std::size_t times : {1, 2, 4}) {
    const std::string x = times == 1 ? "" : "x" + std::to_string(times);
    bench::Workload e = bench::MakeDistinctPairs(10000 * times);
    e.name += x;
    Register(keep(std::move(e)), {"vek", "vek_first"}, false);
    bench::Workload f = bench::MakeUnclosedRows(kMiB / 4 * times);
    f.name += x;
    Register(keep(std::move(f)), {"vek", "vek_first"}, false);
  }
  Register(keep(bench::MakeLookup("W2_256KiB", kMiB / 4, 32)), {"vek", "vek_first"}, false);
  for (std::size_t mib : {4, 16}) {
    Register(keep(bench::MakeLookup("W2_" + std::to_string(mib) + "MiB", mib * kMiB, 32)),
             {"vek", "vek_first"}, true);
  }

  if (argc == 2 && std::strcmp(argv[1], "--check") == 0) {
    int failed = 0;
    for (const auto& [w, e] : Pairs()) {
      const bool ok = bench::MakeEngine(e, *w)->Render() == w->expected;
      std::printf("%-8s %-16s %s\n", w->name.c_str(), e.c_str(), ok ? "ok" : "WRONG OUTPUT");
      failed += ok ? 0 : 1;
    }
    return failed == 0 ? 0 : 1;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
