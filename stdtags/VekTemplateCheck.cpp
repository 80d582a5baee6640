// VekCheckTemplate: the findings of the parser that rendering uses, the
// nesting limit, whether every include and layout can be found, and the
// escaping of a page's blocks where its layouts put them.
#include <algorithm>
#include <filesystem>
#include <map>
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
    // An included file is parsed from the HTML state its include stands in,
    // once per file and state, as a render parses it.
    std::map<std::pair<std::string, std::string>, std::string> included;
    for (const auto& n : t->Nodes) {
      const bool include = n.Kind == vekstd::TNodeKind::Include;
      if ((!include && n.Kind != vekstd::TNodeKind::Extends) || n.Path.empty()) continue;
      try {
        const TVekTemplateFile file = Root->Locate(Name, n.Path);
        if (!include || !t->Errors.empty()) continue;
        const vekstd::THtmlState& state = t->IncludeOf(n).State;
        const auto key = std::make_pair(file.Path.string(), state.Key());
        auto it = included.find(key);
        if (it == included.end()) {
          std::string problem;
          const auto part =
              vekstd::ParseTemplate(Root->Read(file), file.Name, TagBeg, TagEnd, state);
          if (!part->Errors.empty()) {
            problem =
                part->Where(part->Errors.front().Offset) + ": " + part->Errors.front().Message;
          } else if (part->EndState != part->StartState) {
            problem = file.Name + " begins in " + part->StartState.Describe() + " and ends in " +
                      part->EndState.Describe() +
                      ": what follows it would be escaped for the wrong place";
          }
          it = included.emplace(key, problem).first;
        }
        if (!it->second.empty()) add(n.Begin, "include: " + it->second, false);
      } catch (const EVekTemplateError& e) {
        add(n.Begin, std::string(include ? "include: " : "extends: ") + e.what(), false);
      }
    }
  }
  // A template that extends layouts: its blocks escaped where the layouts
  // put them, as a render places them.
  if (Root && t->Extends >= 0 && t->Errors.empty()) {
    const auto& ext = t->Nodes[static_cast<size_t>(t->Extends)];
    std::vector<std::shared_ptr<const vekstd::TTemplate>> chain{t};
    std::vector<std::filesystem::path> paths;
    try {
      paths.push_back(Root->LocatePath(Root->Dir() / Name).Path);
    } catch (const EVekPathError&) {
      paths.emplace_back();  // a text checked under a name no file has
    }
    std::string problem;
    while (problem.empty() && chain.back()->Extends >= 0) {
      const auto& layout = *chain.back();
      const auto& n = layout.Nodes[static_cast<size_t>(layout.Extends)];
      try {
        const TVekTemplateFile file = Root->Locate(layout.Name, n.Path);
        if (std::find(paths.begin(), paths.end(), file.Path) != paths.end()) {
          problem = "layout cycle through " + file.Name;
        } else if (chain.size() > 16) {
          problem = "layouts extend each other deeper than 16";
        } else {
          auto next = vekstd::ParseTemplate(Root->Read(file), file.Name, TagBeg, TagEnd);
          if (!next->Errors.empty()) {
            problem =
                next->Where(next->Errors.front().Offset) + ": " + next->Errors.front().Message;
          }
          chain.push_back(std::move(next));
          paths.push_back(file.Path);
        }
      } catch (const EVekTemplateError& e) {
        // A layout not found is told above for this template's own extends.
        if (chain.size() > 1) problem = e.what();
        break;
      }
    }
    if (!problem.empty()) {
      add(ext.Begin, "extends: " + problem, false);
    } else if (chain.size() > 1) {
      for (size_t i = chain.size() - 1; i-- > 0;)
        chain[i] = vekstd::PlaceBlocks(*chain[i], *chain[i + 1]);
      for (const auto& e : chain[0]->Errors) add(e.Offset, e.Message, false);
    }
  }
  std::stable_sort(found.begin(), found.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<TVekTemplateIssue> issues;
  for (auto& f : found) issues.push_back(std::move(f.second));
  return issues;
}
