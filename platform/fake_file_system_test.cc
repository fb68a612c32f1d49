#include "platform/fake_file_system.h"

#include <errno.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "test_util/file_system_contract.h"

namespace tolvane {
namespace {

using ::testing::ElementsAre;

std::string contents(const FakeFileSystem& fs, const std::string& path) {
  std::string content;
  EXPECT_TRUE(fs.get_file(path, &content)) << path;
  return content;
}

// The errno of the IoError `op` throws, or 0 when it throws none.
int error_of(const std::function<void()>& op) {
  try {
    op();
  } catch (const IoError& e) {
    return e.error();
  }
  return 0;
}

TEST(FakeFileSystem, FailsTheNthOperationOnce) {
  FakeFileSystem fs;
  fs.set_file("a", "abc");
  auto file = fs.open("a", OpenMode::kReadWrite);  // 1
  fs.fail_at(3, false);
  char buf[3];
  EXPECT_EQ(file->read_at(0, buf, 3), 3u);  // 2
  EXPECT_FALSE(fs.injected());
  try {
    file->write_at(0, "x", 1);  // 3
    ADD_FAILURE() << "no failure";
  } catch (const IoError& e) {
    EXPECT_EQ(e.error(), EIO);
    EXPECT_EQ(std::string(e.what()).rfind("write ", 0), 0u) << e.what();
    EXPECT_EQ(e.path(), "a");
  }
  EXPECT_TRUE(fs.injected());
  EXPECT_EQ(contents(fs, "a"), "abc");  // the failed write changed nothing
  file->write_at(0, "x", 1);            // 4
  file->sync();                         // 5
  EXPECT_EQ(contents(fs, "a"), "xbc");
  EXPECT_EQ(fs.operations(), 5);
}

TEST(FakeFileSystem, FailsEveryOperationFromTheNthWhenPersistent) {
  FakeFileSystem fs;
  fs.set_file("a", "abc");
  fs.fail_at(2, true);
  auto file = fs.open("a", OpenMode::kRead);
  char buf[3];
  EXPECT_EQ(error_of([&] { file->read_at(0, buf, 3); }), EIO);
  EXPECT_EQ(error_of([&] { file->close(); }), EIO);
  EXPECT_EQ(error_of([&] { fs.rename("a", "b"); }), EIO);
  EXPECT_EQ(error_of([&] { fs.remove("a"); }), EIO);
  EXPECT_THAT(fs.list_files(), ElementsAre("a"));
  // Disabled again, everything works.
  fs.fail_at(0, false);
  fs.remove("a");
  EXPECT_TRUE(fs.list_files().empty());
}

TEST(FakeFileSystem, CountsEveryOperationThatCanFailOnADisk) {
  FakeFileSystem fs;
  fs.set_file("a", "abc");
  auto count = [&](const std::function<void()>& op) {
    long before = fs.operations();
    op();
    return fs.operations() - before;
  };
  std::unique_ptr<File> file;
  char buf[4];
  EXPECT_EQ(count([&] { file = fs.open("a", OpenMode::kReadWrite); }), 1);
  EXPECT_EQ(count([&] { file->read_at(0, buf, 4); }), 1);
  EXPECT_EQ(count([&] { file->read_at(10, buf, 4); }), 1);
  EXPECT_EQ(count([&] { file->write_at(0, "z", 1); }), 1);
  EXPECT_EQ(count([&] { file->sync(); }), 1);
  EXPECT_EQ(count([&] { file->close(); }), 1);
  EXPECT_EQ(count([&] { fs.link("a", "b"); }), 1);
  EXPECT_EQ(count([&] { fs.rename("b", "c"); }), 1);
  EXPECT_EQ(count([&] { fs.rename_no_replace("c", "d"); }), 1);
  EXPECT_EQ(count([&] { fs.remove("d"); }), 1);
  EXPECT_EQ(count([&] { fs.sync_dir("."); }), 1);
  // Failed operations count too.
  EXPECT_EQ(count([&] { EXPECT_THROW(fs.open("missing", OpenMode::kRead), IoError); }), 1);
  EXPECT_EQ(count([&] { EXPECT_THROW(fs.remove("missing"), IoError); }), 1);
  // Inspection and set-up are free.
  EXPECT_EQ(count([&] {
              fs.exists("a");
              file->size();
              fs.set_file("e", "");
              std::string s;
              fs.get_file("e", &s);
              fs.list_files();
            }),
            0);
}

TEST(FakeFileSystem, LinksShareContentRenamesMoveIt) {
  FakeFileSystem fs;
  fs.set_file("a", "one");
  fs.link("a", "b");
  fs.open("b", OpenMode::kReadWrite)->write_at(3, "two", 3);
  EXPECT_EQ(contents(fs, "a"), "onetwo");
  // Truncating one name truncates the file behind both.
  fs.open("a", OpenMode::kCreate);
  EXPECT_EQ(contents(fs, "b"), "");
  fs.set_file("a", "fresh");  // a new file under the old name
  EXPECT_EQ(contents(fs, "b"), "");
  fs.remove("a");
  EXPECT_THAT(fs.list_files(), ElementsAre("b"));

  // An open file follows its file through a rename.
  fs.set_file("c", "");
  auto file = fs.open("c", OpenMode::kReadWrite);
  fs.rename("c", "d");
  file->write_at(0, "moved", 5);
  EXPECT_EQ(contents(fs, "d"), "moved");
  EXPECT_FALSE(fs.exists("c"));
}

TEST(FakeFileSystem, KeepsTheFileSystemContract) {
  FakeFileSystem fs;
  testing::check_file_system_contract(
      fs, [](const std::string& name) { return name; }, EBADF);
  // A link across devices fails as it would there, and makes no name.
  fs.set_links_fail(true);
  EXPECT_EQ(error_of([&] { fs.link("b", "e"); }), EXDEV);
  EXPECT_FALSE(fs.exists("e"));
}

}  // namespace
}  // namespace tolvane
