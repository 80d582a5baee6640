// A site's pages read for serve, in the order of their names, and indexed by
// the names requests lead to.
#include "site/SiteModel.h"

#include <algorithm>
#include <filesystem>

#include "site/SiteNames.h"

namespace fs = std::filesystem;

std::shared_ptr<const TSiteModel> TSiteModels::Get(bool Settled, uint64_t Generation,
                                                   const std::shared_ptr<const TVekData>& Data) {
  std::lock_guard<std::mutex> lock(FMutex);
  if (Settled && FModel && FModel->Generation == Generation && FModel->Data == Data) return FModel;
  TSitePagesOptions options;
  options.Config = VekReadSiteConfig(FRoot.Dir().string());
  options.TagBeg = FTagBeg;
  options.TagEnd = FTagEnd;
  // The pages, private names and what lies below them left out; directory
  // links not followed.
  std::vector<std::string> names;
  std::error_code ec;
  fs::recursive_directory_iterator it(FRoot.Dir(), ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    const bool dir = it->is_directory(ec);
    if (VekPrivateName(it->path().filename().string())) {
      if (dir) it.disable_recursion_pending();
      continue;
    }
    const std::string name = it->path().lexically_relative(FRoot.Dir()).generic_string();
    if (!dir && VekSitePageName(name)) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  auto model = std::make_shared<TSiteModel>();
  model->Pages =
      VekReadSitePages(FRoot, names, Data ? *Data : TVekData::object(), options, 0, &FReads);
  for (auto* list : {&model->Pages.Pages, &model->Pages.Generated}) {
    for (const TSitePage& p : *list) {
      if (!p.Output.empty() && p.Published) model->ByName.emplace(p.Output, &p);
      if (list == &model->Pages.Pages) model->ByName.emplace(p.Source, &p);
    }
  }
  model->Generation = Generation;
  model->Data = Data;
  FModel = model;
  return model;
}

const TSitePage* TSiteModels::Find(const TSiteModel& Model, const std::string& Name) {
  const auto it = Model.ByName.find(Name);
  return it == Model.ByName.end() ? nullptr : it->second;
}
