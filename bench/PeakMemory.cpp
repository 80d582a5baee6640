// Peak memory of one expansion of a large dense template (W2):
//
//   vek_peak_memory [MIB] [sink]     (64 by default)
//
// Measures the resident set before the template exists, builds the template,
// resets the kernel's high-water mark, expands once and reads the mark again.
// Prints the peak above the starting point next to the limit
// template + 2 × output + 1 MiB for an expansion into a string, or
// template + 4 MiB with "sink" (ExecuteTo a stream that keeps nothing);
// exits 1 when the limit is exceeded.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "Engines.h"
#include "Workloads.h"

namespace {

// A field of /proc/self/status in KiB ("VmRSS", "VmHWM"), or -1.
long StatusKiB(const std::string& field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.compare(0, field.size() + 1, field + ":") == 0)
      return std::strtol(line.c_str() + field.size() + 1, nullptr, 10);
  return -1;
}

bool ResetPeak() {
  std::ofstream out("/proc/self/clear_refs");
  out << "5";
  return static_cast<bool>(out.flush());
}

double MiB(double bytes) {
  return bytes / (1024.0 * 1024.0);
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 64;
  const bool toSink = argc > 2 && std::string(argv[2]) == "sink";
  const long before = StatusKiB("VmRSS");
  const bench::Workload w = bench::MakeDenseTemplateOnly(mib << 20);
  const auto engine = bench::MakeEngine("vek", w);
  if (!ResetPeak()) {
    std::fprintf(stderr, "vek_peak_memory: cannot reset the peak (/proc/self/clear_refs)\n");
    return 2;
  }
  std::size_t output = 0;
  if (toSink) {
    output = static_cast<std::size_t>(engine->RenderToSink());
  } else {
    const std::string out = engine->Render();
    output = out.size();
  }
  const long peak = StatusKiB("VmHWM");
  if (before < 0 || peak < 0) {
    std::fprintf(stderr, "vek_peak_memory: /proc/self/status unreadable\n");
    return 2;
  }
  const double used = static_cast<double>(peak - before) * 1024.0;
  const double limit = toSink ? static_cast<double>(w.vek.size()) + 4 * 1024.0 * 1024.0
                              : static_cast<double>(w.vek.size() + 2 * output) + 1024.0 * 1024.0;
  std::printf("template %.1f MiB, %zu tags, output %.1f MiB%s\n", MiB(double(w.vek.size())), w.tags,
              MiB(double(output)), toSink ? " to a sink" : "");
  std::printf("peak above start %.1f MiB (template included); limit %.1f MiB: %s\n", MiB(used),
              MiB(limit), used <= limit ? "within" : "EXCEEDED");
  return used <= limit ? 0 : 1;
}
