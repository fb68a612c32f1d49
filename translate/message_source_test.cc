#include "translate/message_source.h"

#include <gtest/gtest.h>

#include "base/failure.h"
#include "platform/fake_file_system.h"
#include "test_util/test_util.h"

namespace tolvane::translate {
namespace {

TEST(MessageSource, ReadsNamesBytesLinesAndTheCommentBlockRightAbove) {
  FakeFileSystem fs;
  fs.set_file("en.h",
              "// #LANGUAGE EN\n// #FONFILE F\n// #MSGCODING CP1252\n// #FILETYPE 1\n"
              "// #APPLITYPE 2a\n"
              "// Shown at start.\n//   Keep it short.\n"
              "#message 1 MSG_HELLO \"Hi\\351\\n\"\n"
              "// Not above a message: a blank line follows.\n\n"
              "#message 2 MSG_TITLE\n"
              "#message 3 MSG_BYE \"Bye\"\n");
  const MessageSource source = read_message_source(fs, "en.h");
  EXPECT_EQ(source.directive_lines.size(), 5u);
  EXPECT_EQ(source.parameters.language, "EN");
  ASSERT_EQ(source.messages.size(), 3u);
  EXPECT_EQ(source.messages[0].name, "MSG_HELLO");
  EXPECT_EQ(source.messages[0].bytes, "Hi\xE9\n");
  EXPECT_EQ(source.messages[0].line, 8);
  EXPECT_EQ(source.messages[0].comments,
            (std::vector<std::string>{"Shown at start.", "  Keep it short."}));
  EXPECT_FALSE(source.messages[1].has_text);
  EXPECT_TRUE(source.messages[1].comments.empty());
  EXPECT_TRUE(source.messages[2].comments.empty());
}

TEST(MessageSource, RefusalsNameFileAndLine) {
  FakeFileSystem fs;
  fs.set_file("bad.h",
              "// #LANGUAGE EN\n// #FONFILE F\n// #MSGCODING B\n// #FILETYPE 1\n// #APPLITYPE 2\n"
              "#message 4 MSG_X \"a\\xg\"\n");
  const Failure failure = testing::catch_failure([&] { read_message_source(fs, "bad.h"); });
  EXPECT_EQ(failure.message().rfind("bad.h:6: ", 0), 0u) << failure.message();
  const Failure missing = testing::catch_failure([&] { read_message_source(fs, "none.h"); });
  EXPECT_NE(missing.message().find("cannot read none.h"), std::string::npos);
}

}  // namespace
}  // namespace tolvane::translate
