// Differential fuzzing of the public steps with int positions:
// ExtractNextTag (with and without a text sink) and ExtractInnerText from
// any position of a template that may hold NUL bytes, against the model.
//
// Input: flags (bit 0: delimiters given in the input), delimiters (palette
// index or two short strings), two bytes of position, the pair's name, then
// the text.
#include <string>
#include <tuple>

#include "FuzzSupport.h"
#include "VekModel.h"
#include "VekPgProd.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("LC_ALL", "C.UTF-8", 0);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  vekfuzz::Input in(Data, Size);
  const std::uint8_t flags = in.Byte();
  std::string beg, end;
  std::tie(beg, end) = vekfuzz::ReadDelimiters(in, (flags & 1) != 0);
  const unsigned at = in.Byte() * 256u + in.Byte();
  const std::string name = in.Short(6);
  const std::string text = in.Rest();
  const size_t pos0 = at % (text.size() + 1);

  TVekPageProducer p(nullptr);
  p.SetVekTagBeg(beg);
  p.SetVekTagEnd(end);
  vekmodel::Producer m;
  m.VekTagBeg = beg;
  m.VekTagEnd = end;

  for (int withSink = 0; withSink < 2; ++withSink) {
    int pos = static_cast<int>(pos0);
    size_t mpos = pos0;
    AnsiString before = "^", tag = "stale";
    std::string mbefore = "^", mtag;
    const bool found = p.ExtractNextTag(text.c_str(), pos, withSink ? &before : nullptr, &tag);
    const bool mfound = m.ExtractNextTag(text, mpos, withSink ? &mbefore : nullptr, mtag);
    vekfuzz::Expect("ExtractNextTag result", std::to_string(found), std::to_string(mfound));
    vekfuzz::Expect("ExtractNextTag position", std::to_string(pos), std::to_string(mpos));
    vekfuzz::Expect("ExtractNextTag before", before, mbefore);
    vekfuzz::Expect("ExtractNextTag tag", tag, mtag);
  }

  int pos = static_cast<int>(pos0);
  size_t mpos = pos0;
  AnsiString inner = "stale";
  std::string minner = "stale";
  p.ExtractInnerText(name, text.c_str(), pos, inner);
  m.ExtractInnerText(name, text, mpos, minner);
  vekfuzz::Expect("ExtractInnerText position", std::to_string(pos), std::to_string(mpos));
  vekfuzz::Expect("ExtractInnerText body", inner, minner);
  return 0;
}
