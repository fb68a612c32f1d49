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
  // Up to `threads` threads, started with the first job: fewer, or none,
  // when the system gives no more.
  explicit WorkerPool(size_t threads) : wanted_(threads) {}
  // Waits for the jobs running; the ones still queued are dropped.
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  size_t threads() const { return wanted_; }
  // Queues `job`, which must not throw; the future is ready once it has run,
  // on a thread of the pool or in run_one_here(), which the caller uses to
  // wait for it when the system gave no thread.
  std::future<void> run(std::function<void()> job);
  // Runs the first job still queued on the calling thread, which would
  // otherwise wait for it or for one after it. False when none is queued.
  bool run_one_here();

 private:
  void work();
  void start_threads();

  std::mutex mutex_;
  std::condition_variable queued_;
  std::deque<std::packaged_task<void()>> jobs_;
  bool stopping_ = false;
  size_t wanted_;
  bool started_ = false;
  int queued_on_ = -1;  // the core the last job was queued from
  std::vector<std::thread> threads_;
};

}  // namespace tolvane

#endif  // TOLVANE_PLATFORM_WORKER_POOL_H_
