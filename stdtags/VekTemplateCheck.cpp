// VekCheckTemplate: the findings of the parser that rendering uses, the
// nesting limit, and whether every include and layout can be found.
#include <algorithm>
#include <string>

#include "VekStdTags.h"
#include "VekTemplate.h"

std::vector<TVekTemplateIssue> VekCheckTemplate(const AnsiString& Text, const AnsiString& Name,
                                                const TVekTemplateRoot* Root,
                                                const AnsiString& TagBeg, const AnsiString& TagEnd,
                                                int MaxDepth) {
  const auto t = vekstd::ParseTemplate(Text, Name, TagBeg, TagEnd);
  std::vector<std::pair<int, TVekTemplateIssue>> found;  // by offset
  auto add = [&](int Offset, const std::string& Message, bool Warning) {
    TVekTemplateIssue issue;
    t->Position(Offset, issue.Line, issue.Column);
    issue.Message = Message;
    issue.Warning = Warning;
    found.push_back({Offset, issue});
  };
  for (const auto& e : t->Errors) add(e.Offset, e.Message, false);
  for (const auto& w : t->Warnings) add(w.Offset, w.Message, true);
  if (MaxDepth >= 0 && t->FirstAtDepth.size() > static_cast<size_t>(MaxDepth)) {
    const auto& n = t->Nodes[static_cast<size_t>(t->FirstAtDepth[static_cast<size_t>(MaxDepth)])];
    add(n.Begin,
        "pairs nested deeper than " + std::to_string(MaxDepth) + " (the limit --max-depth)", false);
  }
  if (Root) {
    for (const auto& n : t->Nodes) {
      const bool include = n.Kind == vekstd::TNodeKind::Include;
      if ((!include && n.Kind != vekstd::TNodeKind::Extends) || n.Path.empty()) continue;
      try {
        Root->Locate(Name, n.Path);
      } catch (const EVekPathError& e) {
        add(n.Begin, std::string(include ? "include: " : "extends: ") + e.what(), false);
      }
    }
  }
  std::stable_sort(found.begin(), found.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<TVekTemplateIssue> issues;
  for (auto& f : found) issues.push_back(std::move(f.second));
  return issues;
}
