// The engines the benchmark compares, each rendering a Workload to a string.
// Constructing an engine does everything that may happen once: binding the
// producer's handlers, parsing a peer's template ("warm"), building the data.
// Render() is what is timed.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Workloads.h"

namespace bench {

class Engine {
 public:
  virtual ~Engine() = default;
  /// One expansion of the workload; the output is reserved as the producer
  /// reserves its own (OutputReservation).
  virtual std::string Render() = 0;
  /// The same expansion written to a sink that only counts the bytes (the
  /// producer's ExecuteTo); returns the count, or -1 for an engine that
  /// writes only to strings.
  virtual long long RenderToSink() { return -1; }
};

/// What the producer reserves for the output of a template of `size` bytes:
/// the template's size and an eighth more. The peers get the same.
inline std::size_t OutputReservation(std::size_t size) {
  return size + size / 8;
}

/// The engines, by name: "vek" (the producer's Execute on a text it has seen
/// before), "vek_first" (Execute with no prepared texts kept: every text seen
/// the first time), "vek_prepared" (Content of an unchanged HTMLDoc), all
/// three with loops expanding their body into the page (ExpandBody);
/// "vek_rettext" and "vek_prepared_rettext" (as "vek" and "vek_prepared",
/// with every row of a loop answered through RetText), "ctemplate_warm", "ctemplate_cold",
/// "mustache_warm", "mustache_cold", "mstch_cold". Null for an unknown name.
std::unique_ptr<Engine> MakeEngine(const std::string& name, const Workload& w);

/// The names of the peer engines, in the order the report shows them.
const std::vector<std::string>& PeerEngineNames();

}  // namespace bench
