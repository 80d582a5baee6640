// The expansion loop of TVekPageProducer, a friend of the class with access
// to its fields. Internal to the component.
#pragma once

#include <memory>

#include "PreparedTexts.h"
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
  /// Body's text prepared for ExpandBody: the one prepared last when it has
  /// the same bytes, else a new copy (its table is built on expansion).
  static std::shared_ptr<vek::PreparedText> PrepareBody(TVekPageProducer& p,
                                                        const AnsiString& Body);
  /// Expands Body into the page of the innermost running expansion of p (see
  /// TVekPageProducer::ExpandBody).
  static void ExpandBody(TVekPageProducer& p, vek::PreparedText& Body);
};
