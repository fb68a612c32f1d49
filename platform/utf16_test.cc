#include "platform/utf16.h"

#include <gtest/gtest.h>

namespace tolvane {
namespace {

TEST(Utf16, ConvertsEveryLengthBothWays) {
  // A, é (2 bytes), € (3 bytes), U+1F600 (4 bytes, a surrogate pair).
  const std::string utf8 = "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
  const std::u16string wide = u"A\u00E9\u20AC\U0001F600";
  std::u16string converted;
  ASSERT_TRUE(utf8_to_utf16(utf8, &converted));
  EXPECT_EQ(converted, wide);
  EXPECT_EQ(utf16_to_utf8(wide), utf8);
  ASSERT_TRUE(utf8_to_utf16("", &converted));
  EXPECT_TRUE(converted.empty());
}

TEST(Utf16, LoneSurrogatesSurviveTheRoundTrip) {
  // Wide file names may hold unpaired surrogates; they must name the same
  // file after going through UTF-8.
  for (std::u16string wide :
       {std::u16string(u"a") + char16_t(0xD800) + u"b", std::u16string(1, char16_t(0xDC01)),
        std::u16string(1, char16_t(0xDBFF)) + u"\u20AC"}) {
    std::u16string back;
    ASSERT_TRUE(utf8_to_utf16(utf16_to_utf8(wide), &back));
    EXPECT_EQ(back, wide);
  }
}

TEST(Utf16, RefusesBytesThatAreNoText) {
  std::u16string wide;
  for (const char* bad : {"\x80", "a\xC3", "\xC0\xAF", "\xE0\x80\xAF", "\xF4\x90\x80\x80",
                          "\xF8\x88\x80\x80\x80", "\xC3\x28", "\xFF"}) {
    EXPECT_FALSE(utf8_to_utf16(bad, &wide)) << bad;
  }
}

}  // namespace
}  // namespace tolvane
