// vekpp's data loading: one object of N members in each format (JSON, YAML,
// TOML) loaded from a file, beside reading the same file's bytes and
// nlohmann's own parse of the JSON into its unordered object type. Thread
// CPU time and wall time, the best of a few runs; the growth from N/4 to N
// shows the loading is linear (4x) rather than quadratic (16x).
//
//   vek_data_bench [N ...]     default 25000 100000
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "data/DataFiles.h"

namespace {

namespace fs = std::filesystem;

struct TTimes {
  double Cpu = 1e30, Wall = 1e30;  // milliseconds
};

double Now(clockid_t Clock) {
  timespec ts{};
  clock_gettime(Clock, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// The best of Runs runs of Work (fewer when one run takes over a second).
TTimes Time(const std::function<void()>& Work, int Runs = 5) {
  TTimes best;
  for (int i = 0; i < Runs; ++i) {
    const double c0 = Now(CLOCK_THREAD_CPUTIME_ID), w0 = Now(CLOCK_MONOTONIC);
    Work();
    best.Cpu = std::min(best.Cpu, Now(CLOCK_THREAD_CPUTIME_ID) - c0);
    best.Wall = std::min(best.Wall, Now(CLOCK_MONOTONIC) - w0);
    if (best.Wall > 1000) break;
  }
  return best;
}

std::string Text(const std::string& Format, size_t N) {
  std::string out = Format == "json" ? "{" : "";
  for (size_t i = 0; i < N; ++i) {
    const std::string k = "member" + std::to_string(i), v = std::to_string(i);
    if (Format == "json") {
      out += (i ? ",\"" : "\"") + k + "\":" + v;
    } else if (Format == "yaml") {
      out += k + ": " + v + "\n";
    } else {
      out += k + " = " + v + "\n";
    }
  }
  return Format == "json" ? out + "}" : out;
}

std::string ReadAll(const fs::path& Path) {
  std::ifstream in(Path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<size_t> sizes;
  for (int i = 1; i < argc; ++i) sizes.push_back(std::strtoull(argv[i], nullptr, 10));
  if (sizes.empty()) sizes = {25000, 100000};
  const fs::path dir = fs::temp_directory_path() / ("vek-data-bench-" + std::to_string(getpid()));
  fs::create_directories(dir);

  std::printf("%-6s %8s %9s | %9s %9s | %9s %9s | %7s %8s\n", "format", "members", "bytes",
              "read cpu", "wall ms", "load cpu", "wall ms", "load/rd", "ns/memb");
  std::vector<std::vector<double>> perMember(3);
  for (size_t n : sizes) {
    int f = 0;
    for (const char* format : {"json", "yaml", "toml"}) {
      const fs::path path = dir / (std::string("data.") + format);
      std::ofstream(path, std::ios::binary) << Text(format, n);
      size_t bytes = 0, members = 0;
      const TTimes read = Time([&] { bytes = ReadAll(path).size(); });
      const TTimes load = Time([&] { members = LoadData({path.string()}, {})->size(); });
      if (members != n) {
        std::fprintf(stderr, "%s: %zu members loaded of %zu\n", format, members, n);
        return 1;
      }
      perMember[f++].push_back(load.Cpu * 1e6 / n);
      std::printf("%-6s %8zu %9zu | %9.2f %9.2f | %9.2f %9.2f | %6.0fx %8.0f\n", format, n, bytes,
                  read.Cpu, read.Wall, load.Cpu, load.Wall, load.Cpu / read.Cpu,
                  load.Cpu * 1e6 / n);
    }
    // The reference: nlohmann's DOM parse of the same JSON (its unordered
    // object type), from the file's bytes.
    const fs::path path = dir / "data.json";
    size_t refMembers = 0;
    const TTimes ref = Time([&] { refMembers = nlohmann::json::parse(ReadAll(path)).size(); });
    if (refMembers != n) return 1;
    std::printf("%-6s %8zu %9s | %9s %9s | %9.2f %9.2f |\n", "nl-ref", n, "", "", "", ref.Cpu,
                ref.Wall);
  }
  if (sizes.size() > 1) {
    std::printf("CPU time per member, largest size over smallest (1.0 is linear):");
    int f = 0;
    for (const char* format : {"json", "yaml", "toml"}) {
      std::printf(" %s %.2f", format, perMember[f].back() / perMember[f].front());
      ++f;
    }
    std::printf("\n");
  }
  fs::remove_all(dir);
  return 0;
}
