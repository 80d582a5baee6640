// A program built against the installed packages that uses the engine as an
// application would: templates from memory, a custom modifier, an
// application tag, the page written to a std::ostream, and an error's
// fields. Prints what tests/package/run.sh compares.
#include <vek/VekEngine.h>

#include <iostream>
#include <sstream>

int main() {
  TVekEngine engine(VekMemoryTemplates({
      {"index.html", "<h1><#title shout#></h1><#include file=\"part.html\"#>"},
      {"part.html", "<p><#greet name=\"Ann & Bo\"#></p>"},
      {"bad.html", "ok\n  <#title shout=loud#>"},
  }));
  engine.AddModifier("shout", [](const TVekData& V, const std::vector<std::string>& Args) {
    if (!Args.empty()) throw std::invalid_argument("shout takes no argument");
    return TVekData(V.get<std::string>() + "!");
  });
  engine.AddTag("greet", [](const TVekTagCall& Call) {
    return TVekTagAnswer{"Hello, " + Call.Param("name"), false};
  });
  const TVekData data = TVekData::parse(R"({"title": "Fruit & veg"})");
  std::ostringstream page;
  engine.Render("index.html", data, page);
  std::cout << page.str() << "\n";
  try {
    engine.Render("bad.html", data);
  } catch (const EVekTemplateError& e) {
    std::cout << e.File() << ":" << e.Line() << ":" << e.Column() << ": " << e.Message() << "\n";
  }
  return 0;
}
