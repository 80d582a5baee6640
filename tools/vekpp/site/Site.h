// What vekpp serve answers for a site directory: the request path checked
// and mapped to a page, a file, a redirect or an error page.
//
// GET /path answers the template DIR/path.html expanded with the standard
// tags (/ and /dir/ answer index.html), any other file under DIR as it is.
// Names that begin with "." or "_" (partials, data, hidden files) are never
// served; DIR/_404.html, when there is one, is the page of every 404.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "VekStdTags.h"
#include "http/HttpTypes.h"
#include "http/LiveReload.h"
#include "site/DirWatcher.h"
#include "site/SiteCache.h"
#include "site/SiteData.h"
#include "site/SiteModel.h"

/// How a site reports the faults of its pages.
struct TSiteFaults {
  /// Told every fault of a template or its data, in full (the server's log).
  std::function<void(const std::string& Detail)> Log;
  /// The fault is shown on the error page too, to a client on loopback,
  /// when the server listens on loopback only; elsewhere the page names no
  /// file and quotes no data.
  bool ShowOnLoopback = true;
};

class TSite : public THttpHandler {
 public:
  /// Root, Data, LiveReload (null for none) and Watcher are not owned and
  /// must outlive the site. With a Watcher of Root that sees every change,
  /// routes, the site's list of pages and (with KeepPages) rendered pages
  /// are kept while no file of the site changes (and the data stays the
  /// same); without KeepPages every page is rendered for every request, and
  /// with no Watcher every route and list of pages is found again too.
  /// Pages use the data Data->Current() answers.
  TSite(const TVekTemplateRoot& Root, TSiteData& Data, const TVekStdTagsOptions& Options,
        TLiveReload* LiveReload, const TDirWatcher* Watcher, TSiteFaults Faults,
        bool KeepPages = true);

  bool Quick(const THttpRequest& Request, THttpReply& Reply) override;
  void Slow(const THttpRequest& Request, THttpReply& Reply) override;
  void Error(int Status, THttpReply& Reply) override;

 private:
  // Where a request leads.
  struct TRoute {
    enum class TKind { Error, Page, File, Redirect, Events } Kind = TKind::Error;
    int Status = 0;
    std::string Name;  // the checked name inside the site
    TVekTemplateFile File;
  };
  // A rendered page, kept: its answers made once (200, and 304 for a
  // client that holds it), each sent as it is to every client.
  struct TKeptPage {
    std::string ETag;
    std::shared_ptr<const THttpFixedReply> Whole, NotModified;
  };

  // A kept page found by its request target, at a generation: see Quick.
  struct TQuickPage;
  // True when the data file cannot change without the watcher seeing it (it
  // lies in a watched folder of the site, and is no link) at Generation.
  bool DataWatched(uint64_t Generation);

  // The route of Target, kept while the site's files are those of
  // Generation (when IsSettled, what Settled answered).
  TRoute Route(const std::string& Target, bool IsSettled, uint64_t Generation);
  TRoute FindRoute(const std::string& Target) const;
  // True, with the generation of the site's files, when kept routes and
  // pages may be used and kept.
  bool Settled(uint64_t& Generation) const {
    return FWatcher && FWatcher->Complete() && FWatcher->Settled(Generation);
  }
  void Page(const std::string& Name, bool IsSettled, uint64_t Generation,
            const THttpRequest& Request, THttpReply& Reply);
  // The answers of the rendered page Page.
  static TKeptPage KeptPage(std::string Page);
  void SendPage(const TKeptPage& Page, const THttpRequest& Request, THttpReply& Reply);
  // The error page of Status, with Detail shown when not empty; the
  // headers already in Reply are kept.
  void ErrorPage(int Status, const std::string& Detail, THttpReply& Reply);
  // A 500 for the fault Detail: logged, and shown only as TSiteFaults says.
  void Fault(const std::string& Detail, const THttpRequest& Request, THttpReply& Reply);
  void NotFound(const THttpRequest& Request, THttpReply& Reply);
  bool HasCustom404() const;

  const TVekTemplateRoot& FRoot;
  TSiteData& FData;
  TVekStdTagsOptions FOptions;
  TLiveReload* FLiveReload;
  const TDirWatcher* FWatcher;
  TSiteFaults FFaults;
  const bool FKeepPages;
  TSiteCache<TRoute> FRoutes{10000, 8 << 20};
  TSiteCache<TKeptPage> FPages{10000, 64 << 20};
  TSiteModels FModels{FRoot, FOptions.TagBeg, FOptions.TagEnd};
  const uint64_t FSerial;  // tells this site from one made later at its address
  // 2 * generation + 2, plus 1 when the data file was watched then; 0: none.
  std::atomic<uint64_t> FDataWatched{0};
};
