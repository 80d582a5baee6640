// TWorkerPool: threads taking jobs from one queue; the queue dropped, each
// job told, on Stop.
#include "http/WorkerPool.h"

TWorkerPool::TWorkerPool(unsigned Threads) {
  if (Threads == 0) Threads = 1;
  for (unsigned i = 0; i < Threads; ++i) FThreads.emplace_back([this] { Run(); });
}

TWorkerPool::~TWorkerPool() {
  Stop();
}

bool TWorkerPool::Enqueue(TJob Job) {
  {
    std::lock_guard<std::mutex> lock(FMutex);
    if (FStopping) return false;
    FJobs.push_back(std::move(Job));
  }
  FReady.notify_one();
  return true;
}

void TWorkerPool::Stop() {
  std::deque<TJob> dropped;
  {
    std::lock_guard<std::mutex> lock(FMutex);
    FStopping = true;
    dropped.swap(FJobs);
  }
  FReady.notify_all();
  for (auto& job : dropped) job(false);
  for (auto& t : FThreads) {
    if (t.joinable()) t.join();
  }
}

void TWorkerPool::Run() {
  for (;;) {
    TJob job;
    {
      std::unique_lock<std::mutex> lock(FMutex);
      FReady.wait(lock, [this] { return FStopping || !FJobs.empty(); });
      if (FJobs.empty()) return;  // stopping, and nothing left to do
      job = std::move(FJobs.front());
      FJobs.pop_front();
    }
    job(true);
  }
}
