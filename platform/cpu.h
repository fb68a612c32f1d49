// Which core a thread runs on, and a nudge off one. A worker woken by the
// thread that queued its job is often put on that thread's core, busy, while
// another core is idle, and the system moves it only at its next
// rebalancing, milliseconds later: long enough to lose a good part of what
// the worker was for.
#ifndef TOLVANE_PLATFORM_CPU_H_
#define TOLVANE_PLATFORM_CPU_H_

#include <thread>

namespace tolvane {

// The core the calling thread runs on, or -1 where the system does not say.
int current_cpu();

// Moves the calling thread off `cpu` to another core the process may use,
// when there is one, and leaves it free to go anywhere again afterwards: a
// nudge, not a pin, so that in a busy parallel build the system still places
// it as it sees fit.
void move_off_cpu(int cpu);

// Keeps `thread`, new and not yet running, off `cpu` until it calls
// free_to_any_cpu(): a new thread is otherwise often queued on the core of
// the busy thread that started it, and waits there for milliseconds.
void keep_off_cpu(std::thread& thread, int cpu);

// Lets the calling thread run on every core the process may use again.
void free_to_any_cpu();

}  // namespace tolvane

#endif  // TOLVANE_PLATFORM_CPU_H_
