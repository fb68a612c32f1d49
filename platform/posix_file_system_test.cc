#include "platform/posix_file_system.h"

#include <errno.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>

#include "test_util/file_system_contract.h"
#include "test_util/test_util.h"

namespace tolvane {
namespace {

using testing::check_file_system_contract;
using testing::io_error_of;
using testing::TempDir;

TEST(PosixFileSystem, KeepsTheFileSystemContract) {
  TempDir dir;
  PosixFileSystem fs;
  check_file_system_contract(
      fs, [&](const std::string& name) { return dir / name; }, EBADF);
  EXPECT_EQ(io_error_of([&] { fs.open(dir / "no/such/dir", OpenMode::kCreate); }).error(), ENOENT);
}

TEST(PosixFileSystem, OpeningADirectoryFails) {
  TempDir dir;
  PosixFileSystem fs;
  ASSERT_EQ(mkdir((dir / "sub").c_str(), 0755), 0);
  for (OpenMode mode : {OpenMode::kRead, OpenMode::kReadWrite, OpenMode::kCreate}) {
    IoError e = io_error_of([&] { fs.open(dir / "sub", mode); });
    EXPECT_EQ(e.error(), EISDIR) << static_cast<int>(mode);
    EXPECT_EQ(e.path(), dir / "sub");
  }
}

TEST(PosixFileSystem, SyncDir) {
  TempDir dir;
  PosixFileSystem fs;
  fs.sync_dir(dir.path());
  EXPECT_EQ(io_error_of([&] { fs.sync_dir(dir / "missing"); }).error(), ENOENT);
}

TEST(DirName, DirectoryPartOfAPath) {
  EXPECT_EQ(dir_name("app.msg"), ".");
  EXPECT_EQ(dir_name("out/app.msg"), "out");
  EXPECT_EQ(dir_name("a/b/app.msg"), "a/b");
  EXPECT_EQ(dir_name("/app.msg"), "/");
  EXPECT_EQ(dir_name("/tmp/app.msg"), "/tmp");
}

}  // namespace
}  // namespace tolvane
