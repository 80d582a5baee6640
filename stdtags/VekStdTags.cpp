// TVekStdTags: the binder of the standard tags to a producer, and the ways
// into a render: by name, by text, or through the producer's entry points.
#include "VekStdTags.h"

#include <stdexcept>
#include <string>
#include <system_error>

#include "Escapers.h"
#include "TemplateResolver.h"
#include "TextRoutines.h"
#include "VekTemplate.h"

using json = TVekData;
namespace fs = std::filesystem;

AnsiString VekHtmlEscape(const AnsiString& S) {
  return vekstd::EscapeHtml(S);
}

TVekStdTags::TVekStdTags(TVekPageProducer* Producer, const TVekTemplateRoot& Root,
                         std::shared_ptr<const json> Data, TVekStdTagsOptions Options)
    : FProducer(Producer), FRoot(Root), FData(std::move(Data)), FOptions(std::move(Options)) {
  if (!FProducer) throw std::invalid_argument("TVekStdTags: no producer");
  if (!FData) throw std::invalid_argument("TVekStdTags: no data");
  if (!FOptions.Cache) FOptions.Cache = std::make_shared<TVekTemplateCache>();
  FProducer->SetVekTagBeg(FOptions.TagBeg);
  FProducer->SetVekTagEnd(FOptions.TagEnd);
  FProducer->SetOnVekTag([this](TObject*, const AnsiString& Name, TStrings*, AnsiString& RetText,
                                int& RetState) { Tag(Name, RetText, RetState); });
}

TVekStdTags::TVekStdTags(TVekPageProducer* Producer, const TVekTemplateRoot& Root,
                         std::shared_ptr<const nlohmann::json> Data, TVekStdTagsOptions Options)
    : TVekStdTags(Producer, Root,
                  Data ? std::make_shared<const json>(*Data) : std::shared_ptr<const json>(),
                  std::move(Options)) {}

TVekStdTags::~TVekStdTags() {
  FProducer->SetOnVekTag(nullptr);
}

TVekStdTags::TPage TVekStdTags::Parse(const TVekTemplateFile& File) {
  TPage page{vekstd::TResolver(FRoot, FOptions).Get(File, vekstd::THtmlState()), File.Path};
  Refuse(page.Template);
  return page;
}

void TVekStdTags::Refuse(const std::shared_ptr<const vekstd::TTemplate>& T) const {
  if (const vekstd::TRefusal refused = vekstd::TResolver(FRoot, FOptions).Refusal(T))
    throw refused.Error();
}

AnsiString TVekStdTags::Load(const AnsiString& Name) {
  FLoaded = {};
  const TVekTemplateFile file = FRoot.Locate("", Name);
  FLoaded = Parse(file);
  // The producer copies the text before the first tag as it is: hand it that
  // text as the parsed template outputs it (a line of block tags dropped,
  // nothing at all before the extends of a layout's page).
  const vekstd::TTemplate& t = *FLoaded.Template;
  if (t.Nodes.empty() || t.Nodes[0].Kind != vekstd::TNodeKind::Text || t.Nodes.size() == 1)
    return t.Text;
  const vekstd::TNode& lead = t.Nodes[0];
  const size_t tag = static_cast<size_t>(t.Nodes[1].Begin);
  AnsiString text;
  if (t.Extends < 0) text = t.Text.substr(static_cast<size_t>(lead.Begin), lead.End - lead.Begin);
  text.append(t.Text, tag, AnsiString::npos);
  return text;
}

AnsiString TVekStdTags::Render(const AnsiString& Name) {
  const TVekTemplateFile file = FRoot.Locate("", Name);
  return Walk(Parse(file), 0);
}

AnsiString TVekStdTags::RenderText(const AnsiString& Text, const AnsiString& Name) {
  std::error_code ec;
  fs::path path = fs::weakly_canonical(FRoot.Dir() / Name, ec);
  if (const std::string fault = vekstd::TooLarge(Text.size(), FOptions.MaxTemplateSize);
      !fault.empty())
    throw EVekTemplateError({Name}, fault, {}, "MaxTemplateSize");
  TPage page{vekstd::ParseTemplate(Text, Name, FOptions.TagBeg, FOptions.TagEnd,
                                   vekstd::THtmlState(), FOptions.Extensions.get()),
             ec ? FRoot.Dir() / Name : path};
  Refuse(page.Template);
  return Walk(page, 0);
}

void TVekStdTags::Tag(const AnsiString& Name, AnsiString& RetText, int& RetState) {
  // The producer is expanding the text Load returned and has copied what
  // stands before its first tag: the rest is rendered from the parsed nodes.
  if (!FLoaded.Template)
    throw EVekTemplateError("no template loaded: the producer expands only what Load returned");
  const auto& nodes = FLoaded.Template->Nodes;
  int first = 0;
  while (first < static_cast<int>(nodes.size()) &&
         nodes[static_cast<size_t>(first)].Kind == vekstd::TNodeKind::Text)
    ++first;
  AnsiString tagName;
  if (first < static_cast<int>(nodes.size())) {
    const auto& n = nodes[static_cast<size_t>(first)];
    AnsiString text = FLoaded.Template->Text.substr(
        static_cast<size_t>(n.Begin) + FOptions.TagBeg.size(),
        static_cast<size_t>(n.End - n.Begin) - FOptions.TagBeg.size() - FOptions.TagEnd.size());
    TVekPageProducer::ExtractTagParams(Trim(text), tagName, nullptr);
  }
  if (first == static_cast<int>(nodes.size()) || tagName != Name)
    throw EVekTemplateError({FLoaded.Template->Name},
                            "the producer expands other text than Load returned");
  RetText = Walk(FLoaded, first);
  RetState = rsStop;
}
