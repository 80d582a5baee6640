// VekRenderPage: one producer per thread, the standard tags bound to it for
// each page with the data of the moment.
#include "site/PageRender.h"

AnsiString VekRenderPage(const TVekTemplateRoot& Root, std::shared_ptr<const TVekData> Data,
                         const TVekStdTagsOptions& Options, const std::string& Name) {
  struct TThreadProducer {
    TComponent Owner{nullptr};  // frees the producer
    TVekPageProducer* Producer = new TVekPageProducer(&Owner);
  };
  thread_local TThreadProducer own;
  TVekStdTags tags(own.Producer, Root, std::move(Data), Options);
  const AnsiString text = tags.Load(Name);
  TCustomContentProducer* content = own.Producer;
  return content->ContentFromString(text);
}
