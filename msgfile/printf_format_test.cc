#include "msgfile/printf_format.h"

#include <gtest/gtest.h>

namespace tolvane {
namespace {

TEST(PrintfFormat, FindsConversionsAsPrintfReadsThem) {
  std::vector<PrintfConversion> found;
  ASSERT_TRUE(printf_conversions("%d files, %-8.3lf%%, %2$*1$s, %hhx!", &found));
  ASSERT_EQ(found.size(), 5u);
  EXPECT_EQ(found[0].begin, 0u);
  EXPECT_EQ(found[0].end, 2u);
  EXPECT_EQ(found[1].end - found[1].begin, 7u);  // %-8.3lf
  EXPECT_FALSE(found[2].takes_argument());       // %%
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

// What the inspector compares: the argument each part takes, in byte texts
// and in 16-bit ones alike; a character above 0x7F is never part of one.
TEST(PrintfFormat, ReadsArgumentsAlikeInBothWidths) {
  const std::string_view text = "x%2$*1$.*3$hhd %0$d %\xE9";
  std::vector<uint16_t> units(text.begin(), text.end());
  units.back() = 0x0164;  // would read as 'd' if cut to a byte
  for (const PrintfConversion& c : {read_printf_conversion(text, 1),
                                    read_printf_conversion(std::span<const uint16_t>(units), 1)}) {
    EXPECT_EQ(c.kind, PrintfConversion::Kind::kKnown);
    EXPECT_EQ(c.position, 2u);
    EXPECT_TRUE(c.width.from_argument);
    EXPECT_EQ(c.width.position, 1u);
    EXPECT_EQ(c.precision.position, 3u);
    EXPECT_EQ(text.substr(c.length_begin, c.length_end - c.length_begin), "hh");
    EXPECT_EQ(c.conversion, 'd');
    EXPECT_EQ(c.end, 14u);
  }
  // Positions count from 1: "%0$d" is no conversion.
  EXPECT_EQ(read_printf_conversion(text, 15).kind, PrintfConversion::Kind::kUnknown);
  EXPECT_EQ(read_printf_conversion(std::span<const uint16_t>(units), units.size() - 2).kind,
            PrintfConversion::Kind::kUnknown);
}

}  // namespace
}  // namespace tolvane
