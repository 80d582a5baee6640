// TSiteData: a stat per call; a parse per change, on the caller's thread
// (Get) or on a reading thread while the previous data is answered
// (Current).
#include "site/SiteData.h"

#include <sys/stat.h>

#include <stdexcept>

#include "data/DataFiles.h"

struct TSiteData::TShared {
  std::mutex Mutex;
  std::condition_variable Wake;  // a read to make, or stopping
  std::condition_variable Done;  // a read made
  TEvents Events;
  std::string Path;
  bool Optional = false;
  bool Read = false;     // a read was made (or started)
  TStamp Stamp;          // of the file as the last read began
  bool Reading = false;  // the reading thread has a stamp to read
  TStamp ToRead;
  bool Stopping = false;
  std::shared_ptr<const TVekData> Data;
  std::string Error;  // of the last read, when it failed
};

TSiteData::TSiteData(std::string Path, bool Optional, TEvents Events)
    : FPath(std::move(Path)), FOptional(Optional), FShared(std::make_shared<TShared>()) {
  FShared->Events = std::move(Events);
  FShared->Path = FPath;
  FShared->Optional = FOptional;
}

TSiteData::~TSiteData() {
  bool reading = false;
  {
    std::lock_guard<std::mutex> lock(FShared->Mutex);
    FShared->Stopping = true;
    reading = FShared->Reading;
  }
  FShared->Wake.notify_all();
  if (FReader.joinable()) {
    if (reading) {
      FReader.detach();  // it holds what it shares, and ends after its read
    } else {
      FReader.join();
    }
  }
}

TSiteData::TStamp TSiteData::StampNow() const {
  TStamp s;
  struct stat st {};
  if (FPath.empty() || stat(FPath.c_str(), &st) != 0) return s;
  s.Exists = true;
  s.Ino = st.st_ino;
  s.Size = st.st_size;
  s.Time = st.st_mtim;
  return s;
}

std::shared_ptr<const TVekData> TSiteData::Read(const std::string& Path, bool Optional,
                                                const TStamp& Stamp) {
  return LoadData({Stamp.Exists || !Optional ? Path : std::string()}, {});
}

std::shared_ptr<const TVekData> TSiteData::Get() {
  const TStamp stamp = StampNow();
  TShared& s = *FShared;
  std::lock_guard<std::mutex> lock(s.Mutex);
  if (!s.Read || !(stamp == s.Stamp)) {
    s.Read = true;
    s.Stamp = stamp;
    try {
      s.Data = Read(FPath, FOptional, stamp);
      s.Error.clear();
    } catch (const std::exception& e) {
      s.Data.reset();
      s.Error = e.what();
    }
  }
  if (!s.Data) throw std::runtime_error(s.Error);
  return s.Data;
}

std::shared_ptr<const TVekData> TSiteData::Current(std::chrono::milliseconds Wait, bool* Fresh) {
  const TStamp stamp = StampNow();
  TShared& s = *FShared;
  std::unique_lock<std::mutex> lock(s.Mutex);
  if (!s.Read || (!(stamp == s.Stamp) && !(s.Reading && stamp == s.ToRead))) {
    s.Read = true;
    s.Reading = true;
    s.ToRead = stamp;
    if (!FReader.joinable()) FReader = std::thread(ReadLoop, FShared);
    s.Wake.notify_all();
  }
  if (s.Reading && Wait.count() > 0) s.Done.wait_for(lock, Wait, [&] { return !s.Reading; });
  if (Fresh) *Fresh = !s.Reading;
  if (!s.Data) throw std::runtime_error(s.Error.empty() ? FPath + ": not read yet" : s.Error);
  return s.Data;
}

void TSiteData::ReadLoop(std::shared_ptr<TShared> Shared) {
  TShared& s = *Shared;
  std::unique_lock<std::mutex> lock(s.Mutex);
  for (;;) {
    s.Wake.wait(lock, [&] { return s.Stopping || s.Reading; });
    if (s.Stopping) return;
    const TStamp stamp = s.ToRead;
    lock.unlock();
    std::shared_ptr<const TVekData> data;
    std::string error;
    try {
      data = Read(s.Path, s.Optional, stamp);
    } catch (const std::exception& e) {
      error = e.what();
    }
    lock.lock();
    s.Stamp = stamp;
    if (!(s.ToRead == stamp)) continue;  // changed again meanwhile: read again
    s.Reading = false;
    s.Done.notify_all();
    if (s.Stopping) return;
    // Told under the lock, so that never after the destructor began.
    if (data) {
      s.Data = std::move(data);
      s.Error.clear();
      if (s.Events.OnChanged) s.Events.OnChanged();
    } else {
      s.Error = error;
      if (s.Events.OnProblem) s.Events.OnProblem(error);
    }
  }
}
