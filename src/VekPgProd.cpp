// TVekPageProducer's members: construction, the content-producer entry
// points, the properties and the public steps of the engine (the expansion
// loop itself is in Expansion.cpp).
#include "VekPgProd.h"

#include <atomic>
#include <climits>
#include <stdexcept>
#include <string>

#include "Expansion.h"
#include "PairMatcher.h"
#include "PreparedTexts.h"
#include "Properties.h"
#include "TagParser.h"
#include "TemplateText.h"
#include "TextRoutines.h"

namespace {

// ---- Argument checks of the public int-position steps ------------------------

void CheckText(const char* Text, int Pos, const char* Operation) {
  if (Text == nullptr) throw std::invalid_argument(std::string(Operation) + ": Text is null");
  if (Pos < 0)
    throw std::out_of_range(std::string(Operation) + ": negative position " + std::to_string(Pos));
}

int AdvancedPos(int Pos, std::size_t By, const char* Operation) {
  if (By > static_cast<std::size_t>(INT_MAX - Pos))
    throw std::overflow_error(std::string(Operation) + ": position does not fit in an int");
  return Pos + static_cast<int>(By);
}

// A value of FDelimiterEdits that no producer has had yet.
unsigned long long NewDelimiterStamp() {
  static std::atomic<unsigned long long> last{0};
  return last.fetch_add(1, std::memory_order_relaxed) + 1;
}

}  // namespace

TVekPageProducer::TVekPageProducer(TComponent* Owner)
    : TCustomContentProducer(Owner),
      FVekTagBeg("<#"),
      FVekTagEnd("#>"),
      FDelimiterEdits(NewDelimiterStamp()),
      FPrepared(std::make_unique<vek::PreparedTexts>()) {}

TVekPageProducer::~TVekPageProducer() = default;

AnsiString TVekPageProducer::Execute(const AnsiString& Doc) {
  return TVekExpansion::Run(*this, Doc);
}

AnsiString TVekPageProducer::Execute(TStrings* Doc) {
  if (Doc == nullptr) throw std::invalid_argument("Execute: Doc is null");
  return Execute(Doc->Text());
}

AnsiString TVekPageProducer::Content() {
  return TVekExpansion::RunDoc(*this);
}

void TVekPageProducer::ContentTo(TStream* Out) {
  if (Out == nullptr) throw std::invalid_argument("ContentTo: Out is null");
  TVekExpansion::RunDoc(*this, *Out);
}

void TVekPageProducer::ExecuteTo(const AnsiString& Doc, TStream* Out) {
  if (Out == nullptr) throw std::invalid_argument("ExecuteTo: Out is null");
  TVekExpansion::Run(*this, Doc, *Out);
}

void TVekPageProducer::ExecuteTo(TStrings* Doc, TStream* Out) {
  if (Doc == nullptr) throw std::invalid_argument("ExecuteTo: Doc is null");
  if (Out == nullptr) throw std::invalid_argument("ExecuteTo: Out is null");
  TVekExpansion::Run(*this, Doc->Text(), *Out);
}

void TVekPageProducer::SetPreparedTextLimits(unsigned Entries, unsigned long long Bytes) {
  const unsigned long long most = static_cast<std::size_t>(-1);
  FPrepared->SetLimits(Entries, static_cast<std::size_t>(Bytes < most ? Bytes : most));
}

TVekBody TVekPageProducer::PrepareBody(const AnsiString& Body) {
  TVekBody body;
  body.FText = TVekExpansion::PrepareBody(*this, Body);
  return body;
}

void TVekPageProducer::ExpandBody(const TVekBody& Body) {
  if (!Body) throw std::invalid_argument("ExpandBody: the body handle is empty");
  TVekExpansion::ExpandBody(*this, *Body.FText);
}

AnsiString TVekPageProducer::ContentFromStream(TStream* Stream) {
  if (Stream == nullptr) throw std::invalid_argument("ContentFromStream: Stream is null");
  FResultList.LoadFromStream(Stream);
  const AnsiString text = FResultList.Text();
  FResultList.Clear();
  return Execute(text);
}

AnsiString TVekPageProducer::ContentFromString(const AnsiString& S) {
  return Execute(S);
}

TStrings* TVekPageProducer::GetHTMLResult() {
  const AnsiString result = Content();
  FResultList.SetText(result);
  return &FResultList;
}

void TVekPageProducer::SetHTMLResult(TStrings*) {}

void TVekPageProducer::SetHTMLDoc(TStrings* Value) {
  if (Value == nullptr) throw std::invalid_argument("SetHTMLDoc: Value is null");
  FHTMLDoc.Assign(Value);
}

void TVekPageProducer::SetVekTagBeg(const AnsiString& Value) {
  FVekTagBeg = Value;
  FDelimiterEdits = NewDelimiterStamp();
}

void TVekPageProducer::SetVekTagEnd(const AnsiString& Value) {
  FVekTagEnd = Value;
  FDelimiterEdits = NewDelimiterStamp();
}

void TVekPageProducer::DeclareProperties(TPropertyList& Properties) {
  TCustomContentProducer::DeclareProperties(Properties);
  Properties.AddStrings(
      "HTMLDoc", [this] { return &FHTMLDoc; }, [this](TStrings* Value) { SetHTMLDoc(Value); });
  Properties.AddString(
      "VekTagBeg", [this] { return FVekTagBeg; },
      [this](const AnsiString& Value) { SetVekTagBeg(Value); });
  Properties.AddString(
      "VekTagEnd", [this] { return FVekTagEnd; },
      [this](const AnsiString& Value) { SetVekTagEnd(Value); });
  Properties.AddEvent<TVekTagEvent>(
      "OnVekTag", [this] { return FOnVekTag; },
      [this](TVekTagEvent Value) { SetOnVekTag(std::move(Value)); });
  Properties.AddEvent<TVekPairTagEvent>(
      "OnVekPairTag", [this] { return FOnVekPairTag; },
      [this](TVekPairTagEvent Value) { SetOnVekPairTag(std::move(Value)); });
}

bool TVekPageProducer::ExtractNextTag(const char* Text, int& Pos, AnsiString* Before,
                                      AnsiString* Tag) {
  if (Tag == nullptr) throw std::invalid_argument("ExtractNextTag: Tag is null");
  CheckText(Text, Pos, "ExtractNextTag");
  const vek::NulTerminatedText t{Text + Pos};
  vek::TagHit hit;
  const vek::ScanResult r = vek::FindTag(t, 0, vek::Delimiters(FVekTagBeg, FVekTagEnd), hit);
  if (r == vek::ScanResult::Tag) {
    const int next = AdvancedPos(Pos, hit.next, "ExtractNextTag");
    AnsiString tag(hit.Text(t.data));
    if (Before != nullptr) Before->append(t.data, hit.open);
    *Tag = std::move(tag);
    Pos = next;
    return true;
  }
  Tag->clear();
  if (Before != nullptr) Before->append(t.data, r == vek::ScanResult::NoTag ? t.End(0) : hit.open);
  return false;
}

void TVekPageProducer::ExtractTagParams(const AnsiString& TagText, AnsiString& Name,
                                        TStrings* Params) {
  // Name and Params are cleared first: a TagText that is one of them is copied.
  bool aliased = &TagText == &Name;
  for (int i = 0; Params != nullptr && i < Params->Count() && !aliased; ++i)
    aliased = &TagText == &Params->Get(i);
  AnsiString value;
  if (aliased) {
    const AnsiString copy(TagText);
    vek::ParseTag(copy, Name, Params, value);
  } else {
    vek::ParseTag(TagText, Name, Params, value);
  }
}

void TVekPageProducer::ExtractInnerText(const AnsiString& TagName, const char* Text, int& Pos,
                                        AnsiString& Inner) {
  CheckText(Text, Pos, "ExtractInnerText");
  const AnsiString open = AnsiUpperCase(TagName);
  const AnsiString close = "/" + open;
  const vek::NulTerminatedText t{Text + Pos};
  vek::PairEnd m;
  if (!vek::FindPairEnd(t, 0, vek::Delimiters(FVekTagBeg, FVekTagEnd), open, close, m)) {
    Inner.clear();
    return;
  }
  const int next = AdvancedPos(Pos, m.next, "ExtractInnerText");
  Inner.assign(t.data, m.bodyEnd);
  Pos = next;
}
