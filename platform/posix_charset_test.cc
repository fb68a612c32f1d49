#include <gtest/gtest.h>

#include <string>

#include "base/failure.h"
#include "platform/charset.h"
#include "test_util/test_util.h"

namespace tolvane {
namespace {

using namespace std::string_literals;

TEST(Charset, ConvertsBothWaysAndStopsAtWhatItCannotHold) {
  Charset cp1252("CP1252");
  std::string bytes, utf8;
  size_t bad = 99;
  // "Café — 5 €": the dash and the euro sign are in CP1252, not in Latin-1.
  ASSERT_TRUE(cp1252.encode("Caf\xC3\xA9 \xE2\x80\x94 5 \xE2\x82\xAC", &bytes, &bad));
  EXPECT_EQ(bytes, "Caf\xE9 \x97 5 \x80");
  ASSERT_TRUE(cp1252.decode(bytes, &utf8, &bad));
  EXPECT_EQ(utf8, "Caf\xC3\xA9 \xE2\x80\x94 5 \xE2\x82\xAC");

  EXPECT_FALSE(cp1252.encode("ab\xE3\x82\xA2", &bytes, &bad));  // a katakana letter
  EXPECT_EQ(bad, 2u);
  EXPECT_FALSE(cp1252.decode("ab\x81"s, &utf8, &bad));  // a byte CP1252 leaves undefined
  EXPECT_EQ(bad, 2u);
  EXPECT_FALSE(cp1252.encode("a\xC3"s, &bytes, &bad));  // no UTF-8
  EXPECT_EQ(bad, 1u);
}

TEST(Charset, WithoutANameOnlyAsciiIsText) {
  Charset ascii("");
  EXPECT_EQ(ascii.name(), "ASCII");
  std::string out;
  size_t bad = 99;
  EXPECT_TRUE(ascii.decode("plain\n", &out, &bad));
  EXPECT_FALSE(ascii.decode("caf\xE9", &out, &bad));
  EXPECT_EQ(bad, 3u);
  EXPECT_FALSE(ascii.encode("caf\xC3\xA9", &out, &bad));
}

TEST(Charset, UnknownNameIsAUsageFailure) {
  const Failure failure = testing::catch_failure([] { Charset("NO-SUCH-CHARSET"); });
  EXPECT_EQ(failure.kind(), FailureKind::kUsage);
  EXPECT_NE(failure.message().find("NO-SUCH-CHARSET"), std::string::npos);
}

}  // namespace
}  // namespace tolvane
