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
using testing::FileExists;
using ::testing::HasSubstr;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

// The IoError `op` throws; fails the test when it throws none.
IoError ErrorOf(const std::function<void()>& op) {
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

  IoError missing = ErrorOf([&] { fs.Open(path, OpenMode::kRead); });
  EXPECT_EQ(missing.error(), ENOENT);
  EXPECT_EQ(missing.op(), "open");
  EXPECT_EQ(missing.path(), path);
  EXPECT_THAT(missing.what(), HasSubstr(path));
  EXPECT_EQ(ErrorOf([&] { fs.Open(path, OpenMode::kReadWrite); }).error(), ENOENT);
  EXPECT_FALSE(FileExists(path));

  WriteFile(path, "previous content");
  // Read/write keeps the content.
  auto file = fs.Open(path, OpenMode::kReadWrite);
  file->WriteAt(0, "P", 1);
  file->Close();
  EXPECT_EQ(ReadFile(path), "Previous content");
  // Reading only: writes are refused.
  file = fs.Open(path, OpenMode::kRead);
  EXPECT_EQ(ErrorOf([&] { file->WriteAt(0, "x", 1); }).error(), EBADF);
  file->Close();
  // Create truncates.
  file = fs.Open(path, OpenMode::kCreate);
  EXPECT_EQ(file->Size(), 0u);
  file->Close();
  EXPECT_EQ(ReadFile(path), "");
  // And creates.
  fs.Open(dir / "b", OpenMode::kCreate)->Close();
  EXPECT_TRUE(FileExists(dir / "b"));
  EXPECT_EQ(ErrorOf([&] { fs.Open(dir / "no/such/dir", OpenMode::kCreate); }).error(), ENOENT);
}

TEST(PosixFileSystem, OpeningADirectoryFails) {
  TempDir dir;
  PosixFileSystem fs;
  ASSERT_EQ(mkdir((dir / "sub").c_str(), 0755), 0);
  for (OpenMode mode : {OpenMode::kRead, OpenMode::kReadWrite, OpenMode::kCreate}) {
    IoError e = ErrorOf([&] { fs.Open(dir / "sub", mode); });
    EXPECT_EQ(e.error(), EISDIR) << static_cast<int>(mode);
    EXPECT_EQ(e.path(), dir / "sub");
  }
}

TEST(PosixFileSystem, PositionedReadsAndWrites) {
  TempDir dir;
  PosixFileSystem fs;
  auto file = fs.Open(dir / "f", OpenMode::kCreate);
  file->WriteAt(0, "hello world", 11);
  file->WriteAt(6, "WORLD", 5);
  EXPECT_EQ(file->Size(), 11u);
  char buf[16] = {};
  EXPECT_EQ(file->ReadAt(6, buf, 5), 5u);
  EXPECT_EQ(std::string(buf, 5), "WORLD");
  // Fewer bytes only at the end of the file.
  EXPECT_EQ(file->ReadAt(8, buf, 16), 3u);
  EXPECT_EQ(std::string(buf, 3), "RLD");
  EXPECT_EQ(file->ReadAt(11, buf, 16), 0u);
  EXPECT_EQ(file->ReadAt(1000, buf, 16), 0u);
  // Writing past the end leaves zeros between.
  file->WriteAt(13, "!", 1);
  EXPECT_EQ(file->Size(), 14u);
  file->Sync();
  file->Close();
  file->Close();  // a second close is harmless
  EXPECT_EQ(ReadFile(dir / "f"), std::string("hello WORLD\0\0!", 14));

  // Large transfers are complete.
  std::string big(3 << 20, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i % 251);
  file = fs.Open(dir / "big", OpenMode::kCreate);
  file->WriteAt(1, big.data(), big.size());
  std::string back(big.size(), '\0');
  EXPECT_EQ(file->ReadAt(1, back.data(), back.size()), big.size());
  EXPECT_EQ(back, big);
}

TEST(PosixFileSystem, RenameNoReplaceRefusesAnExistingTarget) {
  TempDir dir;
  PosixFileSystem fs;
  WriteFile(dir / "a", "A");
  WriteFile(dir / "b", "B");
  IoError e = ErrorOf([&] { fs.RenameNoReplace(dir / "a", dir / "b"); });
  EXPECT_EQ(e.error(), EEXIST);
  EXPECT_EQ(ReadFile(dir / "a"), "A");
  EXPECT_EQ(ReadFile(dir / "b"), "B");

  fs.RenameNoReplace(dir / "a", dir / "c");
  EXPECT_FALSE(FileExists(dir / "a"));
  EXPECT_EQ(ReadFile(dir / "c"), "A");
  EXPECT_EQ(ErrorOf([&] { fs.RenameNoReplace(dir / "a", dir / "d"); }).error(), ENOENT);
}

TEST(PosixFileSystem, RenameReplacesLinkAddsAName) {
  TempDir dir;
  PosixFileSystem fs;
  WriteFile(dir / "a", "A");
  WriteFile(dir / "b", "B");
  fs.Rename(dir / "a", dir / "b");
  EXPECT_THAT(testing::ListDir(dir.path()), ElementsAre("b"));
  EXPECT_EQ(ReadFile(dir / "b"), "A");
  EXPECT_EQ(ErrorOf([&] { fs.Rename(dir / "a", dir / "b"); }).error(), ENOENT);

  fs.Link(dir / "b", dir / "c");
  fs.Open(dir / "c", OpenMode::kReadWrite)->WriteAt(1, "C", 1);
  EXPECT_EQ(ReadFile(dir / "b"), "AC");
  WriteFile(dir / "d", "D");
  EXPECT_EQ(ErrorOf([&] { fs.Link(dir / "b", dir / "d"); }).error(), EEXIST);
  EXPECT_EQ(ReadFile(dir / "d"), "D");
  EXPECT_EQ(ErrorOf([&] { fs.Link(dir / "x", dir / "y"); }).error(), ENOENT);

  fs.Remove(dir / "b");
  EXPECT_FALSE(fs.Exists(dir / "b"));
  EXPECT_TRUE(fs.Exists(dir / "c"));
  EXPECT_EQ(ReadFile(dir / "c"), "AC");
  IoError e = ErrorOf([&] { fs.Remove(dir / "b"); });
  EXPECT_EQ(e.error(), ENOENT);
  EXPECT_EQ(e.op(), "remove");
  EXPECT_EQ(e.path(), dir / "b");
}

TEST(PosixFileSystem, SyncDir) {
  TempDir dir;
  PosixFileSystem fs;
  fs.SyncDir(dir.path());
  EXPECT_EQ(ErrorOf([&] { fs.SyncDir(dir / "missing"); }).error(), ENOENT);
}

TEST(DirName, DirectoryPartOfAPath) {
  EXPECT_EQ(DirName("app.msg"), ".");
  EXPECT_EQ(DirName("out/app.msg"), "out");
  EXPECT_EQ(DirName("a/b/app.msg"), "a/b");
  EXPECT_EQ(DirName("/app.msg"), "/");
  EXPECT_EQ(DirName("/tmp/app.msg"), "/tmp");
}

}  // namespace
}  // namespace tolvane
