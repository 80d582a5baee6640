// VekCheckDataNames: the names templates use that the data lacks. Walks the
// parsed template and its includes once each, with an explicit stack, over
// the sets of values each scope may hold.
#include <set>
#include <string>

#include "DataPath.h"
#include "Suggest.h"
#include "TemplateResolver.h"
#include "VekStdTags.h"
#include "VekTemplate.h"

using json = TVekData;

namespace {

const size_t kMaxElements = 1000;  // elements of one list looked into

// The values a scope may hold; a named loop's are found by its name alone.
struct TScopeSet : std::vector<const json*> {
  using std::vector<const json*>::vector;
  std::string Name;
};

// Every value Path may stand for, looked up from the innermost scope set out.
TScopeSet Resolve(const std::vector<TScopeSet>& Scopes, const std::string& Path) {
  if (Path == ".") return Scopes.back();
  size_t dot = Path.find('.');
  const std::string first = Path.substr(0, dot);
  TScopeSet found;
  for (auto it = Scopes.rbegin(); it != Scopes.rend() && found.empty(); ++it) {
    if (!it->Name.empty()) {
      if (it->Name == first) found.insert(found.end(), it->begin(), it->end());
      continue;
    }
    for (const json* v : *it) {
      if (const json* hit = vekstd::DataStep(v, first)) found.push_back(hit);
    }
  }
  while (!found.empty() && dot != std::string::npos) {
    const size_t next = Path.find('.', dot + 1);
    const std::string key =
        Path.substr(dot + 1, next == std::string::npos ? std::string::npos : next - dot - 1);
    TScopeSet deeper;
    for (const json* v : found) {
      if (const json* hit = vekstd::DataStep(v, key)) deeper.push_back(hit);
    }
    found.swap(deeper);
    dot = next;
  }
  return found;
}

// " (did you mean ...?)" for a path the data lacks: its first part that
// finds nothing, replaced by the nearest name found where it was looked for
// (the members of the objects there, a named loop's name).
std::string NearestPath(const std::vector<TScopeSet>& Scopes, const std::string& Path) {
  size_t end = Path.find('.');
  size_t start = 0;
  for (;;) {
    const std::string prefix = Path.substr(0, end);
    if (Resolve(Scopes, prefix).empty()) break;
    if (end == std::string::npos) return "";
    start = end + 1;
    end = Path.find('.', start);
  }
  const std::string part = Path.substr(start, end == std::string::npos ? end : end - start);
  std::vector<std::string> names;
  auto members = [&](const json* V) {
    if (!V->is_object()) return;
    size_t i = 0;
    for (auto it = V->begin(); it != V->end() && i < kMaxElements; ++it, ++i)
      names.push_back(it.key());
  };
  if (start == 0) {
    for (const auto& s : Scopes) {
      if (!s.Name.empty()) {
        names.push_back(s.Name);
        continue;
      }
      for (const json* v : s) members(v);
    }
  } else {
    for (const json* v : Resolve(Scopes, Path.substr(0, start - 1))) members(v);
  }
  const std::string near = vekstd::Nearest(part, names);
  if (near.empty()) return "";
  return " (did you mean \"" + Path.substr(0, start) + near +
         (end == std::string::npos ? "" : Path.substr(end)) + "\"?)";
}

}  // namespace

std::vector<TVekTemplateIssue> VekCheckDataNames(const AnsiString& Text, const AnsiString& Name,
                                                 const TVekTemplateRoot& Root, const json& Data,
                                                 const AnsiString& TagBeg,
                                                 const AnsiString& TagEnd) {
  TVekStdTagsOptions options;
  options.TagBeg = TagBeg;
  options.TagEnd = TagEnd;
  return VekCheckDataNames(Text, Name, Root, Data, options);
}

std::vector<TVekTemplateIssue> VekCheckDataNames(const AnsiString& Text, const AnsiString& Name,
                                                 const TVekTemplateRoot& Root, const json& Data,
                                                 const TVekStdTagsOptions& Options) {
  TVekStdTagsOptions options = Options;
  options.Lenient = true;  // a faulty template is told by the template check
  if (!vekstd::TooLarge(Text.size(), options.MaxTemplateSize).empty()) return {};
  const vekstd::TResolver resolver(Root, options);
  const auto top = vekstd::ParseTemplate(Text, Name, options.TagBeg, options.TagEnd,
                                         vekstd::THtmlState(), options.Extensions.get());
  std::vector<TVekTemplateIssue> issues;
  std::set<std::string> visited{Name};
  struct TFrame {
    std::shared_ptr<const vekstd::TTemplate> T;
    size_t Pos;
    int IncludeAt;  // offset of the include tag in the top template, or -1
    size_t ScopeDepth;
    std::vector<int> Closes;  // the closing tags of the eaches open in T
    std::filesystem::path Path;
  };
  // The render's globals are the outermost scope: found where the data
  // lacks a name.
  std::vector<TScopeSet> scopes;
  if (options.Globals) scopes.push_back({options.Globals.get()});
  scopes.push_back({&Data});
  // Names bound by set and by includes' expressions: their values are not
  // known before a render, so names below them are not looked for.
  std::set<std::string> bound;
  std::vector<TFrame> frames{{top, 0, -1, scopes.size(), {}, {}}};
  while (!frames.empty()) {
    TFrame& f = frames.back();
    if (f.Pos >= f.T->Nodes.size()) {
      scopes.resize(f.ScopeDepth - (frames.size() > 1 ? 1 : 0));
      frames.pop_back();
      continue;
    }
    const auto& n = f.T->Nodes[f.Pos];
    const int nodeIndex = static_cast<int>(f.Pos++);
    while (!f.Closes.empty() && f.Closes.back() == nodeIndex) {
      f.Closes.pop_back();
      scopes.pop_back();
    }
    // A macro's body sees its parameters, not the data: passed over.
    if (n.Kind == vekstd::TNodeKind::Macro && n.Close > nodeIndex) {
      f.Pos = static_cast<size_t>(n.Close) + 1;
      continue;
    }
    // The names the node uses: a value's (unless it has a default), an
    // each's list or a range's ends, the names in a condition, the
    // arguments of an include or a call.
    std::vector<std::string> names;
    const vekstd::TDetails& d = f.T->DetailsOf(n);
    if (n.Kind == vekstd::TNodeKind::Value && !vekstd::HasDefault(d.Mods)) {
      names.push_back(n.Path);
    } else if (n.Kind == vekstd::TNodeKind::Each) {
      if (d.Range.empty()) names.push_back(n.Path);
      for (const auto& end : d.Range) {
        if (end.Kind == vekstd::TCondOp::TKind::Path) names.push_back(end.Path);
      }
    }
    for (const auto& op : d.Cond) {
      if (op.Kind == vekstd::TCondOp::TKind::Path) names.push_back(op.Path);
    }
    if (n.Kind == vekstd::TNodeKind::Include || n.Kind == vekstd::TNodeKind::Call) {
      for (const auto& e : f.T->IncludeOf(n).Exprs) {
        for (const auto& op : e.second) {
          if (op.Kind == vekstd::TCondOp::TKind::Path) names.push_back(op.Path);
        }
      }
    }
    TScopeSet values;
    for (const auto& path : names) {
      if (path.empty() || path[0] == '@' || bound.count(path.substr(0, path.find('.')))) continue;
      values = Resolve(scopes, path);
      if (values.empty()) {
        TVekTemplateIssue issue;
        issue.Warning = true;
        if (f.IncludeAt < 0) {
          const auto place = top->Place(n.Begin);
          issue.Line = place.Line;
          issue.Column = place.Column;
          issue.Message = "no \"" + path + "\" in the data" + NearestPath(scopes, path);
        } else {
          const auto place = top->Place(f.IncludeAt);
          issue.Line = place.Line;
          issue.Column = place.Column;
          issue.Message = "no \"" + path + "\" in the data" + NearestPath(scopes, path) +
                          " (used at " + f.T->Where(n.Begin) + ")";
        }
        issues.push_back(std::move(issue));
      }
    }
    if (n.Kind == vekstd::TNodeKind::Set) bound.insert(d.LoopName);
    if (n.Kind == vekstd::TNodeKind::Each && n.Close >= 0 && d.Range.empty()) {
      TScopeSet elements;
      for (const json* v : values) {
        if (!v->is_array() && !v->is_object()) continue;
        size_t i = 0;
        for (auto it = v->begin(); it != v->end() && i < kMaxElements; ++it, ++i)
          elements.push_back(&*it);
      }
      // An each over an empty list: its names can be checked against nothing.
      if (elements.empty()) {
        f.Pos = static_cast<size_t>(n.Close) + 1;
      } else {
        elements.Name = d.LoopName;
        scopes.push_back(std::move(elements));
        f.Closes.push_back(n.Close);
      }
    } else if ((n.Kind == vekstd::TNodeKind::Include || n.Kind == vekstd::TNodeKind::Extends) &&
               !n.Path.empty()) {
      // A layout is looked into as an include without parameters is; what
      // the resolver refuses is told by the template check.
      std::vector<vekstd::TOpenTemplate> open;
      for (const TFrame& o : frames) open.push_back({o.T->Name, o.Path});
      vekstd::TResolved r = resolver.Resolve(*f.T, n, open);
      if (!r.Fault.empty() || !visited.insert(r.File.Path.string()).second) continue;
      const int at = f.IncludeAt < 0 ? n.Begin : f.IncludeAt;
      if (n.Kind == vekstd::TNodeKind::Include) {
        for (const auto& e : f.T->IncludeOf(n).Exprs) bound.insert(e.first);
        scopes.push_back({&f.T->IncludeOf(n).Args});
      } else {
        scopes.emplace_back();
      }
      frames.push_back({std::move(r.Template), 0, at, scopes.size(), {}, r.File.Path});
    }
  }
  return issues;
}
