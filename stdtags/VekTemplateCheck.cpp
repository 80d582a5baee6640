// VekCheckTemplate: the findings of the parser that rendering uses, the
// nesting limit, and what the resolver refuses of every include (followed
// through the templates it includes), of the files the page imports and its
// calls of their macros, and of the layouts, with the page's blocks escaped
// where its layouts put them.
#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>

#include "TemplateResolver.h"
#include "VekStdTags.h"
#include "VekTemplate.h"

namespace {

using vekstd::TNodeKind;
using vekstd::TOpenTemplate;
using vekstd::TTemplate;

// What was found below an included template, once per file and HTML state.
struct TVisited {
  std::string Fault;  // names its own place
  int Height = 0;     // the deepest nesting of includes within it
};

// The first fault a render of the include tag N of From could meet: the
// include itself, or any include within the templates it includes, walked
// with an explicit stack, each template once per HTML state. "" for none.
std::string IncludeFault(const vekstd::TResolver& Resolver, const TTemplate& From,
                         const vekstd::TNode& N, std::vector<TOpenTemplate> Open, int MaxDepth,
                         std::map<std::string, TVisited>& Seen) {
  struct TStep {
    std::shared_ptr<const TTemplate> T;
    std::string Key;
    size_t Next = 0;
    int Height = 0;
  };
  std::vector<TStep> stack;
  const TTemplate* from = &From;
  const vekstd::TNode* n = &N;
  std::string fault;
  for (;;) {
    vekstd::TResolved r = Resolver.Resolve(*from, *n, Open);
    std::string key =
        r.File.Path.string() + '\n' + (r.Template ? r.Template->StartState.Key() : "");
    auto seen = Seen.find(key);
    if (!r.Fault.empty()) {
      fault = stack.empty() ? r.Fault : from->Where(n->Begin) + ": " + r.Fault;
    } else if (seen != Seen.end()) {
      fault = seen->second.Fault;
      if (fault.empty() && static_cast<int>(Open.size()) + seen->second.Height > MaxDepth) {
        fault = (stack.empty() ? "" : from->Where(n->Begin) + ": ") +
                "includes nested deeper than " + std::to_string(MaxDepth) + " through " +
                r.File.Name;
      }
      if (!fault.empty() && !stack.empty()) fault = "include: " + fault;
    } else {
      Open.push_back({r.File.Name, r.File.Path});
      stack.push_back({std::move(r.Template), std::move(key)});
    }
    if (!fault.empty()) break;
    // On to the next include of the innermost template; those done are
    // remembered with the depth of includes below them.
    n = nullptr;
    while (!stack.empty() && !n) {
      TStep& s = stack.back();
      const auto& nodes = s.T->Nodes;
      while (s.Next < nodes.size() &&
             (nodes[s.Next].Kind != TNodeKind::Include || nodes[s.Next].Path.empty()))
        ++s.Next;
      if (s.Next < nodes.size()) {
        from = s.T.get();
        n = &nodes[s.Next++];
        break;
      }
      Seen[s.Key] = {"", s.Height};
      const int height = s.Height + 1;
      stack.pop_back();
      Open.pop_back();
      if (!stack.empty()) stack.back().Height = std::max(stack.back().Height, height);
    }
    if (!n) return "";
  }
  // Every template on the way holds the fault.
  for (const TStep& s : stack) Seen[s.Key] = {fault, 0};
  if (!stack.empty() && fault.rfind("include: ", 0) != 0) fault = "include: " + fault;
  return fault;
}

}  // namespace

std::vector<TVekTemplateIssue> VekCheckTemplate(const AnsiString& Text, const AnsiString& Name,
                                                const TVekTemplateRoot* Root,
                                                const TVekStdTagsOptions& Options) {
  TVekStdTagsOptions options = Options;
  options.Lenient = false;  // check finds what a render refuses
  if (const std::string fault = vekstd::TooLarge(Text.size(), options.MaxTemplateSize);
      !fault.empty()) {
    TVekTemplateIssue issue;
    issue.Line = issue.Column = 1;
    issue.Message = fault;
    return {issue};
  }
  const auto t = vekstd::ParseTemplate(Text, Name, options.TagBeg, options.TagEnd,
                                       vekstd::THtmlState(), options.Extensions.get());
  std::vector<std::pair<int, TVekTemplateIssue>> found;  // by offset
  std::set<std::pair<int, std::string>> told;            // what the resolver found, told once
  auto add = [&](int Offset, const std::string& Message, bool Warning) {
    TVekTemplateIssue issue;
    const EVekTemplateError::TPlace place = t->Place(Offset);
    issue.Line = place.Line;
    issue.Column = place.Column;
    issue.Message = Message;
    issue.Warning = Warning;
    found.push_back({Offset, issue});
  };
  for (const auto& e : t->Errors) add(e.Offset, e.Message, false);
  for (const auto& w : t->Warnings) add(w.Offset, w.Message, true);
  // Past the cap, the count of the rest, after the last one listed.
  if (t->ErrorCount > t->Errors.size()) {
    add(t->Errors.back().Offset, vekstd::MoreErrors(t->ErrorCount, t->Errors.size()), false);
  }
  if (const vekstd::TRefusal deep = vekstd::TooDeep(t, options.MaxDepth))
    add(deep.Offset, deep.Message, false);
  if (Root) {
    const vekstd::TResolver resolver(*Root, options);
    std::filesystem::path path;
    try {
      path = Root->LocatePath(Root->Dir() / Name).Path;
    } catch (const EVekPathError&) {
      // a text checked under a name no file has
    }
    std::map<std::string, TVisited> seen;
    // The macros the page imports, and its calls of them.
    if (t->Errors.empty()) {
      if (const vekstd::TRefusal f = resolver.ImportFault(t);
          f && told.insert({f.Offset, f.Message}).second)
        add(f.Offset, f.Message, false);
    }
    for (const auto& n : t->Nodes) {
      const bool include = n.Kind == TNodeKind::Include;
      if ((!include && n.Kind != TNodeKind::Extends) || n.Path.empty()) continue;
      if (include && t->Errors.empty()) {
        const std::string fault =
            IncludeFault(resolver, *t, n, {{Name, path}}, options.MaxIncludeDepth, seen);
        if (!fault.empty() && told.insert({n.Begin, fault}).second) add(n.Begin, fault, false);
        continue;
      }
      try {
        Root->Locate(Name, n.Path);
      } catch (const EVekTemplateError& e) {
        const std::string fault = std::string(include ? "include: " : "extends: ") + e.what();
        if (told.insert({n.Begin, fault}).second) add(n.Begin, fault, false);
      }
    }
    // A template that extends layouts: its blocks escaped where the layouts
    // put them, as a render places them.
    if (t->Extends >= 0 && t->Errors.empty()) {
      const auto& ext = t->Nodes[static_cast<size_t>(t->Extends)];
      const vekstd::TLayoutChain chain = resolver.Layouts(t, path);
      if (chain.Fault && chain.Fault.In == t) {
        if (told.insert({chain.Fault.Offset, chain.Fault.Message}).second)
          add(chain.Fault.Offset, chain.Fault.Message, false);
      } else if (chain.Fault) {
        add(ext.Begin, std::string("extends: ") + chain.Fault.Error().what(), false);
      } else {
        for (const auto& e : chain.Templates.front()->Errors) add(e.Offset, e.Message, false);
        if (chain.Templates.front()->Errors.empty()) {
          const vekstd::TRefusal f = resolver.ImportFault(chain.Templates.front());
          if (f && told.insert({f.Offset, f.Message}).second) add(f.Offset, f.Message, false);
        }
        // The layouts' includes, with the page and its layouts open: a layout
        // that includes its page is a cycle.
        std::vector<TOpenTemplate> open;
        for (size_t i = 0; i < chain.Templates.size(); ++i)
          open.push_back({chain.Templates[i]->Name, chain.Paths[i]});
        for (size_t i = 1; i < chain.Templates.size(); ++i) {
          const TTemplate& layout = *chain.Templates[i];
          for (const auto& n : layout.Nodes) {
            if (n.Kind != TNodeKind::Include || n.Path.empty()) continue;
            const std::string fault =
                IncludeFault(resolver, layout, n, open, options.MaxIncludeDepth, seen);
            if (!fault.empty())
              add(ext.Begin, "extends: " + layout.Where(n.Begin) + ": " + fault, false);
          }
        }
      }
    }
  }
  std::stable_sort(found.begin(), found.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<TVekTemplateIssue> issues;
  for (auto& f : found) issues.push_back(std::move(f.second));
  return issues;
}

std::vector<TVekTemplateIssue> VekCheckTemplate(const AnsiString& Text, const AnsiString& Name,
                                                const TVekTemplateRoot* Root,
                                                const AnsiString& TagBeg, const AnsiString& TagEnd,
                                                int MaxDepth) {
  TVekStdTagsOptions options;
  options.TagBeg = TagBeg;
  options.TagEnd = TagEnd;
  options.MaxDepth = MaxDepth;
  return VekCheckTemplate(Text, Name, Root, options);
}
