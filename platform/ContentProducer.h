// The content-producer base class of the web-application classes (INET50):
// a component that produces the body of a web response. A web dispatcher, or
// any application code, calls the virtual Content family.
#pragma once

#include "AnsiString.h"
#include "Component.h"
#include "Export.h"
#include "Streams.h"

class INET50_API TCustomContentProducer : public TComponent {
 public:
  explicit TCustomContentProducer(TComponent* AOwner);
  ~TCustomContentProducer() override;
  AnsiString ClassName() const override;

  /// The response body. The base class produces "".
  virtual AnsiString Content();
  /// The response body for a template read from Stream. The base class
  /// ignores the stream and returns Content().
  virtual AnsiString ContentFromStream(TStream* Stream);
  /// The response body for the template S. The base class ignores S and
  /// returns Content().
  virtual AnsiString ContentFromString(const AnsiString& S);
};
