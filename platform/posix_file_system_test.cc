#include "platform/posix_file_system.h"

#include <errno.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>

#include "test_util/test_util.h"

namespace tolvane {
namespace {

using ::testing::ElementsAre;
using testing::file_exists;
using ::testing::HasSubstr;
using testing::read_file;
using testing::TempDir;
using testing::write_file;

// The IoError `op` throws; fails the test when it throws none.
IoError error_of(const std::function<void()>& op) {
  try {
    op();
  } catch (const IoError& e) {
    return e;
  }
  ADD_FAILURE() << "no error";
  return IoError("none", "", 0);
}

TEST(PosixFileSystem, OpenModes) {
  TempDir dir;
  PosixFileSystem fs;
  const std::string path = dir / "a";

  IoError missing = error_of([&] { fs.open(path, OpenMode::kRead); });
  EXPECT_EQ(missing.error(), ENOENT);
  EXPECT_EQ(missing.op(), "open");
  EXPECT_EQ(missing.path(), path);
  EXPECT_THAT(missing.what(), HasSubstr(path));
  EXPECT_EQ(error_of([&] { fs.open(path, OpenMode::kReadWrite); }).error(), ENOENT);
  EXPECT_FALSE(file_exists(path));

  write_file(path, "previous content");
  // Read/write keeps the content.
  auto file = fs.open(path, OpenMode::kReadWrite);
  file->write_at(0, "P", 1);
  file->close();
  EXPECT_EQ(read_file(path), "Previous content");
  // Reading only: writes are refused.
  file = fs.open(path, OpenMode::kRead);
  EXPECT_EQ(error_of([&] { file->write_at(0, "x", 1); }).error(), EBADF);
  file->close();
  // Create truncates.
  file = fs.open(path, OpenMode::kCreate);
  EXPECT_EQ(file->size(), 0u);
  file->close();
  EXPECT_EQ(read_file(path), "");
  // And creates.
  fs.open(dir / "b", OpenMode::kCreate)->close();
  EXPECT_TRUE(file_exists(dir / "b"));
  EXPECT_EQ(error_of([&] { fs.open(dir / "no/such/dir", OpenMode::kCreate); }).error(), ENOENT);
}

TEST(PosixFileSystem, OpeningADirectoryFails) {
  TempDir dir;
  PosixFileSystem fs;
  ASSERT_EQ(mkdir((dir / "sub").c_str(), 0755), 0);
  for (OpenMode mode : {OpenMode::kRead, OpenMode::kReadWrite, OpenMode::kCreate}) {
    IoError e = error_of([&] { fs.open(dir / "sub", mode); });
    EXPECT_EQ(e.error(), EISDIR) << static_cast<int>(mode);
    EXPECT_EQ(e.path(), dir / "sub");
  }
}

TEST(PosixFileSystem, PositionedReadsAndWrites) {
  TempDir dir;
  PosixFileSystem fs;
  auto file = fs.open(dir / "f", OpenMode::kCreate);
  file->write_at(0, "hello world", 11);
  file->write_at(6, "WORLD", 5);
  EXPECT_EQ(file->size(), 11u);
  char buf[16] = {};
  EXPECT_EQ(file->read_at(6, buf, 5), 5u);
  EXPECT_EQ(std::string(buf, 5), "WORLD");
  // Fewer bytes only at the end of the file.
  EXPECT_EQ(file->read_at(8, buf, 16), 3u);
  EXPECT_EQ(std::string(buf, 3), "RLD");
  EXPECT_EQ(file->read_at(11, buf, 16), 0u);
  EXPECT_EQ(file->read_at(1000, buf, 16), 0u);
  // Writing past the end leaves zeros between.
  file->write_at(13, "!", 1);
  EXPECT_EQ(file->size(), 14u);
  file->sync();
  file->close();
  file->close();  // a second close is harmless
  EXPECT_EQ(read_file(dir / "f"), std::string("hello WORLD\0\0!", 14));

  // Large transfers are complete.
  std::string big(3 << 20, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i % 251);
  file = fs.open(dir / "big", OpenMode::kCreate);
  file->write_at(1, big.data(), big.size());
  std::string back(big.size(), '\0');
  EXPECT_EQ(file->read_at(1, back.data(), back.size()), big.size());
  EXPECT_EQ(back, big);
}

TEST(PosixFileSystem, RenameNoReplaceRefusesAnExistingTarget) {
  TempDir dir;
  PosixFileSystem fs;
  write_file(dir / "a", "A");
  write_file(dir / "b", "B");
  IoError e = error_of([&] { fs.rename_no_replace(dir / "a", dir / "b"); });
  EXPECT_EQ(e.error(), EEXIST);
  EXPECT_EQ(read_file(dir / "a"), "A");
  EXPECT_EQ(read_file(dir / "b"), "B");

  fs.rename_no_replace(dir / "a", dir / "c");
  EXPECT_FALSE(file_exists(dir / "a"));
  EXPECT_EQ(read_file(dir / "c"), "A");
  EXPECT_EQ(error_of([&] { fs.rename_no_replace(dir / "a", dir / "d"); }).error(), ENOENT);
}

TEST(PosixFileSystem, RenameReplacesLinkAddsAName) {
  TempDir dir;
  PosixFileSystem fs;
  write_file(dir / "a", "A");
  write_file(dir / "b", "B");
  fs.rename(dir / "a", dir / "b");
  EXPECT_THAT(testing::list_dir(dir.path()), ElementsAre("b"));
  EXPECT_EQ(read_file(dir / "b"), "A");
  EXPECT_EQ(error_of([&] { fs.rename(dir / "a", dir / "b"); }).error(), ENOENT);

  fs.link(dir / "b", dir / "c");
  fs.open(dir / "c", OpenMode::kReadWrite)->write_at(1, "C", 1);
  EXPECT_EQ(read_file(dir / "b"), "AC");
  write_file(dir / "d", "D");
  EXPECT_EQ(error_of([&] { fs.link(dir / "b", dir / "d"); }).error(), EEXIST);
  EXPECT_EQ(read_file(dir / "d"), "D");
  EXPECT_EQ(error_of([&] { fs.link(dir / "x", dir / "y"); }).error(), ENOENT);

  fs.remove(dir / "b");
  EXPECT_FALSE(fs.exists(dir / "b"));
  EXPECT_TRUE(fs.exists(dir / "c"));
  EXPECT_EQ(read_file(dir / "c"), "AC");
  IoError e = error_of([&] { fs.remove(dir / "b"); });
  EXPECT_EQ(e.error(), ENOENT);
  EXPECT_EQ(e.op(), "remove");
  EXPECT_EQ(e.path(), dir / "b");
}

TEST(PosixFileSystem, SyncDir) {
  TempDir dir;
  PosixFileSystem fs;
  fs.sync_dir(dir.path());
  EXPECT_EQ(error_of([&] { fs.sync_dir(dir / "missing"); }).error(), ENOENT);
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
