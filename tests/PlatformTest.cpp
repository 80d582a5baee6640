// The host stand-in layer: text routines, string lists, streams, ownership.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <stdexcept>

#include "ContentProducer.h"
#include "Streams.h"
#include "StringList.h"
#include "TestSupport.h"
#include "TextRoutines.h"

TEST(TextRoutines, AnsiStrPosFindsFirstExactOccurrence) {
  const char* s = "ab<#cd<#";
  EXPECT_EQ(AnsiStrPos(s, "<#"), s + 2);
  EXPECT_EQ(AnsiStrPos(s, "<#c"), s + 2);
  EXPECT_EQ(AnsiStrPos(s, "<#X"), nullptr);
  EXPECT_EQ(AnsiStrPos(s, "AB"), nullptr) << "case-sensitive";
  EXPECT_EQ(AnsiStrPos(s, ""), nullptr) << "an empty text is never found";
  EXPECT_EQ(AnsiStrPos("", "a"), nullptr);
  EXPECT_EQ(AnsiStrPos(nullptr, "a"), nullptr);
  EXPECT_EQ(StrLen("ab\0cd"), 2u);
  EXPECT_EQ(StrLen(nullptr), 0u);
}

TEST(TextRoutines, TrimRemovesOnlyBytesUpTo32) {
  EXPECT_EQ(Trim(" \t\r\n x y \x01\x1f\x20"), "x y");
  EXPECT_EQ(Trim(std::string("\0a\0", 3)), "a");
  EXPECT_EQ(Trim("\x80x\xa0\xff"), "\x80x\xa0\xff") << "high bytes are never blanks";
  EXPECT_EQ(Trim("\x7f"), "\x7f");
  EXPECT_EQ(Trim("   "), "");
  EXPECT_EQ(Trim(""), "");
}

TEST(StringList, TextJoinsEveryLineWithCrLf) {
  TStringList l;
  EXPECT_EQ(l.Text(), "");
  l.Add("a");
  l.Add("");
  l.Add("b");
  EXPECT_EQ(l.Text(), "a\r\n\r\nb\r\n");
}

TEST(StringList, SetTextSplitsAtCrLfCrOrLf) {
  const struct {
    std::string text;
    std::vector<std::string> lines;
  } cases[] = {
      {"", {}},
      {"a", {"a"}},
      {"a\r\n", {"a"}},
      {"a\n", {"a"}},
      {"a\r", {"a"}},
      {"a\r\nb\nc\rd", {"a", "b", "c", "d"}},
      {"\r\n", {""}},
      {"\n\n", {"", ""}},
      {"a\n\r", {"a", ""}},
      {"a\r\r\nb", {"a", "", "b"}},
      {std::string("x\0y\nz", 5), {std::string("x\0y", 3), "z"}},
      {" trailing  \t\n", {" trailing  \t"}},
  };
  for (const auto& c : cases) {
    TStringList l;
    l.Add("old");
    l.SetText(c.text);
    EXPECT_EQ(Lines(l), c.lines) << testing::PrintToString(c.text);
  }
}

TEST(StringList, IndexedAccessIsChecked) {
  TStringList l;
  l.Add("a");
  l.Insert(0, "z");
  l.Insert(2, "end");
  EXPECT_EQ(Lines(l), (std::vector<std::string>{"z", "a", "end"}));
  l.Put(1, "b");
  l.Delete(0);
  EXPECT_EQ(Lines(l), (std::vector<std::string>{"b", "end"}));
  EXPECT_EQ(l.IndexOf("end"), 1);
  EXPECT_EQ(l.IndexOf("END"), -1);
  EXPECT_THROW(l.Get(2), std::out_of_range);
  EXPECT_THROW(l.Get(-1), std::out_of_range);
  EXPECT_THROW(l.Put(5, "x"), std::out_of_range);
  EXPECT_THROW(l.Insert(3, "x"), std::out_of_range);
  EXPECT_THROW(l.Delete(2), std::out_of_range);
  l.Clear();
  EXPECT_EQ(l.Count(), 0);
}

TEST(StringList, NameValueHelpers) {
  TStringList l;
  l.SetText("n=3\nflag\nfile=a b.txt\nN=4\neq=a=b\n=anon");
  EXPECT_EQ(l.Names(0), "n");
  EXPECT_EQ(l.Names(1), "");
  EXPECT_EQ(l.ValueFromIndex(2), "a b.txt");
  EXPECT_EQ(l.ValueFromIndex(1), "");
  EXPECT_EQ(l.Values("n"), "3") << "the first line of that name";
  EXPECT_EQ(l.Values("FILE"), "a b.txt") << "names ignore letter case";
  EXPECT_EQ(l.Values("eq"), "a=b") << "split at the first '='";
  EXPECT_EQ(l.Values("flag"), "");
  EXPECT_EQ(l.Values("missing"), "");
  EXPECT_EQ(l.Values(""), "anon");
  l.SetValue("n", "5");
  EXPECT_EQ(l[0], "n=5");
  l.SetValue("new", "1");
  EXPECT_EQ(l[l.Count() - 1], "new=1");
  l.SetValue("new", "");
  EXPECT_EQ(l.IndexOfName("new"), -1);
}

TEST(StringList, AssignCopiesAndRefusesOtherClasses) {
  TStringList a, b;
  a.SetText("x\ny");
  b.Add("old");
  b.Assign(&a);
  EXPECT_EQ(Lines(b), Lines(a));
  b.Assign(&b);
  EXPECT_EQ(Lines(b), Lines(a));
  TComponent c(nullptr);
  EXPECT_THROW(b.Assign(&c), std::invalid_argument);
  EXPECT_THROW(b.Assign(nullptr), std::invalid_argument);
  EXPECT_EQ(Lines(b), Lines(a)) << "a refused Assign changes nothing";
}

TEST(StringList, SortedListKeepsOrder) {
  TStringList l;
  l.Add("c");
  l.Add("a");
  l.SetSorted(true);
  l.Add("b");
  EXPECT_EQ(Lines(l), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_THROW(l.Insert(0, "z"), std::logic_error);
}

TEST(StringList, LoadFromStreamReadsFromThePosition) {
  TStringStream s("skip\nx\r\ny");
  s.SetPosition(5);
  TStringList l;
  l.LoadFromStream(&s);
  EXPECT_EQ(Lines(l), (std::vector<std::string>{"x", "y"}));
  TMemoryStream out;
  l.SaveToStream(&out);
  EXPECT_EQ(std::string(out.Memory(), static_cast<size_t>(out.Size())), "x\r\ny\r\n");
  EXPECT_THROW(l.LoadFromStream(nullptr), std::invalid_argument);
}

TEST(Streams, MemoryAndStringStreamsReadWriteSeek) {
  TMemoryStream m;
  m.WriteBuffer("hello", 5);
  EXPECT_EQ(m.Position(), 5);
  m.SetPosition(8);
  m.WriteBuffer("!", 1);
  EXPECT_EQ(m.Size(), 9) << "a write past the end fills the gap";
  m.SetPosition(1);
  char buf[16] = {};
  EXPECT_EQ(m.Read(buf, 100), 8);
  EXPECT_EQ(std::string(buf, 4), "ello");
  EXPECT_THROW(m.Seek(-1, TSeekOrigin::soBeginning), EStreamError);
  EXPECT_THROW(m.ReadBuffer(buf, 1), EReadError) << "at the end";

  TStringStream s("abc");
  s.Seek(-1, TSeekOrigin::soEnd);
  EXPECT_EQ(s.ReadToEnd(), "c");
  s.SetPosition(1);
  s.WriteBuffer("XYZ", 3);
  EXPECT_EQ(s.DataString(), "aXYZ");
}

TEST(Streams, FileStreamRoundTripAndErrorsNameTheFile) {
  const std::string path = testing::TempDir() + "vek_stream_test.txt";
  {
    TFileStream f(path, fmCreate);
    f.WriteBuffer("a\nb", 3);
  }
  {
    TFileStream f(path, fmOpenRead);
    EXPECT_EQ(f.Size(), 3);
    EXPECT_EQ(f.ReadToEnd(), "a\nb");
  }
  std::remove(path.c_str());
  try {
    TFileStream f(path, fmOpenRead);
    FAIL() << "opened a missing file";
  } catch (const EFOpenError& e) {
    EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("No such file"), std::string::npos) << e.what();
  }
  EXPECT_THROW(TFileStream(testing::TempDir(), fmOpenRead), EFOpenError) << "a directory";
}

namespace {
// Counts its destructions, to observe ownership.
struct Probe : TComponent {
  int* deaths;
  Probe(TComponent* owner, int* d) : TComponent(owner), deaths(d) {}
  ~Probe() override { ++*deaths; }
};
}  // namespace

TEST(Component, OwnerDestroysWhatItOwns) {
  int deaths = 0;
  {
    TComponent owner(nullptr);  // an unowned component may live on the stack
    auto* a = new Probe(&owner, &deaths);
    new Probe(a, &deaths);  // owned by a, destroyed with it
    auto* c = new Probe(&owner, &deaths);
    c->SetName("Third");
    EXPECT_EQ(owner.ComponentCount(), 2);
    EXPECT_EQ(owner.FindComponent("third"), c);
    EXPECT_EQ(a->Owner(), &owner);
    delete c;  // by hand: leaves the owner's list
    EXPECT_EQ(deaths, 1);
    EXPECT_EQ(owner.ComponentCount(), 1);
    EXPECT_THROW(owner.Components(1), std::out_of_range);
  }
  EXPECT_EQ(deaths, 3);
}

TEST(Component, OwnershipCanMoveButNotCycle) {
  int deaths = 0;
  TComponent a(nullptr), b(nullptr);
  auto* p = new Probe(&a, &deaths);
  b.InsertComponent(p);
  EXPECT_EQ(a.ComponentCount(), 0);
  EXPECT_EQ(p->Owner(), &b);
  EXPECT_THROW(p->InsertComponent(&b), std::invalid_argument);
  EXPECT_THROW(p->InsertComponent(p), std::invalid_argument);
  b.RemoveComponent(p);
  EXPECT_EQ(p->Owner(), nullptr);
  delete p;
  EXPECT_EQ(deaths, 1);
}

TEST(ContentProducer, BaseClassProducesNothing) {
  TCustomContentProducer p(nullptr);
  TStringStream s("x");
  EXPECT_EQ(p.Content(), "");
  EXPECT_EQ(p.ContentFromString("x"), "");
  EXPECT_EQ(p.ContentFromStream(&s), "");
}
