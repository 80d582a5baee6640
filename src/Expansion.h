// The expansion loop of TVekPageProducer, a friend of the class with access
// to its fields. Internal to the component.
#pragma once

#include "VekPgProd.h"

struct TVekExpansion {
  /// Expands Doc with p's delimiters and handlers (see
  /// TVekPageProducer::Execute), into a string or, with Out, to a stream.
  /// Exceptions from handlers and from Out propagate.
  static AnsiString Run(TVekPageProducer& p, const AnsiString& Doc);
  static void Run(TVekPageProducer& p, const AnsiString& Doc, TStream& Out);
  /// The same for p's HTMLDoc, prepared once it is expanded a second time
  /// unchanged.
  static AnsiString RunDoc(TVekPageProducer& p);
  static void RunDoc(TVekPageProducer& p, TStream& Out);
};
