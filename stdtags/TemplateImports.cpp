// The resolver's imports: the files a template imports, followed through
// their own imports with an explicit stack (each file once, a cycle or a
// chain deeper than MaxIncludeDepth refused at the import tag), and the
// judgement of the calls that reach the macros they define.
#include <map>
#include <string>
#include <vector>

#include "Suggest.h"
#include "TemplateMacros.h"
#include "TemplateResolver.h"

namespace vekstd {

std::pair<int, int> TImported::Find(int Module, const std::string& Name) const {
  const TTemplate& t = *Templates[static_cast<size_t>(Module)];
  if (const int own = t.FindMacro(Name); own >= 0) return {Module, own};
  for (const int i : Imports[static_cast<size_t>(Module)]) {
    if (const int m = Templates[static_cast<size_t>(i)]->FindMacro(Name); m >= 0) return {i, m};
  }
  return {-1, -1};
}

TImported TResolver::Imports(const std::shared_ptr<const TTemplate>& T) const {
  TImported r;
  r.Templates.push_back(T);
  r.Imports.emplace_back();
  if (T->Imports.empty()) return r;
  std::filesystem::path rootPath;
  try {
    rootPath = FRoot.Locate("", T->Name).Path;
  } catch (const std::exception&) {
    // a text rendered under a name no file has
  }
  struct TStep {
    int Module;
    size_t Next = 0;
  };
  std::vector<TStep> stack{{0}};
  std::vector<TOpenTemplate> open{{T->Name, rootPath}};
  std::map<std::filesystem::path, int> loaded;
  const int max = FOptions.MaxIncludeDepth;
  while (!stack.empty()) {
    TStep& s = stack.back();
    const TTemplate& t = *r.Templates[static_cast<size_t>(s.Module)];
    if (s.Next >= t.Imports.size()) {
      stack.pop_back();
      open.pop_back();
      continue;
    }
    const TNode& n = t.Nodes[static_cast<size_t>(t.Imports[s.Next++])];
    std::string fault;
    TVekTemplateFile file;
    try {
      file = FRoot.Locate(t.Name, n.Path);
    } catch (const EVekPathError& e) {
      fault = std::string("import: ") + e.what();
    }
    if (fault.empty()) {
      std::string chain;
      for (const auto& o : open) {
        chain += o.Name + " -> ";
        if (!o.Path.empty() && o.Path == file.Path) fault = "import cycle: ";
      }
      if (!fault.empty()) {
        fault += chain + file.Name;
      } else if (const auto hit = loaded.find(file.Path); hit != loaded.end()) {
        r.Imports[static_cast<size_t>(s.Module)].push_back(hit->second);
        continue;
      } else if (static_cast<int>(open.size()) > max) {
        fault = "imports nested deeper than " + std::to_string(max) + TheLimit("MaxIncludeDepth") +
                ": " + chain + file.Name;
      }
    }
    std::shared_ptr<const TTemplate> imported;
    if (fault.empty()) {
      try {
        imported = Get(file, THtmlState());
        if (const TRefusal refused = OwnRefusal(imported))
          fault = std::string("import: ") + refused.Error().what();
      } catch (const EVekTemplateError& e) {
        fault = std::string("import: ") + e.what();
      }
    }
    if (!fault.empty()) {
      // Told at the root's import tag that leads here.
      const TNode& at = T->Nodes[static_cast<size_t>(T->Imports[stack.front().Next - 1])];
      if (stack.size() > 1) fault = t.Where(n.Begin) + ": " + fault;
      r.Fault = {
          T, at.Begin, fault,
          fault.find(TheLimit("MaxIncludeDepth")) != std::string::npos ? "MaxIncludeDepth" : ""};
      return r;
    }
    const int index = static_cast<int>(r.Templates.size());
    r.Imports[static_cast<size_t>(s.Module)].push_back(index);
    r.Templates.push_back(std::move(imported));
    r.Imports.emplace_back();
    loaded[file.Path] = index;
    open.push_back({file.Name, file.Path});
    stack.push_back({index});
  }
  return r;
}

TRefusal TResolver::ImportFault(const std::shared_ptr<const TTemplate>& T) const {
  if (FOptions.Lenient || T->Imports.empty()) return {};
  const TImported imported = Imports(T);
  if (imported.Fault) return imported.Fault;
  // Every call, through the macros it reaches, from the template itself.
  TCallJudge judge([&imported](int Module, const TTemplate& In, const TNode& N,
                               std::string& Fault) -> TMacroRef {
    const auto found = imported.Find(Module, N.Path);
    if (found.first < 0) {
      std::vector<std::string> names;
      std::string files;
      auto add = [&](int I) {
        const TTemplate& t = *imported.Templates[static_cast<size_t>(I)];
        for (const auto& m : t.Macros) names.push_back(m.Name);
      };
      add(Module);
      for (const int i : imported.Imports[static_cast<size_t>(Module)]) {
        add(i);
        files += (files.empty() ? "" : ", ") + imported.Templates[static_cast<size_t>(i)]->Name;
      }
      Fault = In.TagAt(N) + ": no macro " + N.Path + DidYouMean(N.Path, names, "\"", "\"") +
              " is defined in " + In.Name +
              (files.empty() ? "" : " nor in the files it imports (" + files + ")");
      return {};
    }
    const TTemplate& home = *imported.Templates[static_cast<size_t>(found.first)];
    const std::string args =
        ArgumentFault(home.Macros[static_cast<size_t>(found.second)], In.IncludeOf(N));
    if (!args.empty()) {
      Fault = In.TagAt(N) + ": " + args;
      return {};
    }
    return {&home, found.second, found.first};
  });
  for (size_t i = 0; i < T->Nodes.size(); ++i) {
    const TNode& call = T->Nodes[i];
    if (call.Kind == TNodeKind::Macro && call.Close > static_cast<int>(i)) {
      i = static_cast<size_t>(call.Close);
      continue;
    }
    if (call.Kind != TNodeKind::Call) continue;
    std::string fault = judge.Judge(0, *T, call);
    if (fault.empty()) continue;
    // A fault of the call itself names the tag already.
    if (fault.rfind(T->TagAt(call) + ": ", 0) != 0) fault = T->TagAt(call) + ": " + fault;
    return {T, call.Begin, fault, {}};
  }
  return {};
}

}  // namespace vekstd
