// The form reader on any bytes: a form either loads or is refused with
// EFormError; nothing else may escape, and nothing may crash or leak. A form
// that loads is written again, and that text must load to the same text.
//
// Input: the form text (any bytes).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "FormStreaming.h"
#include "FuzzSupport.h"
#include "VekPgProd.h"

namespace {

// The owner a form is read into: a web module that publishes two handlers.
class TFuzzModule : public TComponent {
 public:
  explicit TFuzzModule(TComponent* Owner) : TComponent(Owner) {
    PublishMethod("PageTag", &TFuzzModule::PageTag);
    PublishMethod("PagePair", &TFuzzModule::PagePair);
  }
  AnsiString ClassName() const override { return "TFuzzModule"; }
  void PageTag(TObject*, const AnsiString&, TStrings*, AnsiString&, int&) {}
  void PagePair(TObject*, const AnsiString&, TStrings*, const AnsiString&, AnsiString&, int&) {}
};

[[noreturn]] void Fail(const char* What, const std::string& Detail) {
  std::fprintf(stderr, "form fuzz: %s: %s\n", What, Detail.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  const std::string text(reinterpret_cast<const char*>(Data), Size);
  TClassTable classes;
  classes.Register<TVekPageProducer>("TVekPageProducer");
  classes.Register<TFuzzModule>("TFuzzModule");
  TFuzzModule module(nullptr);
  try {
    ReadComponentText(text, &module, classes);
  } catch (const EFormError&) {
    return 0;  // refused with the reader's own error: fine
  } catch (const std::exception& e) {
    Fail("an error other than EFormError", e.what());
  }
  std::string written;
  try {
    written = WriteComponentText(&module);
  } catch (const EFormError&) {
    return 0;  // e.g. two components of one name: refused on writing
  }
  TFuzzModule again(nullptr);
  try {
    ReadComponentText(written, &again, classes);
  } catch (const std::exception& e) {
    Fail("a written form does not load", e.what());
  }
  if (WriteComponentText(&again) != written) Fail("round trip", written);
  return 0;
}
