// A fixed set of threads that run the jobs handed to them, in order.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class TWorkerPool {
 public:
  /// Starts Threads threads (at least one).
  explicit TWorkerPool(unsigned Threads);
  /// Stops (see Stop).
  ~TWorkerPool();
  TWorkerPool(const TWorkerPool&) = delete;
  TWorkerPool& operator=(const TWorkerPool&) = delete;

  /// Queues Job; false, and Job dropped, once stopping. Job must not throw.
  bool Enqueue(std::function<void()> Job);
  /// Runs what is queued, then ends the threads; later jobs are refused.
  void Stop();

 private:
  void Run();

  std::mutex FMutex;
  std::condition_variable FReady;
  std::deque<std::function<void()>> FJobs;
  bool FStopping = false;
  std::vector<std::thread> FThreads;
};
