// TSite: request paths checked part by part, then answered from the site.
#include "site/Site.h"

#include <sys/stat.h>

#include <array>
#include <chrono>
#include <functional>
#include <optional>

#include "base/Messages.h"
#include "http/Loopback.h"
#include "http/RequestTarget.h"
#include "http/StaticFiles.h"
#include "http/Validators.h"
#include "site/PageRender.h"
#include "site/SiteNames.h"

namespace {

// How long a worker waits for data being read again before it renders with
// the data read before: an edit of a small data file is seen at once, a
// large or slow one holds no page up for long.
constexpr std::chrono::milliseconds kDataWait{500};

const char* StatusText(int Status) {
  switch (Status) {
    case 301:
      return "Moved Permanently";
    case 400:
      return "Bad Request";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 413:
      return "Content Too Large";
    case 415:
      return "Unsupported Media Type";
    case 416:
      return "Range Not Satisfiable";
    case 431:
      return "Request Header Fields Too Large";
    case 500:
      return "Internal Server Error";
    case 503:
      return "Service Unavailable";
    default:
      return Status < 500 ? "Client Error" : "Server Error";
  }
}

std::atomic<uint64_t> gSites{0};

bool EndsWith(const std::string& S, const std::string& Tail) {
  return S.size() >= Tail.size() && S.compare(S.size() - Tail.size(), Tail.size(), Tail) == 0;
}

}  // namespace

TSite::TSite(const TVekTemplateRoot& Root, TSiteData& Data, const TVekStdTagsOptions& Options,
             TLiveReload* LiveReload, const TDirWatcher* Watcher, TSiteFaults Faults,
             bool KeepPages)
    : FRoot(Root),
      FData(Data),
      FOptions(Options),
      FLiveReload(LiveReload),
      FWatcher(Watcher),
      FFaults(std::move(Faults)),
      FKeepPages(KeepPages),
      FSerial(++gSites) {}

struct TSite::TQuickPage {
  uint64_t Site = 0;  // FSerial of the site; 0: empty
  uint64_t Generation = 0;
  std::string Target;
  TKeptPage Page;
};

bool TSite::DataWatched(uint64_t Generation) {
  const uint64_t known = FDataWatched.load(std::memory_order_acquire);
  if (known >> 1 == Generation + 1) return known & 1;
  // The data file's folder, links resolved, is the one its path names, and
  // lies in the site: the watcher sees the file written, replaced, or made
  // a link (a new generation, where this is asked again).
  bool watched = FData.Path().empty();
  if (!watched) {
    std::error_code ec;
    const std::filesystem::path path = std::filesystem::absolute(FData.Path(), ec);
    const std::filesystem::path folder = path.parent_path().lexically_normal();
    const std::filesystem::path real = std::filesystem::canonical(folder, ec);
    const auto rest = real.lexically_relative(FRoot.Dir());
    struct stat st {};
    watched = !ec && real == folder && !rest.empty() && *rest.begin() != ".." &&
              (lstat(path.c_str(), &st) == 0 ? S_ISREG(st.st_mode) : errno == ENOENT);
  }
  FDataWatched.store((Generation + 1) << 1 | (watched ? 1 : 0), std::memory_order_release);
  return watched;
}

TSite::TRoute TSite::Route(const std::string& Target, bool IsSettled, uint64_t Generation) {
  // The generation is read before the files are: a change while they are
  // read makes the route one of an older generation.
  if (!IsSettled) return FindRoute(Target);
  TRoute route;
  if (FRoutes.Find(Target, Generation, nullptr, route)) return route;
  route = FindRoute(Target);
  FRoutes.Store(Target, Generation, nullptr, route,
                Target.size() + route.Name.size() + route.File.Name.size() +
                    route.File.Path.native().size() + 128);
  return route;
}

TSite::TRoute TSite::FindRoute(const std::string& Target) const {
  TRoute route;
  std::string path;
  if (!VekDecodeTarget(Target, path)) return route.Status = 400, route;
  if (FLiveReload && path == TLiveReload::kPath) return route.Kind = TRoute::TKind::Events, route;
  std::string& name = route.Name;
  switch (VekSiteName(path, name)) {
    case TSiteNameAnswer::Parent:
      return route.Status = 403, route;
    case TSiteNameAnswer::Private:
      return route.Status = 404, route;
    case TSiteNameAnswer::Public:
      break;
  }
  try {
    if (name.empty() || path.back() == '/') {
      name = name.empty() ? "index.html" : name + "/index.html";
      return route.Kind = TRoute::TKind::Page, route;
    }
    if (EndsWith(name, ".html")) return route.Kind = TRoute::TKind::Page, route;
    try {
      FRoot.Locate("", name + ".html");
      name += ".html";
      return route.Kind = TRoute::TKind::Page, route;
    } catch (const EVekPathError& e) {
      if (e.Kind() != EVekPathError::pkNotFound) throw;
    }
    try {
      route.File = FRoot.Locate("", name);
      return route.Kind = TRoute::TKind::File, route;
    } catch (const EVekPathError& e) {
      std::error_code ec;
      if (e.Kind() == EVekPathError::pkNotAFile &&
          std::filesystem::is_directory(FRoot.Dir() / name, ec)) {
        // Built from the checked name: "//docs" leads to "/docs/", never
        // to the host "docs".
        route.Name = "/" + VekPercentEncode(name) + "/";
        return route.Kind = TRoute::TKind::Redirect, route;
      }
      throw;
    }
  } catch (const EVekPathError& e) {
    route.Status = e.Kind() == EVekPathError::pkOutside   ? 403
                   : e.Kind() == EVekPathError::pkInvalid ? 400
                                                          : 404;
  }
  return route;
}

bool TSite::HasCustom404() const {
  struct stat st {};
  return stat((FRoot.Dir() / "_404.html").c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool TSite::Quick(const THttpRequest& Request, THttpReply& Reply) {
  uint64_t generation = 0;
  const bool settled = Settled(generation);
  // The kept pages this thread answered lately, by target: while no file of
  // the site changes (the data file among them), one is answered again
  // without a lock, the route's look-up or a stat of the data file. A few
  // per thread: a client asking for ever new targets only replaces them.
  thread_local std::array<TQuickPage, 8> quick;
  TQuickPage* slot = nullptr;
  if (FKeepPages && settled) {
    slot = &quick[std::hash<std::string>()(Request.Target) % quick.size()];
    if (slot->Site == FSerial && slot->Generation == generation && slot->Target == Request.Target) {
      SendPage(slot->Page, Request, Reply);
      return true;
    }
  }
  const TRoute route = Route(Request.Target, settled, generation);
  switch (route.Kind) {
    case TRoute::TKind::Page: {
      if (!FKeepPages || !settled) return false;
      TKeptPage kept;
      try {
        // Never waits: while the data is read again, a worker answers.
        bool fresh = false;
        const auto data = FData.Current(std::chrono::milliseconds(0), &fresh);
        if (!fresh || !FPages.Find(route.Name, generation, data, kept)) return false;
      } catch (const std::exception&) {
        return false;  // the data cannot be read: the worker answers 500
      }
      if (DataWatched(generation)) *slot = TQuickPage{FSerial, generation, Request.Target, kept};
      SendPage(kept, Request, Reply);
      return true;
    }
    case TRoute::TKind::Events:
      // Streams may take only part of the connections, so that pages can
      // always be asked for.
      if (!FLiveReload->Admit(Request.Client)) {
        ErrorPage(503, "", Reply);
        return true;
      }
      Reply.Events = FLiveReload->Stream();
      Reply.AddHeader("Content-Type", "text/event-stream");
      Reply.AddHeader("Cache-Control", "no-cache");
      return true;
    case TRoute::TKind::Redirect:
      Reply.Status = 301;
      Reply.AddHeader("Location", route.Name + VekLocationQuery(Request.Query));
      ErrorPage(301, "", Reply);
      return true;
    case TRoute::TKind::File: {
      const int status = VekFileReply(route.File.Path, route.File.Name, Request, Reply);
      if (status == 404 && HasCustom404()) return false;
      if (status) ErrorPage(status, "", Reply);
      return true;
    }
    case TRoute::TKind::Error:
      if (route.Status == 404 && HasCustom404()) return false;
      ErrorPage(route.Status, "", Reply);
      return true;
  }
  return true;
}

void TSite::Slow(const THttpRequest& Request, THttpReply& Reply) {
  uint64_t generation = 0;
  const bool settled = Settled(generation);
  const TRoute route = Route(Request.Target, settled, generation);
  if (route.Kind == TRoute::TKind::Page)
    return Page(route.Name, settled, generation, Request, Reply);
  if (route.Kind == TRoute::TKind::Error && route.Status != 404)
    return ErrorPage(route.Status, "", Reply);
  if (route.Kind == TRoute::TKind::File) {
    // Found while routing, gone by now, or not a regular file.
    const int status = VekFileReply(route.File.Path, route.File.Name, Request, Reply);
    if (status != 404) {
      if (status) ErrorPage(status, "", Reply);
      return;
    }
    Reply = THttpReply();
  }
  if (route.Kind == TRoute::TKind::Redirect || route.Kind == TRoute::TKind::Events) {
    if (!Quick(Request, Reply)) NotFound(Request, Reply);
    return;
  }
  NotFound(Request, Reply);
}

void TSite::Page(const std::string& Name, bool IsSettled, uint64_t Generation,
                 const THttpRequest& Request, THttpReply& Reply) {
  std::shared_ptr<const TVekData> data;
  std::string page;
  try {
    data = FData.Current(kDataWait);
    // A page as build makes it (front matter, Markdown, page and site), or
    // else the template itself (an HTML page no output name leads to).
    const auto model = FModels.Get(IsSettled, Generation, data);
    const TSitePage* sitePage = TSiteModels::Find(*model, Name);
    if (sitePage && !sitePage->Published) return NotFound(Request, Reply);
    // No file of the site changed since Generation was taken: where the
    // templates lie and their stamps are taken as found before, without a
    // call to the file system per template.
    std::optional<TVekTrustedFiles> trusted;
    if (IsSettled) trusted.emplace(FRoot, Generation);
    page = sitePage ? VekRenderSitePage(FRoot, model->Pages, *sitePage, FOptions)
                    : VekRenderPage(FRoot, data, FOptions, Name);
  } catch (const EVekPathError& e) {
    switch (e.Kind()) {
      case EVekPathError::pkOutside:
        return ErrorPage(403, "", Reply);
      case EVekPathError::pkInvalid:
        return ErrorPage(400, "", Reply);
      default:
        return NotFound(Request, Reply);
    }
  } catch (const std::exception& e) {
    return Fault(WithFlags(e.what()), Request, Reply);
  }
  if (FLiveReload) page = FLiveReload->Inject(std::move(page));
  const size_t bytes = page.size();
  const TKeptPage kept = KeptPage(std::move(page));
  if (IsSettled && FKeepPages) FPages.Store(Name, Generation, data, kept, bytes + Name.size() + 64);
  SendPage(kept, Request, Reply);
}

TSite::TKeptPage TSite::KeptPage(std::string Page) {
  TKeptPage kept;
  kept.ETag = VekContentETag(Page);
  kept.NotModified = std::make_shared<const THttpFixedReply>(
      304, THttpFixedReply::THeaders{{"ETag", kept.ETag}, {"Cache-Control", "no-cache"}}, nullptr);
  kept.Whole = std::make_shared<const THttpFixedReply>(
      200,
      THttpFixedReply::THeaders{{"ETag", kept.ETag},
                                {"Cache-Control", "no-cache"},
                                {"Content-Type", "text/html; charset=utf-8"}},
      std::make_shared<const std::string>(std::move(Page)));
  return kept;
}

void TSite::SendPage(const TKeptPage& Page, const THttpRequest& Request, THttpReply& Reply) {
  Reply.Fixed = VekNotModified(Request, Page.ETag, -1) ? Page.NotModified : Page.Whole;
}

void TSite::NotFound(const THttpRequest& Request, THttpReply& Reply) {
  if (HasCustom404()) {
    try {
      std::string page = VekRenderPage(FRoot, FData.Current(kDataWait), FOptions, "_404.html");
      if (FLiveReload) page = FLiveReload->Inject(std::move(page));
      Reply.Status = 404;
      Reply.AddHeader("Content-Type", "text/html; charset=utf-8");
      Reply.AddHeader("Cache-Control", "no-cache");
      Reply.Body = std::move(page);
      return;
    } catch (const std::exception& e) {
      return Fault(WithFlags(e.what()), Request, Reply);
    }
  }
  ErrorPage(404, "", Reply);
}

void TSite::Fault(const std::string& Detail, const THttpRequest& Request, THttpReply& Reply) {
  if (FFaults.Log) FFaults.Log(Detail);
  // Template and data faults name files by their paths and quote the data:
  // for whoever runs the server, on this machine.
  const bool show = FFaults.ShowOnLoopback && VekLoopbackAddress(Request.Client);
  ErrorPage(500, show ? Detail : "", Reply);
}

void TSite::Error(int Status, THttpReply& Reply) {
  if (Status == 405) Reply.AddHeader("Allow", "GET, HEAD");
  ErrorPage(Status, "", Reply);
}

void TSite::ErrorPage(int Status, const std::string& Detail, THttpReply& Reply) {
  if (Reply.Fd >= 0) {
    Reply = THttpReply();
  }
  const std::string title = std::to_string(Status) + " " + StatusText(Status);
  Reply.Status = Status;
  Reply.Body = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + title +
               "</title></head>\n<body><h1>" + title + "</h1>\n";
  if (!Detail.empty()) Reply.Body += "<pre>" + VekHtmlEscape(Detail) + "</pre>\n";
  Reply.Body += "</body></html>\n";
  Reply.AddHeader("Content-Type", "text/html; charset=utf-8");
}
