// TSiteData: a stat per call, a parse per change.
#include "site/SiteData.h"

#include <sys/stat.h>

#include <stdexcept>

#include "data/DataFiles.h"

TSiteData::TSiteData(std::string Path, bool Optional)
    : FPath(std::move(Path)), FOptional(Optional) {}

std::shared_ptr<const TVekData> TSiteData::Get() {
  struct stat st {};
  const bool exists = !FPath.empty() && stat(FPath.c_str(), &st) == 0;
  std::lock_guard<std::mutex> lock(FMutex);
  const bool same = FRead && (exists ? st.st_ino == FIno && st.st_size == FSize &&
                                           st.st_mtim.tv_sec == FTime.tv_sec &&
                                           st.st_mtim.tv_nsec == FTime.tv_nsec
                                     : FSize == -1);
  if (!same) {
    FRead = true;
    FError.clear();
    FIno = exists ? st.st_ino : 0;
    FSize = exists ? st.st_size : -1;
    FTime = exists ? st.st_mtim : std::timespec{};
    try {
      FData = LoadData({exists || !FOptional ? FPath : std::string()}, {});
    } catch (const std::exception& e) {
      FData.reset();
      FError = e.what();
    }
  }
  if (!FData) throw std::runtime_error(FError);
  return FData;
}
