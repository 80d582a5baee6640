// Fuzzing of the standard tags' parser and renderer: any template is
// checked and rendered (loud and lenient) without a crash, on a thread with
// a small stack so that work that recursed on the input would overflow it.
// Properties:
//   - a loud render either succeeds or throws EVekTemplateError; what it
//     refuses for the template itself (not a limit of the render or a range
//     over data) is among the errors VekCheckTemplate reports, at the same
//     place;
//   - a clean check renders, but for those limits;
//   - a lenient render throws only EVekTemplateError;
//   - where the template uses no construct of the language beyond values (no
//     pairs, comments, trims, includes or layouts, no script or style), the
//     lenient render equals the producer's own expansion with a handler that
//     gives the same values.
//
// Input layout (every input is valid):
//   flags     bit 0: the template is made of tokens (below), not raw bytes
//             bit 1: the template's text is repeated 64 times (deep nesting)
//   template  the rest; in token mode each byte picks a token of the language
#include <pthread.h>
#include <unistd.h>
#include <algorithm>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "VekExtensions.h"
#include "VekStdTags.h"

namespace {

namespace fs = std::filesystem;

const char* const kTokens[] = {"<#if a#>",
                               "<#if v == \"V\"#>",
                               "<#elif z#>",
                               "<#elif n > 1#>",
                               "<#else#>",
                               "<#/if#>",
                               "<#unless a#>",
                               "<#/unless#>",
                               "<#each x#>",
                               "<#each 1..3#>",
                               "<#each o#>",
                               "<#/each#>",
                               "<#v#>",
                               "<#v upper trim#>",
                               "<#n number=2#>",
                               "<#@key#>",
                               "<#@number#>",
                               "<#-- c <#v#> --#>",
                               "<#--",
                               "--#>",
                               "<#- v -#>",
                               "<#block b#>",
                               "<#/block#>",
                               "<#super#>",
                               "<#extends file=\"_l.html\"#>",
                               "<#include file=\"_p.html\"#>",
                               "<#include file=\"_a.html\"#>",
                               "<#include file=\"_s.html\"#>",
                               "\n",
                               "  ",
                               "t",
                               "<p title=\"",
                               "\"",
                               ">",
                               "<#",
                               "#>",
                               "<#if (a#>",
                               "<#v shout#>",
                               "<script>",
                               "</script>",
                               "<#v json#>",
                               "<#each n..n#>",
                               "<#v default=\"d\"#>",
                               "" /* a NUL byte */,
                               "\xc3",
                               "<#/each",
                               "<#if#>",
                               "<#each#>",
                               "<#x.y.z#>",
                               "<#each o#><#@key#>=<#.#><#/each#>",
                               "<#each e in x#>",
                               "<#e#>",
                               "<#each e in o#><#e.k#>",
                               "<#set m = n * 2 + 1#>",
                               "<#m#>",
                               "<#set m = (n#>",
                               "<#set m = f(n, f(v))#>",
                               "<#if f()#>",
                               "<#if f(a#>",
                               "<#if g(a, , )#>",
                               ",",
                               "<#if \"k\" in o and -n % 2 == -1#>",
                               "<#if v not in x#>",
                               "<#verbatim#>",
                               "<#/verbatim#>",
                               "<#include file=\"_p.html\" q=x r=\"R\"#>",
                               "<#macro mc p q=\"Q\"#>",
                               "<#/macro#>",
                               "<#call mc p=v#>",
                               "<#call mc p=n * 2 q=x#>",
                               "<#call mc#>",
                               "<#p#><#q#>",
                               "<#import file=\"_m.html\"#>",
                               "<#call mi a=v#>",
                               "<#call mi#>",
                               "<#call nosuch#>"};
const size_t kTokenCount = sizeof kTokens / sizeof *kTokens;
// Tokens of which a template may consist for the comparison with the producer.
const std::vector<std::string> kPlainTokens = {
    "<#v#>", "\n", "  ", "t", "<p title=\"", "\"", ">", "<#", "#>", "<#x.y.z#>", "<#v shout#>"};

// A site with a layout, a part, a cycle of includes and a part in a script.
const fs::path& Site() {
  static const fs::path dir =
      [] {
        char tmpl[] = "/tmp/vek-fuzz-template-XXXXXX";
        if (!mkdtemp(tmpl)) std::abort();
        const fs::path d = tmpl;
        std::ofstream(d / "_l.html")
            << "<title><#block b#>L<#/block#></title>\n<#block c#><#/block#>";
        std::ofstream(d / "_p.html") << "P<#v#>";
        std::ofstream(d / "_a.html") << "a<#include file=\"_b.html\"#>";
        std::ofstream(d / "_b.html") << "b<#if a#><#include file=\"_a.html\"#><#/if#>";
        std::ofstream(d / "_s.html") << "<script>";
        std::ofstream(d / "_m.html")
            << "<#macro mi a=\"A\"#>[<#a#>]<#if a#><#call mj#><#/if#><#/macro#>"
               "<#macro mj#><i>J</i><#/macro#>";
        std::atexit([] {
          std::error_code ec;
          fs::remove_all(Site(), ec);
        });
        return d;
      }();
  return dir;
}

const TVekData& Data() {
  static const TVekData data = TVekData::parse(
      R"({"a":true,"z":false,"x":[1,2],"v":"V","n":3,"o":{"k":1},"s":"x</script>"})");
  return data;
}

TVekStdTagsOptions Options(bool Lenient) {
  TVekStdTagsOptions o;
  o.Lenient = Lenient;
  o.MaxSteps = 200000;
  o.MaxOutput = 4 << 20;
  // A function for expressions: its first argument (a call of none fails).
  static const auto extensions = [] {
    auto e = std::make_shared<TVekExtensions>();
    e->AddFunction("f", [](const TVekArgs& A) { return A[0]; });
    return e;
  }();
  o.Extensions = extensions;
  return o;
}

// A fault of the render that a check of the template cannot know of (a
// limit, a range, arithmetic on the data's values).
bool RenderOnly(const EVekTemplateError& E) {
  const std::string m = E.Message();
  return !E.Limit().empty() || m.find("range") != std::string::npos ||
         m.find("would hold itself") != std::string::npos ||
         m.find(" by zero") != std::string::npos ||
         m.find("goes beyond the") != std::string::npos ||
         m.find("takes numbers, not") != std::string::npos ||
         m.find("function \"f\": ") != std::string::npos;
}

std::string Render(const std::string& Text, bool Lenient, const EVekTemplateError** Error,
                   EVekTemplateError& Holder) {
  TVekTemplateRoot root(Site());
  TVekPageProducer producer(nullptr);
  TVekStdTags tags(&producer, root, std::make_shared<TVekData>(Data()), Options(Lenient));
  try {
    return tags.RenderText(Text, "t.html");
  } catch (const EVekTemplateError& e) {
    Holder = e;
    *Error = &Holder;
  }
  return "";
}

void Run(const std::string& Text, bool Plain) {
  TVekTemplateRoot root(Site());
  std::vector<std::string> errors;
  for (const auto& issue : VekCheckTemplate(Text, "t.html", &root, Options(false))) {
    if (!issue.Warning)
      errors.push_back(std::to_string(issue.Line) + ":" + std::to_string(issue.Column) + ": " +
                       issue.Message);
  }
  EVekTemplateError holder("");
  const EVekTemplateError* error = nullptr;
  Render(Text, false, &error, holder);
  if (error && !RenderOnly(*error)) {
    // What render refuses, check reports in the same words: at the same place,
    // or for a fault inside an included template at the page's include tag.
    const auto& chain = error->IncludedFrom();
    const EVekTemplateError::TPlace at =
        chain.empty() ? EVekTemplateError::TPlace{"t.html", error->Line(), error->Column()}
                      : chain.back();
    const std::string where = std::to_string(at.Line) + ":" + std::to_string(at.Column) + ": ";
    std::string fault =
        chain.empty() ? error->Message()
                      : EVekTemplateError::Format({error->File(), error->Line(), error->Column()},
                                                  error->Message(), {});
    // A render lists every fault, one a line: the first in the error's own
    // fields, each other with its place; check lists each.
    // A further fault of the page begins a line with the page's name (a
    // tag's text quoted in a message may hold a line break of its own).
    const size_t cut = chain.empty() ? fault.find("\nt.html:") : fault.find('\n');
    const std::string further = fault.substr(std::min(cut, fault.size()));
    fault.resize(fault.size() - further.size());
    bool found = false;
    for (const auto& e : errors)
      found |= e.rfind(where, 0) == 0 && e.find(fault) != std::string::npos;
    // The further faults of the page itself, as check words them.
    for (size_t at = 0; found && chain.empty() && at < further.size();) {
      const size_t end = std::min(further.find("\nt.html:", at + 1), further.size());
      std::string line = further.substr(at + 1, end - at - 1);
      if (line.rfind("t.html:", 0) == 0) line.erase(0, 7);
      found = std::find(errors.begin(), errors.end(), line) != errors.end();
      at = end;
    }
    if (!found)
      vekfuzz::Mismatch("check finds what render refuses", error->what(), vekfuzz::Escape(errors));
  }
  const EVekTemplateError* lenientError = nullptr;
  const std::string lenient = Render(Text, true, &lenientError, holder);
  if (!Plain || lenientError) return;
  // The producer alone, with a handler giving the values the data holds.
  TVekPageProducer producer(nullptr);
  producer.SetOnVekTag([](TObject*, const AnsiString& Name, TStrings*, AnsiString& RetText, int&) {
    RetText = Name == "v" ? "V" : "";
  });
  TCustomContentProducer* content = &producer;
  vekfuzz::Expect("lenient render and the producer's expansion", lenient,
                  std::string(content->ContentFromString(Text)));
}

struct TJob {
  std::string Text;
  bool Plain;
};

void* RunJob(void* Arg) {
  const TJob& job = *static_cast<const TJob*>(Arg);
  Run(job.Text, job.Plain);
  return nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Bytes, std::size_t Size) {
  vekfuzz::Input in(Bytes, Size);
  const std::uint8_t flags = in.Byte();
  TJob job{"", true};
  if (flags & 1) {
    while (!in.Empty()) {
      const std::string token = kTokens[in.Byte() % kTokenCount];
      const std::string piece = token.empty() ? std::string(1, '\0') : token;
      bool plain = false;
      for (const auto& p : kPlainTokens) plain |= p == piece;
      job.Plain &= plain;
      job.Text += piece;
    }
  } else {
    job.Text = in.Rest();
    job.Plain = false;
  }
  if (flags & 2) {
    const std::string once = job.Text;
    for (int i = 1; i < 64; ++i) job.Text += once;
  }
  // A small stack: a walk that recursed on the input would overflow it.
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, 512 * 1024);
  pthread_t thread;
  if (pthread_create(&thread, &attr, RunJob, &job) != 0) std::abort();
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
  return 0;
}
