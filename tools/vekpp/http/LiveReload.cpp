// TLiveReload: changes published as "reload" events; a comment every
// 15 s finds the followers that have gone.
#include "http/LiveReload.h"

#include <algorithm>
#include <cctype>

namespace {

const char kScript[] =
    "<script>(function(){var s=new EventSource(\"/_vekpp/live\");window.vekppLiveReload=s;"
    "s.addEventListener(\"reload\",function(){location.reload();});})();</script>\n";

}  // namespace

TLiveReload::TLiveReload(TLimits Limits) : FLimits(Limits) {
  FPing = std::thread([this] {
    std::unique_lock<std::mutex> lock(FMutex);
    const auto every = std::min<std::chrono::seconds>(std::chrono::seconds(15), FLimits.Idle);
    while (!FWake.wait_for(lock, every, [this] { return FClosed; })) {
      FStream->Publish(": ping\n\n", false);
      FStream->Expire(std::chrono::steady_clock::now() - FLimits.Idle);
    }
  });
}

bool TLiveReload::Admit(const std::string& Client) const {
  return FStream->Count() < FLimits.MaxStreams && FStream->Count(Client) < FLimits.MaxPerClient;
}

TLiveReload::~TLiveReload() {
  Close();
}

void TLiveReload::Changed() {
  FStream->Publish("event: reload\ndata: changed\n\n");
}

void TLiveReload::Close() {
  {
    std::lock_guard<std::mutex> lock(FMutex);
    if (FClosed) return;
    FClosed = true;
  }
  FWake.notify_all();
  if (FPing.joinable()) FPing.join();
  FStream->Close();
}

std::string TLiveReload::Inject(std::string Page) const {
  // The last "</body>" in any case; searched backwards, once.
  static const std::string tag = "</body>";
  for (size_t i = Page.size(); i >= tag.size(); --i) {
    const size_t at = i - tag.size();
    bool match = true;
    for (size_t k = 0; k < tag.size() && match; ++k) {
      match = std::tolower(static_cast<unsigned char>(Page[at + k])) == tag[k];
    }
    if (match) {
      Page.insert(at, kScript);
      return Page;
    }
  }
  Page += kScript;
  return Page;
}
