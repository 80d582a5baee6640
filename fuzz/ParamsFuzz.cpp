// Differential fuzzing of the tag parser: ExtractTagParams against the
// model, with and without a parameter list, with stale contents in both
// outputs, and with the text being the name or a line of the list itself.
//
// Input: one byte choosing the variant, then the tag text (any bytes).
#include <string>

#include "FuzzSupport.h"
#include "VekModel.h"
#include "VekPgProd.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  vekfuzz::Input in(Data, Size);
  const int variant = in.Byte() % 4;
  const std::string text = in.Rest();

  std::string modelName = "stale";
  vekmodel::Params modelParams = {"stale"};
  vekmodel::Producer::ExtractTagParams(text, modelName, &modelParams);
  std::string modelFirst = "stale";
  vekmodel::Producer::ExtractTagParams(text, modelFirst, nullptr);

  AnsiString name = "stale";
  TStringList params;
  params.Add("stale");
  switch (variant) {
    case 0:
      TVekPageProducer::ExtractTagParams(text, name, &params);
      break;
    case 1:  // the text is the name being overwritten
      name = text;
      TVekPageProducer::ExtractTagParams(name, name, &params);
      break;
    case 2:  // the text is a line of the list being cleared
      params.Add(text);
      TVekPageProducer::ExtractTagParams(params.Get(1), name, &params);
      break;
    default: {
      TStringList unused;
      TVekPageProducer::ExtractTagParams(text, name, &unused);
      params.Assign(&unused);
      break;
    }
  }
  vekfuzz::Expect("name", name, modelName);
  vekfuzz::Expect("params", vekmodel::Params(params.begin(), params.end()), modelParams);

  AnsiString first = "stale";
  TVekPageProducer::ExtractTagParams(text, first, nullptr);
  vekfuzz::Expect("name without a list", first, modelFirst);
  // Without a list the parse stops at the name, which is the same name.
  vekfuzz::Expect("name with and without a list", first, name);
  return 0;
}
