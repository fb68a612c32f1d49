#include "dump/utf8_view.h"

#include <gtest/gtest.h>

#include "dump/command.h"
#include "dump/dump_test_util.h"
#include "test_util/test_util.h"

namespace tolvane::dump {
namespace {

using testing::build_catalogue;

TEST(Utf8View, SpellsForPeopleAndForJson) {
  EXPECT_EQ(quoted_utf8("\"caf\xC3\xA9\"\n\\"), "\\\"caf\xC3\xA9\\\"\\n\\\\");
  // JSON stays plain ASCII: U+1F600 as a surrogate pair.
  EXPECT_EQ(json_utf8("a\"\xC3\xA9\t\xF0\x9F\x98\x80"), "a\\\"\\u00e9\\u0009\\ud83d\\ude00");
}

class Utf8Views : public ::testing::Test {
 protected:
  void SetUp() override {
    bytes_ = build_catalogue(
        dir_,
        {tolvane::testing::message_source(
             "EN", "#message 1 M_A \"Caf\\351\\n\"\n#message 2 M_B \"plain\"\n", "CP1252"),
         tolvane::testing::message_source(
             "JA", "#message 1 M_A \"\\x30\\x42\\xD8\\x3D\\xDE\\x00\"\n#message 2 M_B \"\\xD8\"\n",
             "UNICODE")});
  }
  std::string dump(std::vector<std::string> args) {
    args.push_back("app.msg");
    const DumpResult result = run_dump(parse_dump_options(args), bytes_, "");
    return result.out;
  }
  tolvane::testing::TempDir dir_;
  std::string bytes_;
};

TEST_F(Utf8Views, TextsThatDecodeAreShownInUtf8AndTheOthersEscaped) {
  // Without a character set a byte text is ASCII: the accented one stays escaped.
  EXPECT_EQ(dump({"--messages", "--utf8"}),
            "Table EN:1: 2 messages, coding byte\n"
            "      1  at 154  \"Caf\\351\\n\"\n"
            "      2  at 160  \"plain\"\n"
            "Table JA:1: 2 messages, coding UNICODE\n"
            "      1  at 178  \"\xE3\x81\x82\xF0\x9F\x98\x80\"\n"
            "      2  at 186  \"\\xD8\\x00\"\n");  // a lone surrogate
  const std::string json = dump({"--messages", "--json", "--utf8", "--language", "JA"});
  EXPECT_NE(json.find("\"bytes\": \"3042d83dde00\", \"utf8\": \"\\u3042\\ud83d\\ude00\"}"),
            std::string::npos)
      << json;
  EXPECT_NE(json.find("\"bytes\": \"d800\"}"), std::string::npos);  // half a character
  EXPECT_EQ(dump({"--messages", "--json", "--language", "JA"}).find("utf8"), std::string::npos);
#ifndef _WIN32  // the Windows build knows no character set but ASCII
  EXPECT_NE(dump({"--messages", "--charset", "CP1252"}).find("\"Caf\xC3\xA9\\n\""),
            std::string::npos);
  // The source still rebuilds the table: the UTF-8 is a comment above.
  EXPECT_EQ(dump({"--source", "EN", "--charset", "CP1252"}),
            "// #LANGUAGE EN\n// #FONFILE F\n// #MSGCODING BYTE\n// #FILETYPE 1\n"
            "// #APPLITYPE 2\n// Caf\xC3\xA9\\n\n#message 1 MSG_1 \"Caf\\351\\n\"\n"
            "// plain\n#message 2 MSG_2 \"plain\"\n");
#endif
}

}  // namespace
}  // namespace tolvane::dump
