// A few threads that run the jobs handed to them, first come first served.
#ifndef TOLVANE_PLATFORM_WORKER_POOL_H_
#define TOLVANE_PLATFORM_WORKER_POOL_H_

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace tolvane {

class WorkerPool {
 public:
  // Starts up to `threads` threads: fewer, or none, when the system gives
  // no more.
  explicit WorkerPool(size_t threads);
  // Waits for the jobs running; the ones still queued are dropped.
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  size_t threads() const { return threads_.size(); }
  // Queues `job`, which must not throw; the future is ready once it has run.
  // Needs at least one thread.
  std::future<void> run(std::function<void()> job);
  // Runs the first job still queued on the calling thread, which would
  // otherwise wait for it or for one after it. False when none is queued.
  bool run_one_here();

 private:
  void work();

  std::mutex mutex_;
  std::condition_variable queued_;
  std::deque<std::packaged_task<void()>> jobs_;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace tolvane

#endif  // TOLVANE_PLATFORM_WORKER_POOL_H_
