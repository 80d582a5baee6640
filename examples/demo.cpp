// A small page built from demo.html: tags with parameters, a stop tag and a
// second set of delimiters.
#include <iostream>

#include "VekPgProd.h"

namespace {

// The application's handler: one method of a page object, bound to the event.
class DemoPage {
 public:
  void Tag(TObject* Sender, const AnsiString& TagName, TStrings* TagParams, AnsiString& RetText,
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
    } else if (TagName == "stop") {
      RetState = rsStop;
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  const char* path = argc > 1 ? argv[1] : VEK_DEMO_TEMPLATE;
  try {
    DemoPage page;
    TComponent owner(nullptr);
    auto* producer = new TVekPageProducer(&owner);  // the owner frees it
    producer->SetOnVekTag(TVekTagEvent(&page, &DemoPage::Tag));
    TFileStream file(path, fmOpenRead);
    producer->HTMLDoc()->LoadFromStream(&file);
    std::cout << producer->Content();
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "vek_demo: " << e.what() << "\n";
    return 1;
  }
}
