#include "platform/cpu.h"

#if defined(__linux__)
#include <sched.h>
#endif

namespace tolvane {

#if defined(__linux__)

int current_cpu() { return sched_getcpu(); }

void move_off_cpu(int cpu) {
  cpu_set_t allowed;
  if (cpu < 0 || cpu >= CPU_SETSIZE || sched_getaffinity(0, sizeof allowed, &allowed) != 0 ||
      !CPU_ISSET(cpu, &allowed) || CPU_COUNT(&allowed) < 2) {
    return;
  }
  cpu_set_t others = allowed;
  CPU_CLR(cpu, &others);
  // Leaving the thread's current core makes the system move it at once;
  // the full set given back right after lets it go anywhere again.
  if (sched_setaffinity(0, sizeof others, &others) == 0) {
    sched_setaffinity(0, sizeof allowed, &allowed);
  }
}

#else

int current_cpu() { return -1; }
void move_off_cpu(int) {}

#endif

}  // namespace tolvane
