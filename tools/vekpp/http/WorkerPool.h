// A fixed set of threads that run the jobs handed to them, in order; a job
// not begun when the pool stops is told so instead of being run.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class TWorkerPool {
 public:
  /// A job: called once, with Run true on a worker, or with Run false (on
  /// the thread that stops the pool) when the pool stopped before it began.
  /// Must not throw.
  using TJob = std::function<void(bool Run)>;

  /// Starts Threads threads (at least one).
  explicit TWorkerPool(unsigned Threads);
  /// Stops (see Stop).
  ~TWorkerPool();
  TWorkerPool(const TWorkerPool&) = delete;
  TWorkerPool& operator=(const TWorkerPool&) = delete;

  /// Queues Job; false, and Job dropped uncalled, once stopping.
  bool Enqueue(TJob Job);
  /// Refuses new jobs, calls every queued one with false, waits for those
  /// running to end, and ends the threads.
  void Stop();

 private:
  void Run();

  std::mutex FMutex;
  std::condition_variable FReady;
  std::deque<TJob> FJobs;
  bool FStopping = false;
  std::vector<std::thread> FThreads;
};
