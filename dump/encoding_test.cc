#include "dump/encoding.h"

#include <gtest/gtest.h>

#include <string>

namespace tolvane::dump {
namespace {

using Kind = EncodingIssue::Kind;

// Only well-formed UTF-8 is taken for UTF-8: a Latin-1 text often holds a
// byte sequence that merely looks like the start of one.
TEST(Encoding, ByteTextsThatAreUtf8) {
  const auto utf8 = [](const std::string& text) { return check_byte_text(text); };
  ASSERT_TRUE(utf8("\xF0\x9F\x98\x80 and \xC3\xA9"));
  EXPECT_EQ(utf8("\xF0\x9F\x98\x80 and \xC3\xA9")->value, 0x1F600u);
  EXPECT_EQ(utf8("\xF0\x9F\x98\x80 and \xC3\xA9")->count, 2u);
  // What a reader sees ends at the first 0x00.
  EXPECT_TRUE(utf8(std::string("\xC3\xA9\0\xFF", 4)));
  EXPECT_FALSE(utf8(std::string("abc\0\xC3\xA9", 6)));
  for (const char* text : {"plain", "Caf\xE9", "\xC3\xA9\xE9", "\xC0\xAF", "\xE0\x80\xAF",
                           "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE2\x82", "\xC3\xA9\x80"}) {
    EXPECT_FALSE(utf8(text)) << text;
  }
}

TEST(Encoding, UnicodeTexts) {
  const auto check = [](const std::string& span, bool last) {
    return check_unicode_text(span, last);
  };
  // Three bytes and the terminator, up to the next text.
  std::optional<EncodingIssue> issue = check(std::string("\x00\x41\x42\x00\x00", 5), false);
  ASSERT_TRUE(issue);
  EXPECT_EQ(issue->kind, Kind::kOddBytes);
  EXPECT_EQ(issue->value, 3u);
  // The last text may be followed by the block's fill byte: the even reading wins.
  EXPECT_FALSE(check(std::string("\x00\x41\x42\x00\x00\x00", 6), true));
  EXPECT_TRUE(check(std::string("\x00\x41\x42\x00\x00", 5), true));  // no fill fits
  // A surrogate needs its partner: high then low.
  EXPECT_FALSE(check(std::string("\xD8\x3D\xDE\x00\x00\x00", 6), false));
  issue = check(std::string("\x00\x41\xD8\x3D\x00\x00", 6), false);
  ASSERT_TRUE(issue);
  EXPECT_EQ(issue->kind, Kind::kSurrogate);
  EXPECT_EQ(issue->value, 0xD83Du);
  EXPECT_EQ(issue->count, 1u);
  EXPECT_TRUE(check(std::string("\xDE\x00\xD8\x3D\x00\x00", 6), false));
  // After the terminator, nothing counts.
  EXPECT_FALSE(check(std::string("\x00\x41\x00\x00\xD8\x3D\x00\x00", 8), false));
}

}  // namespace
}  // namespace tolvane::dump
