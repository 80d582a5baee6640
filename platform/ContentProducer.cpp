// The content-producer base class: its default content and construction.
#include "ContentProducer.h"

TCustomContentProducer::TCustomContentProducer(TComponent* AOwner) : TComponent(AOwner) {}
TCustomContentProducer::~TCustomContentProducer() = default;
AnsiString TCustomContentProducer::ClassName() const {
  return "TCustomContentProducer";
}
AnsiString TCustomContentProducer::Content() {
  return AnsiString();
}
AnsiString TCustomContentProducer::ContentFromStream(TStream*) {
  return Content();
}
AnsiString TCustomContentProducer::ContentFromString(const AnsiString&) {
  return Content();
}
