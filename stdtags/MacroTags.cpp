// The parser's handlers of the macro tags: a macro's definition and its
// parameters, a call and its arguments, an import of another file's macros.
#include <string>

#include "TemplateParser.h"

namespace vekstd {

// macro NAME PARAM PARAM=DEFAULT ...: a pair at the top level of a
// template; its body is output where it is called.
void TParser::OnMacro(TTagRead& R) {
  const bool nested = !FOpen.empty();
  OpenPair(R, TNodeKind::Macro);
  ++FOpenMacros;
  TNode& n = Node(R.Node);
  n.Macro = -1;
  if (R.Syntax) {
    TagError(R.Node, R.Syntax.At, R.Syntax.Message);
    return;
  }
  if (nested) {
    Error(R.Begin, Tag("macro") + " stands at the top level of a template only, not inside " +
                       T.TagAt(Node(FOpen[FOpen.size() - 2].Node)));
    return;
  }
  TMacro m;
  if (!MacroParams(R, m)) return;
  if (T.FindMacro(m.Name) >= 0) {
    Error(R.Begin, "a second " + Tag("macro " + m.Name) + ": a name names one macro");
    return;
  }
  m.Node = R.Node;
  n.Path = m.Name;
  n.Macro = static_cast<int>(T.Macros.size());
  T.Macros.push_back(std::move(m));
}

// The name and parameters of a macro tag into M; false (with the error)
// when they are malformed.
bool TParser::MacroParams(const TTagRead& R, TMacro& M) {
  const auto& t = R.Tokens;
  auto plainName = [](const std::string& W) {
    return W.find_first_of(".[]@-") == std::string::npos && NormalizePath(W) == W && W != "and" &&
           W != "or" && W != "not" && W != "in";
  };
  if (!R.Plain || t.size() < 2 || t[1].Kind != TToken::TKind::Word || !plainName(t[1].Text)) {
    Error(R.Begin, Tag("macro") + " takes a name, then its parameters, as in " +
                       Tag("macro card title href=\"#\""));
    return false;
  }
  M.Name = t[1].Text;
  for (size_t i = 2; i < t.size(); ++i) {
    if (t[i].Kind != TToken::TKind::Word || !plainName(t[i].Text)) {
      TagError(R.Node, t[i].Offset,
               "\"" + t[i].Text + "\" is no parameter's name: a plain word, as in title");
      return false;
    }
    TMacroParam p;
    p.Name = t[i].Text;
    for (const auto& q : M.Params) {
      if (q.Name == p.Name) {
        TagError(R.Node, t[i].Offset, "the parameter " + p.Name + " is named twice");
        return false;
      }
    }
    if (i + 1 < t.size() && t[i + 1].Kind == TToken::TKind::Op && t[i + 1].Text == "=") {
      // A default: quoted text, a number, true, false or null.
      const bool literal =
          i + 2 < t.size() &&
          (t[i + 2].Kind == TToken::TKind::String ||
           (t[i + 2].Kind == TToken::TKind::Word && WordLiteral(t[i + 2].Text, p.Default)));
      if (!literal) {
        TagError(R.Node, t[i + 1].Offset,
                 "the default of " + p.Name +
                     " is quoted text, a number, true, false or null, as in title=\"Untitled\"");
        return false;
      }
      if (t[i + 2].Kind == TToken::TKind::String) p.Default = t[i + 2].Text;
      p.HasDefault = true;
      i += 2;
    }
    M.Params.push_back(std::move(p));
  }
  return true;
}

// call NAME ARG=VALUE ...: quoted text stays literal, anything else is an
// expression evaluated where the call stands.
void TParser::OnCall(TTagRead& R) {
  if (R.Syntax) {
    TagError(R.Node, R.Syntax.At, R.Syntax.Message);
    return;
  }
  const auto& t = R.Tokens;
  if (!R.Plain || t.size() < 2 || t[1].Kind != TToken::TKind::Word ||
      (t.size() > 2 && t[2].Kind == TToken::TKind::Op && t[2].Text == "=")) {
    Error(R.Begin, Tag("call") + " takes the macro's name, then NAME=VALUE arguments, as in " +
                       Tag("call card title=post.title"));
    return;
  }
  TNode& n = Node(R.Node);
  n.Path = t[1].Text;
  n.Include = static_cast<int>(T.Includes.size());
  T.Includes.emplace_back();
  T.Includes.back().Args = TData::object();
  const size_t errors = T.ErrorCount;
  Args(R, 2, n.Include, false);
  if (T.ErrorCount == errors) Node(R.Node).Kind = TNodeKind::Call;
}

// import file="...": the macros another file defines, callable here.
void TParser::OnImport(TTagRead& R) {
  TNode& n = Node(R.Node);
  n.Path = R.Params.Values("file");
  if (n.Path.empty() || R.Params.Count() != 1) {
    Error(R.Begin,
          Tag("import") + " takes the file only, as in " + Tag("import file=\"_macros.html\""));
    return;
  }
  if (!FOpen.empty()) {
    Error(R.Begin, Tag("import") + " stands at the top level of a template only, not inside " +
                       T.TagAt(Node(FOpen.back().Node)));
    return;
  }
  n.Kind = TNodeKind::Import;
  T.Imports.push_back(R.Node);
}

}  // namespace vekstd
