#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "platform/cpu.h"

#if defined(__linux__)
#include <sched.h>
#endif

namespace tolvane {
namespace {

#if defined(__linux__)
// The cores the process may use and the one the test runs on: the tests
// need two cores at the least.
class Cpu : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(sched_getaffinity(0, sizeof process, &process), 0);
    if (CPU_COUNT(&process) < 2) GTEST_SKIP() << "one core only";
    cpu = current_cpu();
    ASSERT_GE(cpu, 0);
  }
  cpu_set_t process;
  int cpu = -1;
};

TEST_F(Cpu, MoveOffLeavesTheCoreAndGivesEveryCoreBack) {
  const cpu_set_t before = process;
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

TEST_F(Cpu, ANewThreadKeptOffACoreStartsElsewhereUntilFreed) {
  std::promise<void> kept;
  int started_on = -1;
  cpu_set_t before_free, after_free;
  std::thread thread([&] {
    kept.get_future().wait();
    started_on = current_cpu();
    sched_getaffinity(0, sizeof before_free, &before_free);
    free_to_any_cpu();
    sched_getaffinity(0, sizeof after_free, &after_free);
  });
  keep_off_cpu(thread, cpu);
  kept.set_value();
  thread.join();
  EXPECT_NE(started_on, cpu);
  EXPECT_FALSE(CPU_ISSET(cpu, &before_free));
  EXPECT_TRUE(CPU_EQUAL(&after_free, &process));
}
#endif

}  // namespace
}  // namespace tolvane
