// A small page served by a producer loaded from a stored form (demo.form):
// the form holds the template, the delimiters and the tag event, bound by
// name to a method that the demo's web module publishes.
#include <iostream>
#include <stdexcept>
#include <string>

#include "FormStreaming.h"
#include "VekPgProd.h"

namespace {

// The application's web module: it owns the producer read from the form and
// publishes the handler that the form's OnVekTag names.
class TDemoModule : public TComponent {
 public:
  explicit TDemoModule(TComponent* Owner) : TComponent(Owner) {
    PublishMethod("PageTag", &TDemoModule::PageTag);
    PublishMethod("PagePair", &TDemoModule::PagePair);
  }
  AnsiString ClassName() const override { return "TDemoModule"; }

  void PageTag(TObject* Sender, const AnsiString& TagName, TStrings* TagParams, AnsiString& RetText,
               int& RetState) {
    if (TagName == "title") {
      RetText = TagParams->IndexOf("upper") >= 0 ? "VEK PAGE PRODUCER" : "Vek page producer";
    } else if (TagName == "user") {
      // Parameters are "name=value" strings; Values reads them by name.
      const AnsiString greeting = TagParams->Values("greeting");
      RetText =
          (greeting.empty() ? "" : greeting + ", ") + "<b>" + TagParams->Values("name") + "</b>";
    } else if (TagName == "img") {
      RetText = "<img src=\"" + TagParams->Values("src") + "\" width=" + TagParams->Values("w") +
                " height=" + TagParams->Values("h") + ">";
      // Expand the rest with [[ and ]] as delimiters, just to show they can change.
      auto* producer = static_cast<TVekPageProducer*>(Sender);
      producer->SetVekTagBeg("[[");
      producer->SetVekTagEnd("]]");
    } else if (TagName == "rows" || TagName == "cols") {
      RetState = rsPairTag;  // the body up to <#/rows#> goes to PagePair
    } else if (TagName == "row") {
      RetText = std::to_string(FRow);
    } else if (TagName == "cell") {
      RetText = std::to_string(FRow * FCol);
    } else if (TagName == "stop") {
      RetState = rsStop;
    }
  }

  // A loop: the raw body is expanded once per repetition through the same
  // producer. The nested expansions overwrite the tag's name and parameters,
  // so what is needed of them is read first.
  void PagePair(TObject* Sender, const AnsiString& TagName, TStrings* TagParams,
                const AnsiString& InnerText, AnsiString& RetText, int& /*RetState*/) {
    auto* producer = static_cast<TVekPageProducer*>(Sender);
    const AnsiString name = TagName, body = InnerText;
    const int count = std::stoi("0" + TagParams->Values("n"));
    for (int i = 1; i <= count; ++i) {
      (name == "rows" ? FRow : FCol) = i;
      RetText += producer->ContentFromString(body);
    }
  }

 private:
  int FRow = 0, FCol = 0;
};

}  // namespace

int main(int argc, char** argv) {
  const char* path = argc > 1 ? argv[1] : VEK_DEMO_FORM;
  try {
    // The classes a form may create.
    TClassTable classes;
    classes.Register<TVekPageProducer>("TVekPageProducer");

    TDemoModule module(nullptr);  // owns, and so frees, what the form creates
    TFileStream file(path, fmOpenRead);
    ReadComponentFromStream(&file, &module, classes);
    auto* producer = dynamic_cast<TVekPageProducer*>(module.FindComponent("PageProducer"));
    if (producer == nullptr)
      throw std::runtime_error(AnsiString(path) + ": no TVekPageProducer named PageProducer");
    std::cout << producer->Content();
    return 0;
  } catch (const EFormError& e) {
    std::cerr << "vek_demo: " << path << ": " << e.what() << "\n";  // "line N: ..."
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "vek_demo: " << e.what() << "\n";
    return 1;
  }
}
