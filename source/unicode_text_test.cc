#include "source/unicode_text.h"

#include <gtest/gtest.h>

#include <string>

namespace tolvane {
namespace {

using namespace std::string_literals;

TEST(UnicodeText, RoundTripsEveryPlaneThroughSurrogatePairs) {
  // é, ア, and U+1F600 which needs a surrogate pair.
  const std::string utf8 = "A\xC3\xA9\xE3\x82\xA2\xF0\x9F\x98\x80";
  std::string bytes;
  size_t bad = 99;
  ASSERT_TRUE(utf8_to_utf16be(utf8, &bytes, &bad));
  EXPECT_EQ(bytes, "\x00\x41\x00\xE9\x30\xA2\xD8\x3D\xDE\x00"s);
  std::string back;
  ASSERT_TRUE(utf16be_to_utf8(bytes, &back, &bad));
  EXPECT_EQ(back, utf8);
}

TEST(UnicodeText, RefusesWhatIsNoText) {
  std::string out;
  size_t bad = 99;
  EXPECT_FALSE(utf16be_to_utf8("\x00\x41\x00"s, &out, &bad));  // odd byte at the end
  EXPECT_EQ(bad, 2u);
  EXPECT_FALSE(utf16be_to_utf8("\x00\x41\xDC\x00"s, &out, &bad));  // low surrogate alone
  EXPECT_EQ(bad, 2u);
  EXPECT_FALSE(utf16be_to_utf8("\xD8\x3D\x00\x41"s, &out, &bad));  // high one not followed
  EXPECT_EQ(bad, 0u);
  // Overlong, surrogate in UTF-8, cut short, beyond U+10FFFF.
  for (const std::string& wrong :
       {"ab\xC0\xAF"s, "ab\xED\xA0\x80"s, "ab\xE3\x82"s, "ab\xF4\x90\x80\x80"s}) {
    EXPECT_FALSE(utf8_to_utf16be(wrong, &out, &bad)) << wrong;
    EXPECT_EQ(bad, 2u);
  }
}

TEST(UnicodeText, NamesCodePoints) {
  EXPECT_EQ(code_point_name(0xE9), "U+00E9");
  EXPECT_EQ(code_point_name(0x1F600), "U+1F600");
}

}  // namespace
}  // namespace tolvane
