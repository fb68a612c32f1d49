#include "driver/options.h"

#include <gtest/gtest.h>

#include "platform/failure.h"
#include "platform/fake_file_system.h"

namespace tolvane {
namespace {

TEST(ParseCommandLine, ReadsOptionsAndUpperCasesTheMsgPath) {
  FakeFileSystem fs;
  fs.SetFile("A.h", "");
  BuildOptions options = parse_command_line({"-c", "-tA.h", "-hB.h", "x.msg"}, fs);
  EXPECT_TRUE(options.create);
  EXPECT_EQ(options.source_path, "A.h");
  EXPECT_EQ(options.names_path, "B.h");
  EXPECT_EQ(options.msg_path, "X.MSG");
  EXPECT_EQ(options.msg_typed, "x.msg");
}

}  // namespace
}  // namespace tolvane
