#include "translate/printf_format.h"

#include <gtest/gtest.h>

namespace tolvane::translate {
namespace {

TEST(PrintfFormat, FindsConversionsAsPrintfReadsThem) {
  std::vector<Conversion> found;
  ASSERT_TRUE(printf_conversions("%d files, %-8.3lf%%, %2$*1$s, %hhx!", &found));
  ASSERT_EQ(found.size(), 5u);
  EXPECT_EQ(found[0].begin, 0u);
  EXPECT_EQ(found[0].end, 2u);
  EXPECT_EQ(found[1].end - found[1].begin, 7u);  // %-8.3lf
  EXPECT_FALSE(found[2].takes_argument);         // %%
  EXPECT_EQ(found[3].end - found[3].begin, 7u);  // %2$*1$s
  EXPECT_EQ(found[4].end - found[4].begin, 4u);  // %hhx
}

TEST(PrintfFormat, MarksOnlyValidFormatsThatTakeArguments) {
  EXPECT_TRUE(is_c_format("Saved %d files to %s"));
  EXPECT_FALSE(is_c_format("100%% sure"));  // takes nothing
  EXPECT_FALSE(is_c_format("50%"));         // a % that starts no conversion
  EXPECT_FALSE(is_c_format("%y %d"));
  EXPECT_FALSE(is_c_format("plain"));
}

}  // namespace
}  // namespace tolvane::translate
