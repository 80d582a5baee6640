// What vekpp serve answers for a site directory: the request path checked
// and mapped to a page, a file, a redirect or an error page.
//
// GET /path answers the template DIR/path.html expanded with the standard
// tags (/ and /dir/ answer index.html), any other file under DIR as it is.
// Names that begin with "." or "_" (partials, data, hidden files) are never
// served; DIR/_404.html, when there is one, is the page of every 404.
#pragma once

#include <memory>
#include <string>

#include "HttpServer.h"
#include "LiveReload.h"
#include "SiteData.h"
#include "VekStdTags.h"

class TSite : public THttpHandler {
 public:
  /// Root, Data and LiveReload (null for none) are not owned and must
  /// outlive the site.
  TSite(const TVekTemplateRoot& Root, TSiteData& Data, const TVekStdTagsOptions& Options,
        TLiveReload* LiveReload);

  bool Quick(const THttpRequest& Request, THttpReply& Reply) override;
  void Slow(const THttpRequest& Request, THttpReply& Reply) override;
  void Error(int Status, THttpReply& Reply) override;

 private:
  struct TRoute;
  TRoute Route(const std::string& Target) const;
  void Page(const std::string& Name, const THttpRequest& Request, THttpReply& Reply);
  // The error page of Status, with Detail shown when not empty; the
  // headers already in Reply are kept.
  void ErrorPage(int Status, const std::string& Detail, THttpReply& Reply);
  void NotFound(THttpReply& Reply);
  bool HasCustom404() const;

  const TVekTemplateRoot& FRoot;
  TSiteData& FData;
  TVekStdTagsOptions FOptions;
  TLiveReload* FLiveReload;
};
