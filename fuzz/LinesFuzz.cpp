// Differential fuzzing of the entry points' line handling: streams read
// from a position, string lists joined with CR LF, HTMLDoc set as text,
// and HTMLResult split back into lines, against the model.
//
// Input: variant, delimiter palette index, stream position, then the text.
// For the list variants the text is cut into lines at every byte 0xFE, so
// a line may itself hold CR, LF or NUL bytes.
#include <string>

#include "FuzzSupport.h"
#include "VekModel.h"
#include "VekPgProd.h"

namespace {

using vekmodel::Params;

// The answer to a tag, the same on both sides: names starting with p open a
// pair, s stops; nl, cr and lf answer line breaks that HTMLResult must split.
void Answer(const std::string& name, const std::string& params, std::string& text, int& state) {
  text = "<" + name + ":" + params + ">";
  if (name == "nl") text = "\r\n";
  if (name == "cr") text = "\r";
  if (name == "lf") text = "\n";
  if (!name.empty() && name[0] == 'p') state = 2;
  if (!name.empty() && name[0] == 's') state = 1;
}

Params Cut(const std::string& text) {
  Params lines(1);
  for (char c : text) {
    if (static_cast<unsigned char>(c) == 0xFE)
      lines.emplace_back();
    else
      lines.back() += c;
  }
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  vekfuzz::Input in(Data, Size);
  const int variant = in.Byte() % 5;
  const auto& palette = vekfuzz::DelimiterPalette();
  const auto& delims = palette[in.Byte() % 4 == 0 ? in.Byte() % palette.size() : 0];
  const std::uint8_t skip = in.Byte();
  const std::string text = in.Rest();

  TVekPageProducer p(nullptr);
  vekmodel::Producer m;
  p.SetVekTagBeg(delims.first);
  p.SetVekTagEnd(delims.second);
  m.VekTagBeg = delims.first;
  m.VekTagEnd = delims.second;
  p.SetOnVekTag([](TObject*, const AnsiString& name, TStrings* params, AnsiString& t, int& s) {
    Answer(name, params->Text(), t, s);
  });
  m.OnVekTag = [](vekmodel::Producer&, const std::string& name, Params* params, std::string& t,
                  int& s) { Answer(name, vekmodel::JoinLines(*params), t, s); };
  p.SetOnVekPairTag([](TObject*, const AnsiString&, TStrings*, const AnsiString& body,
                       AnsiString& t, int&) { t = "[" + body + "]"; });
  m.OnVekPairTag = [](vekmodel::Producer&, const std::string&, Params*, const std::string& body,
                      std::string& t, int&) { t = "[" + body + "]"; };

  const Params lines = Cut(text);
  TStringList list;
  for (const auto& l : lines) list.Add(l);

  switch (variant) {
    case 0: {
      TStringStream stream(text);
      const size_t from = skip % (text.size() + 1);
      stream.SetPosition(static_cast<std::int64_t>(from));
      vekfuzz::Expect("ContentFromStream", p.ContentFromStream(&stream),
                      m.ContentFromStream(text.substr(from)));
      vekfuzz::Expect("stream position", std::to_string(stream.Position()),
                      std::to_string(text.size()));
      break;
    }
    case 1:
      vekfuzz::Expect("Execute(list)", p.Execute(&list), m.ExecuteLines(lines));
      break;
    case 2:
      p.SetHTMLDoc(&list);
      m.HTMLDoc = lines;
      vekfuzz::Expect("Content", p.Content(), m.Content());
      break;
    case 3: {
      p.SetHTMLDoc(&list);
      m.HTMLDoc = lines;
      const TStrings* result = p.HTMLResult();
      vekfuzz::Expect("HTMLResult", Params(result->begin(), result->end()), m.HTMLResult());
      break;
    }
    default:
      p.HTMLDoc()->SetText(text);
      m.HTMLDoc = vekmodel::SplitLines(text);
      vekfuzz::Expect("HTMLDoc as text", Params(p.HTMLDoc()->begin(), p.HTMLDoc()->end()),
                      m.HTMLDoc);
      vekfuzz::Expect("Content", p.Content(), m.Content());
      break;
  }
  return 0;
}
