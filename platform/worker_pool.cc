#include "platform/worker_pool.h"

#include <system_error>
#include <utility>

#include "platform/cpu.h"

namespace tolvane {

// The threads start once there is work for them. A thread that finds a job
// waiting runs at once, on whichever core the system starts it on; one that
// went to sleep on an empty queue is woken by the thread queueing the job,
// and the system may put it on that thread's core, busy, while the other
// stays idle until the next rebalancing, milliseconds later.
void WorkerPool::start_threads() {
  started_ = true;
  for (size_t i = 0; i < wanted_; ++i) {
    try {
      threads_.emplace_back([this] { work(); });
    } catch (const std::system_error&) {
      break;  // the system gives no more threads: the ones started do
    }
  }
}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    jobs_.clear();
  }
  queued_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

std::future<void> WorkerPool::run(std::function<void()> job) {
  std::packaged_task<void()> task(std::move(job));
  std::future<void> done = task.get_future();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    jobs_.push_back(std::move(task));
    queued_on_ = current_cpu();
  }
  if (!started_) {
    start_threads();
  } else {
    queued_.notify_one();
  }
  return done;
}

bool WorkerPool::run_one_here() {
  std::packaged_task<void()> task;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (jobs_.empty()) return false;
    task = std::move(jobs_.front());
    jobs_.pop_front();
  }
  task();
  return true;
}

void WorkerPool::work() {
  for (;;) {
    std::packaged_task<void()> task;
    int queued_on;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      queued_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
      if (stopping_) return;
      task = std::move(jobs_.front());
      jobs_.pop_front();
      queued_on = queued_on_;
    }
    // Started or woken on the core of the thread that queued the job, which
    // goes on working there: the job runs on another.
    const int cpu = current_cpu();
    if (cpu >= 0 && cpu == queued_on) move_off_cpu(cpu);
    task();
  }
}

}  // namespace tolvane
