#include "source/name_index.h"

#include <gtest/gtest.h>

#include <string>

namespace tolvane {
namespace {

std::string name_of(int k) { return (k % 3 == 0 ? "MSG_" : "N") + std::to_string(k); }

// Enough names for the table to grow several times: each is found with the
// identifier and line it was first given, a second add gives that first
// entry back, and after clear() nothing is left behind, the memory being
// reused.
TEST(NameIndex, KeepsTheFirstEntryOfEveryNameAcrossGrowthAndClearing) {
  NameIndex index;
  for (int round = 0; round < 2; ++round) {
    constexpr int kCount = 5000;
    for (int k = 0; k < kCount; ++k) {
      const NameIndex::Entry& entry = index.add(name_of(k), k + round, 10 * k);
      ASSERT_EQ(entry.id, k + round) << name_of(k);
    }
    for (int k = 0; k < kCount; k += 7) {
      const NameIndex::Entry& again = index.add(name_of(k), -1, 1);
      EXPECT_EQ(again.id, k + round) << name_of(k);
      EXPECT_EQ(again.line, 10 * k) << name_of(k);
      const NameIndex::Entry* found = index.find(name_of(k));
      ASSERT_NE(found, nullptr) << name_of(k);
      EXPECT_EQ(index.name(*found), name_of(k));
    }
    EXPECT_EQ(index.find("MSG_1"), nullptr);  // a name never given
    ASSERT_EQ(index.entries().size(), size_t{kCount});
    EXPECT_EQ(index.name(index.entries()[kCount - 1]), name_of(kCount - 1));
    index.clear();
    EXPECT_EQ(index.find(name_of(0)), nullptr);
  }
}

TEST(NameIndex, ReservedRoomHoldsTheNames) {
  NameIndex index;
  index.add("A", 1, 1);
  index.reserve(3000);
  for (int k = 0; k < 3000; ++k) index.add(name_of(k), k, k);
  EXPECT_EQ(index.find("A")->id, 1);
  EXPECT_EQ(index.find(name_of(2999))->id, 2999);
  EXPECT_EQ(index.entries().size(), 3001u);
}

}  // namespace
}  // namespace tolvane
