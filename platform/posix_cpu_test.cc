#include <gtest/gtest.h>

#include "platform/cpu.h"

#if defined(__linux__)
#include <sched.h>
#endif

namespace tolvane {
namespace {

#if defined(__linux__)
TEST(Cpu, MoveOffLeavesTheCoreAndGivesEveryCoreBack) {
  cpu_set_t before;
  ASSERT_EQ(sched_getaffinity(0, sizeof before, &before), 0);
  if (CPU_COUNT(&before) < 2) GTEST_SKIP() << "one core only";
  const int cpu = current_cpu();
  ASSERT_GE(cpu, 0);
  move_off_cpu(cpu);
  EXPECT_NE(current_cpu(), cpu);
  cpu_set_t after;
  ASSERT_EQ(sched_getaffinity(0, sizeof after, &after), 0);
  EXPECT_TRUE(CPU_EQUAL(&before, &after));

  // A core the thread may not use, or none, changes nothing.
  move_off_cpu(-1);
  move_off_cpu(CPU_SETSIZE);
  ASSERT_EQ(sched_getaffinity(0, sizeof after, &after), 0);
  EXPECT_TRUE(CPU_EQUAL(&before, &after));
}
#endif

}  // namespace
}  // namespace tolvane
