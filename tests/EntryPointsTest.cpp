// The content-producer entry points and HTMLResult.
#include <gtest/gtest.h>

#include <stdexcept>

#include "TestSupport.h"

namespace {
struct OneProducer : ScriptedProducer {
  OneProducer() { text = {{"x", "1"}}; }
};
}  // namespace

TEST(EntryPoints, ContentExpandsHTMLDocWithCrLfAfterEveryLine) {
  OneProducer s;
  TStringList doc;
  doc.Add("a<#x#>");
  doc.Add("b");
  s.producer.SetHTMLDoc(&doc);
  doc.Add("not copied later");
  EXPECT_EQ(s.producer.HTMLDoc()->Count(), 2) << "the list passed in stays the caller's";
  EXPECT_EQ(s.producer.Content(), "a1\r\nb\r\n");
  EXPECT_EQ(s.producer.Execute(&doc), "a1\r\nb\r\nnot copied later\r\n");
}

TEST(EntryPoints, ContentFromStringAddsNoLineBreak) {
  OneProducer s;
  EXPECT_EQ(s.producer.ContentFromString("a<#x#>b"), "a1b");
  EXPECT_EQ(s.producer.ContentFromString("a\nb"), "a\nb");
}

TEST(EntryPoints, ContentFromStreamReadsFromThePositionAndRejoinsLines) {
  OneProducer s;
  TStringStream stream("skip|p\nq\r<#x#>\r\n");
  stream.SetPosition(5);
  s.producer.GetHTMLResult();
  EXPECT_EQ(s.producer.ContentFromStream(&stream), "p\r\nq\r\n1\r\n");
  EXPECT_EQ(stream.Position(), stream.Size());
  TStringStream lf("p\nq");
  EXPECT_EQ(s.producer.ContentFromStream(&lf), "p\r\nq\r\n");
}

TEST(EntryPoints, NullArgumentsAreRejectedByName) {
  TVekPageProducer p(nullptr);
  const auto message = [](auto f) {
    try {
      f();
    } catch (const std::invalid_argument& e) {
      return std::string(e.what());
    }
    return std::string("no exception");
  };
  EXPECT_NE(message([&] { p.ContentFromStream(nullptr); }).find("ContentFromStream"),
            std::string::npos);
  EXPECT_NE(message([&] { p.Execute(static_cast<TStrings*>(nullptr)); }).find("Execute"),
            std::string::npos);
  EXPECT_NE(message([&] { p.SetHTMLDoc(nullptr); }).find("SetHTMLDoc"), std::string::npos);
}

TEST(EntryPoints, HTMLResultExpandsAgainAtEveryRead) {
  OneProducer s;
  s.producer.HTMLDoc()->SetText("a<#x#>\nb");
  TStrings* r = s.producer.HTMLResult();
  EXPECT_EQ(Lines(*r), (std::vector<std::string>{"a1", "b"}));
  EXPECT_EQ(s.producer.HTMLResult(), r) << "the producer's own list";
  EXPECT_EQ(s.calls.size(), 2u);

  TStringList other;
  other.Add("zzz");
  s.producer.SetHTMLResult(&other);
  EXPECT_EQ(Lines(*s.producer.HTMLResult()), (std::vector<std::string>{"a1", "b"}));

  TStringStream stream("q");
  s.producer.ContentFromStream(&stream);
  EXPECT_EQ(r->Count(), 0) << "ContentFromStream leaves the list empty";
}

TEST(EntryPoints, EmptyDelimiterEmptiesEveryResult) {
  OneProducer s;
  s.producer.HTMLDoc()->SetText("a<#x#>\nb");
  s.producer.SetVekTagBeg("");
  TStringStream stream("p");
  TStringList doc;
  doc.Add("a");
  EXPECT_EQ(s.producer.Content(), "");
  EXPECT_EQ(s.producer.ContentFromString("abc"), "");
  EXPECT_EQ(s.producer.ContentFromStream(&stream), "");
  EXPECT_EQ(s.producer.Execute(&doc), "");
  EXPECT_EQ(s.producer.HTMLResult()->Count(), 0);
}

namespace {
// A subclass whose Content decorates the template's expansion.
struct FramedProducer : TVekPageProducer {
  using TVekPageProducer::TVekPageProducer;
  AnsiString Content() override { return "<frame>\n" + TVekPageProducer::Content() + "</frame>"; }
};
}  // namespace

TEST(EntryPoints, HTMLResultGoesThroughTheVirtualContent) {
  FramedProducer p(nullptr);
  p.HTMLDoc()->Add("x");
  EXPECT_EQ(Lines(*p.HTMLResult()), (std::vector<std::string>{"<frame>", "x", "</frame>"}));
  TCustomContentProducer& base = p;
  EXPECT_EQ(base.ContentFromString("a<#t#>b"), "ab");
}

TEST(EntryPoints, ProducerIsDestroyedByItsOwner) {
  TComponent* owner = new TComponent(nullptr);
  auto* p = new TVekPageProducer(owner);
  p->HTMLDoc()->Add("a");
  EXPECT_EQ(owner->Components(0), p);
  EXPECT_EQ(p->ClassName(), "TVekPageProducer");
  delete owner;  // frees the producer too; the sanitizer run would see a leak
}
