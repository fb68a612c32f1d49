#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>

#include "platform/interrupt.h"

namespace tolvane {
namespace {

// Read by every thread of a build, written by the handler on whichever
// thread the signal lands: a lock-free atomic is safe for both.
std::atomic<int> noted_signal{0};
static_assert(std::atomic<int>::is_always_lock_free);

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

void note(int signal) {
  int none = 0;
  noted_signal.compare_exchange_strong(none, signal);
}

sigset_t interrupt_set() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : kSignals) sigaddset(&set, signal);
  return set;
}

}  // namespace

void catch_interrupts() {
  struct sigaction action = {};
  action.sa_handler = note;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a run waiting for a lock or a key wakes up and stops.
  action.sa_flags = 0;
  for (int signal : kSignals) {
    // An interrupt ignored by whoever started us (nohup, a background job of
    // a shell without job control) stays ignored.
    struct sigaction previous;
    if (sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
    sigaction(signal, &action, nullptr);
  }
}

int interrupt_signal() { return noted_signal.load(); }

void set_interrupt_signal(int signal) { noted_signal.store(signal); }

void stop_if_interrupted() {
  if (int signal = noted_signal.load()) throw Interrupted(signal);
}

InterruptHold::InterruptHold() {
  sigset_t set = interrupt_set();
  held_ = sigprocmask(SIG_BLOCK, &set, nullptr) == 0;
}

InterruptHold::~InterruptHold() {
  if (!held_) return;
  // A request that came while held is delivered here and noted.
  sigset_t set = interrupt_set();
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

void end_by_signal(int signal) {
  ::signal(signal, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  raise(signal);
  // Only reached when the signal's default action does not end the process.
  _exit(128 + signal);
}

}  // namespace tolvane
