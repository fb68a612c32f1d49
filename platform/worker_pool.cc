#include "platform/worker_pool.h"

#include <system_error>
#include <utility>

#include "platform/cpu.h"

namespace tolvane {

// The threads start once there is work for them, off the core of the thread
// that queued it, which goes on working: one that went to sleep on an empty
// queue first would be woken by that thread, often on its core, busy. Called
// with the lock held, so that each thread is kept off that core before it
// takes a job, and free again once it has one.
void WorkerPool::start_threads() {
  started_ = true;
  for (size_t i = 0; i < wanted_; ++i) {
    try {
      threads_.emplace_back([this] { work(); });
    } catch (const std::system_error&) {
      break;  // the system gives no more threads: the ones started do
    }
    keep_off_cpu(threads_.back(), queued_on_);
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
    if (!started_) {
      start_threads();
      return done;
    }
  }
  queued_.notify_one();
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
  for (bool first = true;; first = false) {
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
    if (first) {
      free_to_any_cpu();
    } else if (const int cpu = current_cpu(); cpu >= 0 && cpu == queued_on) {
      // Woken on the core of the thread that queued the job, which goes on
      // working there: the job runs on another.
      move_off_cpu(cpu);
    }
    task();
  }
}

}  // namespace tolvane
