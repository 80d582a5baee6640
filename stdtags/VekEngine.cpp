// TVekEngine: the ways into a render without a producer: a template by
// name or a text, to a string, a stream or a sink, each with a renderer of
// its own over the engine's shared root, options, cache and extensions.
#include "VekEngine.h"

#include <ostream>
#include <system_error>

#include "Renderer.h"
#include "TemplateResolver.h"
#include "VekTemplate.h"

namespace fs = std::filesystem;

TVekEngine::TVekEngine(TVekTemplateRoot Templates, TVekStdTagsOptions Options)
    : FRoot(std::move(Templates)), FOptions(std::move(Options)) {
  if (!FOptions.Cache) FOptions.Cache = std::make_shared<TVekTemplateCache>();
  FExtensions = FOptions.Extensions ? std::make_shared<TVekExtensions>(*FOptions.Extensions)
                                    : std::make_shared<TVekExtensions>();
  FOptions.Extensions = FExtensions;
}

TVekEngine::~TVekEngine() = default;

void TVekEngine::AddModifier(const std::string& Name, TVekModifier Function) {
  FExtensions->AddModifier(Name, std::move(Function));
}

void TVekEngine::AddTag(const std::string& Name, TVekTagHandler Handler) {
  FExtensions->AddTag(Name, std::move(Handler));
}

void TVekEngine::AddFunction(const std::string& Name, TVekFunction Function) {
  FExtensions->AddFunction(Name, std::move(Function));
}

void TVekEngine::RenderName(std::string_view Name, const TVekData& Data, std::string* Out,
                            const TVekSink* Sink) const {
  const TVekTemplateFile file = FRoot.Locate("", AnsiString(Name));
  const vekstd::TResolver resolver(FRoot, FOptions);
  TVekStdTags::TPage page{resolver.Get(file, vekstd::THtmlState()), file.Path};
  if (const vekstd::TRefusal refused = resolver.Refusal(page.Template)) throw refused.Error();
  AnsiString text = TVekStdTags::TRenderer(FRoot, Data, FOptions, Sink).Run(page, 0);
  if (Out) *Out = std::move(text);
}

void TVekEngine::RenderString(std::string_view Text, const TVekData& Data, std::string_view Name,
                              std::string* Out, const TVekSink* Sink) const {
  const AnsiString name(Name);
  if (const std::string fault = vekstd::TooLarge(Text.size(), FOptions.MaxTemplateSize);
      !fault.empty())
    throw EVekTemplateError({name}, fault, {}, "MaxTemplateSize");
  // Its place, for includes and cycles: where a file of that name would be.
  fs::path path = FRoot.Dir() / name;
  if (!FRoot.Loader()) {
    std::error_code ec;
    const fs::path real = fs::weakly_canonical(path, ec);
    if (!ec) path = real;
  }
  TVekStdTags::TPage page{
      vekstd::ParseTemplate(AnsiString(Text), name, FOptions.TagBeg, FOptions.TagEnd,
                            vekstd::THtmlState(), FExtensions.get()),
      path};
  const vekstd::TResolver resolver(FRoot, FOptions);
  if (const vekstd::TRefusal refused = resolver.Refusal(page.Template)) throw refused.Error();
  AnsiString text = TVekStdTags::TRenderer(FRoot, Data, FOptions, Sink).Run(page, 0);
  if (Out) *Out = std::move(text);
}

namespace {

// A sink that writes to a stream and fails when the stream does.
TVekSink StreamSink(std::ostream& Out) {
  return [&Out](const char* Bytes, size_t Size) {
    Out.write(Bytes, static_cast<std::streamsize>(Size));
    if (!Out) throw EVekTemplateError("the page could not be written to its stream");
  };
}

}  // namespace

std::string TVekEngine::Render(std::string_view Name, const TVekData& Data) const {
  std::string page;
  RenderName(Name, Data, &page, nullptr);
  return page;
}

void TVekEngine::Render(std::string_view Name, const TVekData& Data, std::ostream& Out) const {
  const TVekSink sink = StreamSink(Out);
  RenderName(Name, Data, nullptr, &sink);
}

void TVekEngine::Render(std::string_view Name, const TVekData& Data, const TVekSink& Sink) const {
  RenderName(Name, Data, nullptr, &Sink);
}

std::string TVekEngine::RenderText(std::string_view Text, const TVekData& Data,
                                   std::string_view Name) const {
  std::string page;
  RenderString(Text, Data, Name, &page, nullptr);
  return page;
}

void TVekEngine::RenderText(std::string_view Text, const TVekData& Data, std::ostream& Out,
                            std::string_view Name) const {
  const TVekSink sink = StreamSink(Out);
  RenderString(Text, Data, Name, nullptr, &sink);
}

void TVekEngine::RenderText(std::string_view Text, const TVekData& Data, const TVekSink& Sink,
                            std::string_view Name) const {
  RenderString(Text, Data, Name, nullptr, &Sink);
}

std::vector<TVekTemplateIssue> TVekEngine::Check(std::string_view Name) const {
  const TVekTemplateFile file = FRoot.Locate("", AnsiString(Name));
  return VekCheckTemplate(FRoot.Read(file), file.Name, &FRoot, FOptions);
}

std::vector<TVekTemplateIssue> TVekEngine::CheckText(std::string_view Text,
                                                     std::string_view Name) const {
  return VekCheckTemplate(AnsiString(Text), AnsiString(Name), &FRoot, FOptions);
}
