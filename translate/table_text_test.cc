#include "translate/table_text.h"

#include <gtest/gtest.h>

#include "source/text_encoder.h"

namespace tolvane::translate {
namespace {

using namespace std::string_literals;

// What a build stores for the literal written between the quotes.
std::string stored(const std::string& literal, bool unicode) {
  std::string out;
  encode_text(literal, unicode ? kUnicodeCoding : kByteCoding, &out);
  out.resize(out.size() - (unicode ? 2 : 1));
  return out;
}

TEST(TableText, ByteTextsBecomePlainAsciiThatStoresTheSameBytes) {
  const Charset cp1252("CP1252");
  const TableText text(false, cp1252);
  std::string bytes, why;
  ASSERT_TRUE(text.from_utf8("\"Caf\xC3\xA9\" \xE2\x80\x94 7\\n\n", &bytes, &why));
  const std::string literal = text.literal(bytes);
  EXPECT_EQ(literal, "\\\"Caf\\351\\\" \\227 7\\\\n\\n");
  EXPECT_EQ(stored(literal, false), bytes);
  EXPECT_FALSE(text.from_utf8("\xE3\x82\xA2", &bytes, &why));
  EXPECT_EQ(why, "the character U+30A2 (\xE3\x82\xA2) is not in the character set CP1252");
}

TEST(TableText, UnicodeTextsBecomeByteNotationsThatStoreTheSameBytes) {
  const Charset ascii("");
  const TableText text(true, ascii);
  std::string bytes, why, back;
  ASSERT_TRUE(text.from_utf8("\xE6\x97\xA5\xF0\x9F\x98\x80", &bytes, &why));
  EXPECT_EQ(text.literal(bytes), "\\x65\\xE5\\xD8\\x3D\\xDE\\x00");
  EXPECT_EQ(stored(text.literal(bytes), true), bytes);
  ASSERT_TRUE(text.to_utf8(bytes, &back, &why));
  EXPECT_EQ(back, "\xE6\x97\xA5\xF0\x9F\x98\x80");
  EXPECT_FALSE(text.to_utf8("\x65"s, &back, &why));
}

TEST(TableText, ReadableLineKeepsCharactersAndEscapesControls) {
  EXPECT_EQ(readable_line("Caf\xC3\xA9\n\tx"), "Caf\xC3\xA9\\n\\tx");
}

}  // namespace
}  // namespace tolvane::translate
