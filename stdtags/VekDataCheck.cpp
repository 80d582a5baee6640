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

// The names a node uses: a value's (unless it has a default), an each's
// list or a range's ends, the names in a condition, the arguments of an
// include or a call.
std::vector<std::string> NamesOf(const vekstd::TTemplate& T, const vekstd::TNode& N) {
  std::vector<std::string> names;
  const vekstd::TDetails& d = T.DetailsOf(N);
  if (N.Kind == vekstd::TNodeKind::Value && !vekstd::HasDefault(d.Mods)) {
    names.push_back(N.Path);
  } else if (N.Kind == vekstd::TNodeKind::Each) {
    if (d.Range.empty()) names.push_back(N.Path);
    for (const auto& end : d.Range) {
      if (end.Kind == vekstd::TCondOp::TKind::Path) names.push_back(end.Path);
    }
  }
  for (const auto& op : d.Cond) {
    if (op.Kind == vekstd::TCondOp::TKind::Path) names.push_back(op.Path);
  }
  if (N.Kind == vekstd::TNodeKind::Include || N.Kind == vekstd::TNodeKind::Call) {
    for (const auto& e : T.IncludeOf(N).Exprs) {
      for (const auto& op : e.second) {
        if (op.Kind == vekstd::TCondOp::TKind::Path) names.push_back(op.Path);
      }
    }
  }
  return names;
}

// One walk over a template and the files it includes, with an explicit
// stack of frames and the scope sets open at each point.
class TDataNameWalk {
 public:
  TDataNameWalk(const TVekTemplateRoot& Root, const TVekStdTagsOptions& Options,
                std::shared_ptr<const vekstd::TTemplate> Top, const json& Data)
      : resolver_(Root, Options), top_(std::move(Top)), visited_{top_->Name} {
    // The render's globals are the outermost scope: found where the data
    // lacks a name.
    if (Options.Globals) scopes_.push_back({Options.Globals.get()});
    scopes_.push_back({&Data});
    frames_.push_back({top_, 0, -1, scopes_.size(), {}, {}});
  }

  std::vector<TVekTemplateIssue> Run() {
    while (!frames_.empty()) Step();
    return std::move(issues_);
  }

 private:
  struct TFrame {
    std::shared_ptr<const vekstd::TTemplate> T;
    size_t Pos;
    int IncludeAt;  // offset of the include tag in the top template, or -1
    size_t ScopeDepth;
    std::vector<int> Closes;  // the closing tags of the eaches open in T
    std::filesystem::path Path;
  };

  void Step() {
    TFrame& f = frames_.back();
    if (f.Pos >= f.T->Nodes.size()) {
      scopes_.resize(f.ScopeDepth - (frames_.size() > 1 ? 1 : 0));
      frames_.pop_back();
      return;
    }
    const auto& n = f.T->Nodes[f.Pos];
    const int nodeIndex = static_cast<int>(f.Pos++);
    while (!f.Closes.empty() && f.Closes.back() == nodeIndex) {
      f.Closes.pop_back();
      scopes_.pop_back();
    }
    // A macro's body sees its parameters, not the data: passed over.
    if (n.Kind == vekstd::TNodeKind::Macro && n.Close > nodeIndex) {
      f.Pos = static_cast<size_t>(n.Close) + 1;
      return;
    }
    TScopeSet values;
    for (const auto& path : NamesOf(*f.T, n)) {
      if (path.empty() || path[0] == '@' || bound_.count(path.substr(0, path.find('.')))) continue;
      values = Resolve(scopes_, path);
      if (values.empty()) Report(f, n, path);
    }
    if (n.Kind == vekstd::TNodeKind::Set) bound_.insert(f.T->DetailsOf(n).LoopName);
    if (n.Kind == vekstd::TNodeKind::Each && n.Close >= 0 && f.T->DetailsOf(n).Range.empty()) {
      EnterEach(f, n, values);
    } else if ((n.Kind == vekstd::TNodeKind::Include || n.Kind == vekstd::TNodeKind::Extends) &&
               !n.Path.empty()) {
      EnterFile(f, n);  // may grow frames_: f is not used after it
    }
  }

  // A name the data lacks, told at its place in the top template (the
  // include's tag when it stands in an included file).
  void Report(const TFrame& F, const vekstd::TNode& N, const std::string& Path) {
    TVekTemplateIssue issue;
    issue.Warning = true;
    const auto place = top_->Place(F.IncludeAt < 0 ? N.Begin : F.IncludeAt);
    issue.Line = place.Line;
    issue.Column = place.Column;
    issue.Message = "no \"" + Path + "\" in the data" + NearestPath(scopes_, Path);
    if (F.IncludeAt >= 0) issue.Message += " (used at " + F.T->Where(N.Begin) + ")";
    issues_.push_back(std::move(issue));
  }

  // An each's body is walked once over the elements its list may hold.
  void EnterEach(TFrame& F, const vekstd::TNode& N, const TScopeSet& Lists) {
    TScopeSet elements;
    for (const json* v : Lists) {
      if (!v->is_array() && !v->is_object()) continue;
      size_t i = 0;
      for (auto it = v->begin(); it != v->end() && i < kMaxElements; ++it, ++i)
        elements.push_back(&*it);
    }
    // An each over an empty list: its names can be checked against nothing.
    if (elements.empty()) {
      F.Pos = static_cast<size_t>(N.Close) + 1;
      return;
    }
    elements.Name = F.T->DetailsOf(N).LoopName;
    scopes_.push_back(std::move(elements));
    F.Closes.push_back(N.Close);
  }

  // A layout is looked into as an include without parameters is; what the
  // resolver refuses is told by the template check. Each file once.
  void EnterFile(TFrame& F, const vekstd::TNode& N) {
    std::vector<vekstd::TOpenTemplate> open;
    for (const TFrame& o : frames_) open.push_back({o.T->Name, o.Path});
    vekstd::TResolved r = resolver_.Resolve(*F.T, N, open);
    if (!r.Fault.empty() || !visited_.insert(r.File.Path.string()).second) return;
    const int at = F.IncludeAt < 0 ? N.Begin : F.IncludeAt;
    if (N.Kind == vekstd::TNodeKind::Include) {
      // Names bound by an include's expressions are not known before a
      // render: names below them are not looked for.
      for (const auto& e : F.T->IncludeOf(N).Exprs) bound_.insert(e.first);
      scopes_.push_back({&F.T->IncludeOf(N).Args});
    } else {
      scopes_.emplace_back();
    }
    frames_.push_back({std::move(r.Template), 0, at, scopes_.size(), {}, r.File.Path});
  }

  const vekstd::TResolver resolver_;
  std::shared_ptr<const vekstd::TTemplate> top_;
  std::set<std::string> visited_;
  std::vector<TScopeSet> scopes_;
  // Names bound by set and by includes' expressions.
  std::set<std::string> bound_;
  std::vector<TFrame> frames_;
  std::vector<TVekTemplateIssue> issues_;
};

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
  auto top = vekstd::ParseTemplate(Text, Name, options.TagBeg, options.TagEnd, vekstd::THtmlState(),
                                   options.Extensions.get());
  return TDataNameWalk(Root, options, std::move(top), Data).Run();
}
