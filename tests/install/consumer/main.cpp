// Uses the component and the standard tags from an installed tree.
#include <iostream>

#include <vek/VekPgProd.h>
#include <vek/VekStdTags.h>

// Only <prefix>/include is on the include path: the headers' generic names
// (Streams.h, Event.h, ...) stay out of the program's way.
#if __has_include(<Streams.h>) || __has_include(<VekPgProd.h>)
#error "the directory vek/ itself is on the include path"
#endif

int main(int argc, char** argv) {
  TVekPageProducer producer(nullptr);
  producer.SetOnVekTag([](TObject*, const AnsiString& Name, TStrings*, AnsiString& Text, int&) {
    Text = "[" + Name + "]";
  });
  std::cout << producer.ContentFromString("a<#x#>b") << "\n";

  TVekTemplateRoot root(argc > 1 ? argv[1] : ".");
  TVekStdTags tags(&producer, root,
                   std::make_shared<nlohmann::json>(nlohmann::json{{"items", {"p", "q"}}}));
  std::cout << tags.RenderText("<#each items#><#.#><#/each#>", "t.html") << "\n";
  return 0;
}
