#include "names/define_line.h"

#include <gtest/gtest.h>

#include <string>

namespace tolvane {
namespace {

// ---------------------------------------------------------------------------
// Lines of a previous names header

TEST(ParseDefine, ReadsDefineNameAndNumberWhateverTheBlanks) {
  EXPECT_EQ(parse_define("#define NAME 5"), 5);
  EXPECT_EQ(parse_define("#define MSG_B 12"), 12);
  EXPECT_EQ(parse_define("#define   NAME    5"), 5);
  EXPECT_EQ(parse_define("#define\tNAME\t\t5"), 5);
  EXPECT_EQ(parse_define("#define NAME 5\r"), 5);
  EXPECT_EQ(parse_define("#define NAME 5 // five"), 5);
  EXPECT_EQ(parse_define("#define NAME 5/* five */"), 5);
  EXPECT_EQ(parse_define("#define NAME -1"), -1);
  EXPECT_EQ(parse_define("#define X 70000"), 70000);
  EXPECT_EQ(parse_define("#define NAME 007"), 7);

  std::string_view name;
  EXPECT_EQ(parse_define("#define\t MSG_LONG_NAME\t 9\r", &name), 9);
  EXPECT_EQ(name, "MSG_LONG_NAME");
}

TEST(ParseDefine, OtherLinesDefineNothing) {
  for (std::string_view line :
       {"", "#define", "#define NAME", "#define NAME   ", "#define NAME\r", "#define NAME x5",
        "#define NAME (5)", "#defineX 5", "#define5", " #define NAME 5", "#DEFINE NAME 5",
        "// #define NAME 5", "#undef NAME 5", "#message 5 NAME \"x\""}) {
    EXPECT_EQ(parse_define(line), std::nullopt) << line;
  }
}

TEST(ParseDefine, HugeNumbersNeverMatchAnIdentifier) {
  // Whatever comes back, it must not equal a 32-bit identifier it would wrap to.
  for (std::string_view line : {"#define BIG 4294967297", "#define BIG 18446744073709551617",
                                "#define BIG 99999999999999999999999999999999999999"}) {
    std::optional<int64_t> value = parse_define(line);
    if (value) {
      EXPECT_TRUE(*value > INT32_MAX || *value < INT32_MIN) << line << " gave " << *value;
    }
  }
  EXPECT_EQ(parse_define("#define MAX 2147483647"), 2147483647);
  EXPECT_EQ(parse_define("#define MIN -2147483648"), -2147483648LL);
}

// ---------------------------------------------------------------------------
// Names in #message lines

TEST(MessageName, IsTheTokenAfterTheIdentifier) {
  EXPECT_EQ(message_name("#message 1 MSG_A \"a\""), "MSG_A");
  EXPECT_EQ(message_name("#message 12345 MSG_B \"b\""), "MSG_B");
  EXPECT_EQ(message_name("#message  7 NAME \"x\""), "NAME");
  EXPECT_EQ(message_name("#message 007 NAME"), "NAME");
  EXPECT_EQ(message_name("#message 100000 BIG \"x\""), "BIG");
  EXPECT_EQ(message_name("#message 70000 X \"t\""), "X");
  EXPECT_EQ(message_name("#message -1 NEG \"t\""), "NEG");
  EXPECT_EQ(message_name("#message5 FIVE \"t\""), "FIVE");
  EXPECT_EQ(message_name("#message\t7\t\tTABS\t\"x\""), "TABS");
  EXPECT_EQ(message_name("#message 7 NAME   \"x\""), "NAME");
}

TEST(MessageName, EndsAtTheEndOfTheLine) {
  EXPECT_EQ(message_name("#message 7 NAME"), "NAME");
  EXPECT_EQ(message_name("#message 7 NAME\r"), "NAME");
  EXPECT_EQ(message_name("#message 7 NAME\r\n"), "NAME");
  EXPECT_EQ(message_name("#message 7"), "");
  EXPECT_EQ(message_name("#message 7   "), "");
  const std::string long_name(500, 'N');
  EXPECT_EQ(message_name("#message 7 " + long_name + " \"x\""), long_name);
}

}  // namespace
}  // namespace tolvane
