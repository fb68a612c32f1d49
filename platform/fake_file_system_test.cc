#include "platform/fake_file_system.h"

#include <errno.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

namespace tolvane {
namespace {

using ::testing::ElementsAre;

std::string Contents(const FakeFileSystem& fs, const std::string& path) {
  std::string content;
  EXPECT_TRUE(fs.GetFile(path, &content)) << path;
  return content;
}

// The errno of the IoError `op` throws, or 0 when it throws none.
int ErrorOf(const std::function<void()>& op) {
  try {
    op();
  } catch (const IoError& e) {
    return e.error();
  }
  return 0;
}

TEST(FakeFileSystem, FailsTheNthOperationOnce) {
  FakeFileSystem fs;
  fs.SetFile("a", "abc");
  auto file = fs.Open("a", OpenMode::kReadWrite);  // 1
  fs.FailAt(3, false);
  char buf[3];
  EXPECT_EQ(file->ReadAt(0, buf, 3), 3u);  // 2
  EXPECT_FALSE(fs.injected());
  try {
    file->WriteAt(0, "x", 1);  // 3
    ADD_FAILURE() << "no failure";
  } catch (const IoError& e) {
    EXPECT_EQ(e.error(), EIO);
    EXPECT_EQ(e.op(), "write");
    EXPECT_EQ(e.path(), "a");
  }
  EXPECT_TRUE(fs.injected());
  EXPECT_EQ(Contents(fs, "a"), "abc");  // the failed write changed nothing
  file->WriteAt(0, "x", 1);             // 4
  file->Sync();                         // 5
  EXPECT_EQ(Contents(fs, "a"), "xbc");
  EXPECT_EQ(fs.operations(), 5);
}

TEST(FakeFileSystem, FailsEveryOperationFromTheNthWhenPersistent) {
  FakeFileSystem fs;
  fs.SetFile("a", "abc");
  fs.FailAt(2, true);
  auto file = fs.Open("a", OpenMode::kRead);
  char buf[3];
  EXPECT_EQ(ErrorOf([&] { file->ReadAt(0, buf, 3); }), EIO);
  EXPECT_EQ(ErrorOf([&] { file->Close(); }), EIO);
  EXPECT_EQ(ErrorOf([&] { fs.Rename("a", "b"); }), EIO);
  EXPECT_EQ(ErrorOf([&] { fs.Remove("a"); }), EIO);
  EXPECT_THAT(fs.ListFiles(), ElementsAre("a"));
  // Disabled again, everything works.
  fs.FailAt(0, false);
  fs.Remove("a");
  EXPECT_TRUE(fs.ListFiles().empty());
}

TEST(FakeFileSystem, CountsEveryOperationThatCanFailOnADisk) {
  FakeFileSystem fs;
  fs.SetFile("a", "abc");
  auto count = [&](const std::function<void()>& op) {
    long before = fs.operations();
    op();
    return fs.operations() - before;
  };
  std::unique_ptr<File> file;
  char buf[4];
  EXPECT_EQ(count([&] { file = fs.Open("a", OpenMode::kReadWrite); }), 1);
  EXPECT_EQ(count([&] { file->ReadAt(0, buf, 4); }), 1);
  EXPECT_EQ(count([&] { file->ReadAt(10, buf, 4); }), 1);
  EXPECT_EQ(count([&] { file->WriteAt(0, "z", 1); }), 1);
  EXPECT_EQ(count([&] { file->Sync(); }), 1);
  EXPECT_EQ(count([&] { file->Close(); }), 1);
  EXPECT_EQ(count([&] { fs.Link("a", "b"); }), 1);
  EXPECT_EQ(count([&] { fs.Rename("b", "c"); }), 1);
  EXPECT_EQ(count([&] { fs.RenameNoReplace("c", "d"); }), 1);
  EXPECT_EQ(count([&] { fs.Remove("d"); }), 1);
  EXPECT_EQ(count([&] { fs.SyncDir("."); }), 1);
  // Failed operations count too.
  EXPECT_EQ(count([&] { EXPECT_THROW(fs.Open("missing", OpenMode::kRead), IoError); }), 1);
  EXPECT_EQ(count([&] { EXPECT_THROW(fs.Remove("missing"), IoError); }), 1);
  // Inspection and set-up are free.
  EXPECT_EQ(count([&] {
              fs.Exists("a");
              file->Size();
              fs.SetFile("e", "");
              std::string s;
              fs.GetFile("e", &s);
              fs.ListFiles();
            }),
            0);
}

TEST(FakeFileSystem, LinksShareContentRenamesMoveIt) {
  FakeFileSystem fs;
  fs.SetFile("a", "one");
  fs.Link("a", "b");
  fs.Open("b", OpenMode::kReadWrite)->WriteAt(3, "two", 3);
  EXPECT_EQ(Contents(fs, "a"), "onetwo");
  // Truncating one name truncates the file behind both.
  fs.Open("a", OpenMode::kCreate);
  EXPECT_EQ(Contents(fs, "b"), "");
  fs.SetFile("a", "fresh");  // a new file under the old name
  EXPECT_EQ(Contents(fs, "b"), "");
  fs.Remove("a");
  EXPECT_THAT(fs.ListFiles(), ElementsAre("b"));

  // An open file follows its file through a rename.
  fs.SetFile("c", "");
  auto file = fs.Open("c", OpenMode::kReadWrite);
  fs.Rename("c", "d");
  file->WriteAt(0, "moved", 5);
  EXPECT_EQ(Contents(fs, "d"), "moved");
  EXPECT_FALSE(fs.Exists("c"));
}

TEST(FakeFileSystem, BehavesAsADiskOnErrors) {
  FakeFileSystem fs;
  fs.SetFile("a", "A");
  fs.SetFile("b", "B");
  EXPECT_EQ(ErrorOf([&] { fs.Open("x", OpenMode::kRead); }), ENOENT);
  EXPECT_EQ(ErrorOf([&] { fs.Open("x", OpenMode::kReadWrite); }), ENOENT);
  EXPECT_EQ(ErrorOf([&] { fs.Open("a", OpenMode::kRead)->WriteAt(0, "z", 1); }), EBADF);
  EXPECT_EQ(ErrorOf([&] { fs.RenameNoReplace("a", "b"); }), EEXIST);
  EXPECT_EQ(ErrorOf([&] { fs.RenameNoReplace("x", "y"); }), ENOENT);
  EXPECT_EQ(ErrorOf([&] { fs.Link("a", "b"); }), EEXIST);
  EXPECT_EQ(ErrorOf([&] { fs.Link("x", "y"); }), ENOENT);
  EXPECT_EQ(ErrorOf([&] { fs.Rename("x", "y"); }), ENOENT);
  EXPECT_EQ(Contents(fs, "a"), "A");
  EXPECT_EQ(Contents(fs, "b"), "B");

  fs.Rename("a", "b");
  EXPECT_EQ(Contents(fs, "b"), "A");
  EXPECT_THAT(fs.ListFiles(), ElementsAre("b"));

  fs.set_links_fail(true);
  EXPECT_EQ(ErrorOf([&] { fs.Link("b", "c"); }), EXDEV);
  EXPECT_FALSE(fs.Exists("c"));

  // Reads stop at the end, writes past it fill the gap with zeros.
  auto file = fs.Open("b", OpenMode::kReadWrite);
  char buf[8];
  EXPECT_EQ(file->ReadAt(0, buf, 8), 1u);
  EXPECT_EQ(file->ReadAt(1, buf, 8), 0u);
  EXPECT_EQ(file->ReadAt(100, buf, 8), 0u);
  file->WriteAt(3, "Z", 1);
  EXPECT_EQ(Contents(fs, "b"), std::string("A\0\0Z", 4));
  EXPECT_EQ(file->Size(), 4u);
}

}  // namespace
}  // namespace tolvane
