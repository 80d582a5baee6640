// The resolver of includes and layouts: where a file is found, how it is
// loaded, and every fault of a template a page uses, worded once.
#include "TemplateResolver.h"

namespace vekstd {

namespace {

// "a.html -> b.html -> Next": the templates open, then the one named next.
std::string ChainText(const std::vector<TOpenTemplate>& Open, const AnsiString& Next) {
  std::string s;
  for (const auto& o : Open) s += o.Name + " -> ";
  return s + Next;
}

}  // namespace

std::string TheLimit(const std::string& Option) {
  return " (the limit " + Option + ")";
}

EVekTemplateError TRefusal::Error(std::vector<EVekTemplateError::TPlace> IncludedFrom) const {
  if (!In) return EVekTemplateError(Message);
  return EVekTemplateError(In->Place(Offset), Message, std::move(IncludedFrom), Limit);
}

std::string MoreErrors(size_t Count, size_t Listed) {
  return "and " + std::to_string(Count - Listed) + " more errors after these (the first " +
         std::to_string(Listed) + " are listed)";
}

TResolver::TResolver(const TVekTemplateRoot& Root, const TVekStdTagsOptions& Options)
    : FRoot(Root), FOptions(Options) {}

std::string TooLarge(unsigned long long Size, long long Max) {
  if (Max < 0 || Size <= static_cast<unsigned long long>(Max)) return "";
  return "the template is " + std::to_string(Size) + " bytes, more than " + std::to_string(Max) +
         TheLimit("MaxTemplateSize");
}

std::shared_ptr<const TTemplate> TResolver::Get(const TVekTemplateFile& File,
                                                const THtmlState& State) const {
  if (FOptions.FilesRead) FOptions.FilesRead->push_back(File.Name);
  // Judged by the file's size before it is read.
  if (const std::string fault = TooLarge(FRoot.Stamp(File).Size, FOptions.MaxTemplateSize);
      !fault.empty())
    throw EVekTemplateError({File.Name}, fault, {}, "MaxTemplateSize");
  if (FOptions.Cache)
    return FOptions.Cache->Get(FRoot, File, FOptions.TagBeg, FOptions.TagEnd, State,
                               FOptions.Extensions.get());
  return ParseTemplate(FRoot.Read(File), File.Name, FOptions.TagBeg, FOptions.TagEnd, State,
                       FOptions.Extensions.get());
}

TRefusal TResolver::Refusal(const std::shared_ptr<const TTemplate>& T) const {
  if (TRefusal own = OwnRefusal(T)) return own;
  return ImportFault(T);
}

TRefusal TResolver::OwnRefusal(const std::shared_ptr<const TTemplate>& T) const {
  // A file that grew between its size and its reading.
  if (const std::string fault = TooLarge(T->Text.size(), FOptions.MaxTemplateSize); !fault.empty())
    return {nullptr, 0, T->Name + ": " + fault, "MaxTemplateSize"};
  if (!FOptions.Lenient && !T->Errors.empty()) {
    // Every fault kept, one a line: the first is the error's own, each
    // other follows with its place.
    const auto& first = T->Errors.front();
    std::string message = first.Message;
    for (size_t i = 1; i < T->Errors.size(); ++i)
      message += "\n" + T->Where(T->Errors[i].Offset) + ": " + T->Errors[i].Message;
    if (T->ErrorCount > T->Errors.size())
      message += "\n" + T->Where(T->Errors.back().Offset) + ": " +
                 MoreErrors(T->ErrorCount, T->Errors.size());
    return {T, first.Offset, message, {}};
  }
  return TooDeep(T, FOptions.MaxDepth);
}

TRefusal TooDeep(const std::shared_ptr<const TTemplate>& T, int MaxDepth) {
  const int max = MaxDepth;
  if (max >= 0 && T->FirstAtDepth.size() > static_cast<size_t>(max)) {
    const auto& n = T->Nodes[static_cast<size_t>(T->FirstAtDepth[static_cast<size_t>(max)])];
    return {T, n.Begin, "pairs nested deeper than " + std::to_string(max) + TheLimit("MaxDepth"),
            "MaxDepth"};
  }
  return {};
}

TResolved TResolver::Resolve(const TTemplate& From, const TNode& N,
                             const std::vector<TOpenTemplate>& Open) const {
  const bool include = N.Kind == TNodeKind::Include;
  const std::string kind = include ? "include: " : "extends: ";
  const int max = FOptions.MaxIncludeDepth;
  TResolved r;
  if (!include && static_cast<int>(Open.size()) > max) {
    r.Fault = "layouts extend each other deeper than " + std::to_string(max);
    return r;
  }
  try {
    r.File = FRoot.Locate(From.Name, N.Path);
  } catch (const EVekPathError& e) {
    r.Fault = kind + e.what();
    return r;
  }
  for (const auto& o : Open) {
    if (o.Path != r.File.Path) continue;
    r.Fault = (include ? "include cycle: " : "layout cycle: ") + ChainText(Open, r.File.Name);
    return r;
  }
  if (include && static_cast<int>(Open.size()) > max) {
    r.Fault =
        "includes nested deeper than " + std::to_string(max) + ": " + ChainText(Open, r.File.Name);
    return r;
  }
  try {
    r.Template = Get(r.File, include ? From.IncludeOf(N).State : THtmlState());
  } catch (const EVekTemplateError& e) {
    r.Fault = kind + e.what();
    return r;
  }
  if (const TRefusal refused = Refusal(r.Template)) {
    r.Fault = kind + refused.Error().what();
  } else if (include && r.Template->Extends >= 0 && r.Template->StartState != THtmlState()) {
    // Its layout is read from element text, as a page's is.
    r.Fault = "include: " + r.File.Name +
              " extends a layout: it is included only where element text stands, not in " +
              r.Template->StartState.Describe();
  } else if (include && !FOptions.Lenient && r.Template->EndState != r.Template->StartState) {
    r.Fault = "include: " + r.File.Name + " begins in " + r.Template->StartState.Describe() +
              " and ends in " + r.Template->EndState.Describe() +
              ": what follows it would be escaped for the wrong place";
  }
  return r;
}

TLayoutChain TResolver::Layouts(std::shared_ptr<const TTemplate> Page,
                                const std::filesystem::path& Path) const {
  TLayoutChain c;
  std::vector<TOpenTemplate> open{{Page->Name, Path}};
  c.Templates.push_back(std::move(Page));
  c.Paths.push_back(Path);
  while (c.Templates.back()->Extends >= 0) {
    const auto& t = c.Templates.back();
    const TNode& n = t->Nodes[static_cast<size_t>(t->Extends)];
    TResolved r = Resolve(*t, n, open);
    if (!r.Fault.empty()) {
      c.Fault = {t, n.Begin, r.Fault, {}};
      return c;
    }
    open.push_back({r.File.Name, r.File.Path});
    c.Templates.push_back(std::move(r.Template));
    c.Paths.push_back(r.File.Path);
  }
  // Each template's blocks escaped where the layout it extends puts them.
  for (size_t i = c.Templates.size() - 1; i-- > 0;) {
    c.Templates[i] = PlaceBlocksKept(*c.Templates[i], c.Templates[i + 1]);
    if (i == 0) break;
    if (TRefusal refused = Refusal(c.Templates[i])) {
      c.Fault = std::move(refused);
      return c;
    }
  }
  return c;
}

}  // namespace vekstd
