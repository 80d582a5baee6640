// The expansion loop of TVekPageProducer, a friend of the class with access
// to its fields. Internal to the component.
#pragma once

#include <cstddef>
#include <optional>

#include "OutputSink.h"
#include "PairMatcher.h"
#include "TemplateText.h"
#include "VekPgProd.h"

struct TVekExpansion {
  /// Expands Doc with p's delimiters and handlers (see
  /// TVekPageProducer::Execute). Exceptions from handlers propagate.
  static AnsiString Run(TVekPageProducer& p, const AnsiString& Doc);

 private:
  /// The pair step, after OnVekTag answered rsPairTag for the tag just
  /// before pos; true when the expansion stops.
  static bool PairStep(TVekPageProducer& p, const vek::BoundedText& t, std::size_t& pos,
                       std::optional<vek::PairIndex>& index, vek::UpperPairNames& names,
                       vek::OutputSink& out);
};
