// Runs one engine on one workload, for counting instructions with callgrind:
//
//   valgrind --tool=callgrind --instr-atstart=no vek_profile vek W2 5
//
// Only the timed renders are instrumented (the workload, the data, a warm
// peer's parsed template and the producer's prepared text are made before). Prints the tags of one
// render so that the caller can divide the instruction count by tags × renders.
#include <cstdio>
#include <cstdlib>
#include <string>

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#else
#define CALLGRIND_START_INSTRUMENTATION
#define CALLGRIND_STOP_INSTRUMENTATION
#endif

#include "Engines.h"
#include "Workloads.h"

namespace {

constexpr std::size_t kMiB = std::size_t(1) << 20;

bool MakeWorkload(const std::string& name, bench::Workload& w) {
  if (name == "W1")
    w = bench::MakeLookup("W1", kMiB, 1024);
  else if (name == "W2")
    w = bench::MakeLookup("W2", kMiB, 32);
  else if (name == "W3")
    w = bench::MakeImages(kMiB);
  else if (name == "W4")
    w = bench::MakeLoop(10000);
  else if (name == "W5a")
    w = bench::MakeUnclosedPairs(kMiB);
  else if (name == "W5c")
    w = bench::MakeOneByteDelimiters(kMiB);
  else if (name == "W5d")
    w = bench::MakeHugeTag(kMiB);
  else if (name.rfind("W5e", 0) == 0)  // W5e, W5e2, W5e4: 10,000 pairs times 1, 2, 4
    w = bench::MakeDistinctPairs(10000 * (name.size() > 3 ? std::stoul(name.substr(3)) : 1));
  else if (name.rfind("W5f", 0) == 0)  // W5f, W5f2, W5f4: 256 KiB times 1, 2, 4
    w = bench::MakeUnclosedRows((kMiB / 4) * (name.size() > 3 ? std::stoul(name.substr(3)) : 1));
  else if (name.rfind("W2s", 0) == 0)  // W2s, W2s2, W2s4: W2 of 256 KiB times 1, 2, 4
    w = bench::MakeLookup("W2", (kMiB / 4) * (name.size() > 3 ? std::stoul(name.substr(3)) : 1),
                          32);
  else
    return false;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(
        stderr,
        "usage: vek_profile ENGINE W1|W2|W3|W4|W5a|W5c|W5d|W5e[2|4]|W5f[2|4]|W2s[2|4] [RENDERS]\n");
    return 2;
  }
  bench::Workload w;
  if (!MakeWorkload(argv[2], w)) {
    std::fprintf(stderr, "vek_profile: unknown workload %s\n", argv[2]);
    return 2;
  }
  const auto engine = bench::MakeEngine(argv[1], w);
  if (!engine) {
    std::fprintf(stderr, "vek_profile: unknown engine %s\n", argv[1]);
    return 2;
  }
  const int renders = argc > 3 ? std::atoi(argv[3]) : 3;
  // Twice: also warms caches and allocator, and the producer prepares a text
  // on its second expansion.
  for (int i = 0; i < 2; ++i) {
    if (engine->Render() != w.expected) {
      std::fprintf(stderr, "vek_profile: %s gives wrong output on %s\n", argv[1], argv[2]);
      return 1;
    }
  }
  std::size_t bytes = 0;
  CALLGRIND_START_INSTRUMENTATION;
  for (int i = 0; i < renders; ++i) bytes += engine->Render().size();
  CALLGRIND_STOP_INSTRUMENTATION;
  std::printf("engine=%s workload=%s renders=%d tags=%zu output_bytes=%zu\n", argv[1], argv[2],
              renders, w.tags, bytes / static_cast<std::size_t>(renders > 0 ? renders : 1));
  return 0;
}
