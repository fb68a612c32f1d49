#include "platform/cpu.h"

#if defined(__linux__)
#include <pthread.h>
#include <sched.h>
#include <unistd.h>
#endif

namespace tolvane {

#if defined(__linux__)

namespace {

// The cores the calling thread may use, and the same but `cpu`; false when
// `cpu` is not among them or is the only one.
bool all_but(int cpu, cpu_set_t* allowed, cpu_set_t* others) {
  if (cpu < 0 || cpu >= CPU_SETSIZE || sched_getaffinity(0, sizeof *allowed, allowed) != 0 ||
      !CPU_ISSET(cpu, allowed) || CPU_COUNT(allowed) < 2) {
    return false;
  }
  *others = *allowed;
  CPU_CLR(cpu, others);
  return true;
}

}  // namespace

int current_cpu() { return sched_getcpu(); }

void move_off_cpu(int cpu) {
  cpu_set_t allowed, others;
  if (!all_but(cpu, &allowed, &others)) return;
  // Leaving the thread's current core makes the system move it at once;
  // the full set given back right after lets it go anywhere again.
  if (sched_setaffinity(0, sizeof others, &others) == 0) {
    sched_setaffinity(0, sizeof allowed, &allowed);
  }
}

void keep_off_cpu(std::thread& thread, int cpu) {
  cpu_set_t allowed, others;
  if (all_but(cpu, &allowed, &others)) {
    pthread_setaffinity_np(thread.native_handle(), sizeof others, &others);
  }
}

void free_to_any_cpu() {
  // The process's own thread keeps the cores the process was given.
  cpu_set_t allowed;
  if (sched_getaffinity(getpid(), sizeof allowed, &allowed) == 0) {
    sched_setaffinity(0, sizeof allowed, &allowed);
  }
}

#else

int current_cpu() { return -1; }
void move_off_cpu(int) {}
void keep_off_cpu(std::thread&, int) {}
void free_to_any_cpu() {}

#endif

}  // namespace tolvane
