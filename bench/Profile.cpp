// Runs one engine on one workload, for counting instructions with callgrind:
//
//   valgrind --tool=callgrind --instr-atstart=no vek_profile vek W2 5
//
// Only the timed renders are instrumented (the workload, the data and a warm
// peer's parsed template are built before). Prints the tags of one render so
// that the caller can divide the instruction count by tags × renders.
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
  else
    return false;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: vek_profile ENGINE W1|W2|W3|W4|W5a|W5c|W5d [RENDERS]\n");
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
  if (engine->Render() != w.expected) {  // also warms caches and allocator
    std::fprintf(stderr, "vek_profile: %s gives wrong output on %s\n", argv[1], argv[2]);
    return 1;
  }
  std::size_t bytes = 0;
  CALLGRIND_START_INSTRUMENTATION;
  for (int i = 0; i < renders; ++i) bytes += engine->Render().size();
  CALLGRIND_STOP_INSTRUMENTATION;
  std::printf("engine=%s workload=%s renders=%d tags=%zu output_bytes=%zu\n", argv[1], argv[2],
              renders, w.tags, bytes / static_cast<std::size_t>(renders > 0 ? renders : 1));
  return 0;
}
