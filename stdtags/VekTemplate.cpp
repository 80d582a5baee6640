// A parsed template's own members (places, tags and blocks for messages and
// look-ups), and the parser's entry points: the first walk over the text
// (TemplateParser.cpp), the pass over lines and trims (TemplateLines.cpp),
// then the walk over the nodes for nesting and the HTML context
// (TemplateStructure.cpp). Each is linear in the text; none recurses.
#include "VekTemplate.h"

#include <algorithm>
#include <cstdint>

#include "TemplateLines.h"
#include "TemplateMacros.h"
#include "TemplateParser.h"
#include "TemplateStructure.h"

namespace vekstd {

namespace {

bool ByOffset(const TFinding& A, const TFinding& B) {
  return A.Offset < B.Offset;
}

void SortFindings(TTemplate& T) {
  std::stable_sort(T.Errors.begin(), T.Errors.end(), ByOffset);
  std::stable_sort(T.Warnings.begin(), T.Warnings.end(), ByOffset);
  if (T.Errors.size() > kMaxFindings) T.Errors.resize(kMaxFindings);
  if (T.Warnings.size() > kMaxFindings) T.Warnings.resize(kMaxFindings);
}

}  // namespace

void TTemplate::AddFinding(std::vector<TFinding>& In, size_t& Count, int Offset,
                           std::string Message) {
  ++Count;
  In.push_back({Offset, std::move(Message)});
  // At twice the cap, the lowest offsets are kept: linear in the findings.
  if (In.size() >= 2 * kMaxFindings) {
    std::stable_sort(In.begin(), In.end(), ByOffset);
    In.resize(kMaxFindings);
  }
}

EVekTemplateError::TPlace TTemplate::Place(int Offset) const {
  const auto it = std::upper_bound(LineStarts.begin(), LineStarts.end(), Offset);
  const int line = static_cast<int>(it - LineStarts.begin());
  return {Name, line, Offset - LineStarts[static_cast<size_t>(line - 1)] + 1};
}

std::string TTemplate::Where(int Offset) const {
  const EVekTemplateError::TPlace p = Place(Offset);
  return Name + ":" + std::to_string(p.Line) + ":" + std::to_string(p.Column);
}

const TDetails TTemplate::kNoDetails;

int TTemplate::FindBlock(const AnsiString& Name) const {
  const auto it = std::lower_bound(Blocks.begin(), Blocks.end(), std::make_pair(Name, -1));
  return it != Blocks.end() && it->first == Name ? it->second : -1;
}

int TTemplate::FindMacro(const std::string& Name) const {
  for (size_t i = 0; i < Macros.size(); ++i) {
    if (Macros[i].Name == Name) return static_cast<int>(i);
  }
  return -1;
}

std::string TTemplate::TagAt(const TNode& Node) const {
  const size_t kMax = 60;
  const size_t len = static_cast<size_t>(Node.End - Node.Begin);
  if (len <= kMax) return Text.substr(static_cast<size_t>(Node.Begin), len);
  return Text.substr(static_cast<size_t>(Node.Begin), kMax) + "...";
}

std::shared_ptr<const TTemplate> ParseTemplate(AnsiString Text, const AnsiString& Name,
                                               const AnsiString& Beg, const AnsiString& End,
                                               const THtmlState& Start,
                                               const TVekExtensions* Extensions) {
  if (Text.size() >= static_cast<size_t>(INT32_MAX))
    throw EVekTemplateError({Name}, "the template is too large (2 GiB or more)");
  auto t = std::make_shared<TTemplate>();
  t->Name = Name;
  t->Text = std::move(Text);
  t->StartState = Start;
  t->LineStarts.push_back(0);
  const AnsiString& s = t->Text;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\n' || (s[i] == '\r' && (i + 1 == s.size() || s[i + 1] != '\n')))
      t->LineStarts.push_back(static_cast<int>(i + 1));
  }
  TParser(*t, Beg, End, Extensions).Run();
  StripLines(*t);
  ApplyTrims(*t);
  TStructure(*t, nullptr).Run();
  if (!t->Macros.empty()) t->Bodies = std::make_shared<TMacroBodies>();
  if (t->Extends >= 0) t->Placements = std::make_shared<TPlacements>();
  JudgeCalls(*t, true);
  SortFindings(*t);
  return t;
}

std::shared_ptr<const TTemplate> PlaceBlocks(const TTemplate& T, const TTemplate& Parent) {
  auto placed = std::make_shared<TTemplate>(T);
  placed->Placements.reset();  // it would hold itself
  // Only what the second walk finds is found again.
  placed->Errors.clear();
  placed->Warnings.clear();
  placed->ErrorCount = placed->WarningCount = 0;
  TStructure(*placed, &Parent).Run();
  JudgeCalls(*placed, false);
  SortFindings(*placed);
  return placed;
}

std::shared_ptr<const TTemplate> PlaceBlocksKept(const TTemplate& T,
                                                 const std::shared_ptr<const TTemplate>& Parent) {
  if (!T.Placements) return PlaceBlocks(T, *Parent);
  TPlacements& kept = *T.Placements;
  {
    std::lock_guard<std::mutex> lock(kept.Lock);
    for (const auto& e : kept.Entries)
      if (e.Parent == Parent) return e.Placed;
  }
  // Placed outside the lock: two threads may place the same, the first kept.
  auto placed = PlaceBlocks(T, *Parent);
  std::lock_guard<std::mutex> lock(kept.Lock);
  for (const auto& e : kept.Entries)
    if (e.Parent == Parent) return e.Placed;
  if (kept.Entries.size() >= 8) kept.Entries.clear();
  kept.Entries.push_back({Parent, placed});
  return placed;
}

}  // namespace vekstd
