#include "test_util/file_system_contract.h"

#include <errno.h>
#include <gtest/gtest.h>

#include "test_util/test_util.h"

namespace tolvane::testing {

std::string read_whole(FileSystem& fs, const std::string& path) {
  auto file = fs.open(path, OpenMode::kRead);
  std::string content(file->size(), '\0');
  content.resize(file->read_at(0, content.data(), content.size()));
  file->close();
  return content;
}

void write_whole(FileSystem& fs, const std::string& path, const std::string& content) {
  auto file = fs.open(path, OpenMode::kCreate);
  file->write_at(0, content.data(), content.size());
  file->close();
}

void check_file_system_contract(FileSystem& fs,
                                const std::function<std::string(const std::string&)>& at,
                                int read_only_error) {
  const std::string a = at("a"), b = at("b"), c = at("c"), d = at("d"), x = at("x");

  // Opening: a missing file is named in the error; create makes it, and
  // empties one that exists; read/write keeps the content.
  const IoError missing = io_error_of([&] { fs.open(a, OpenMode::kRead); });
  EXPECT_EQ(missing.error(), ENOENT);
  EXPECT_EQ(std::string(missing.what()).rfind("open ", 0), 0u) << missing.what();
  EXPECT_EQ(missing.path(), a);
  EXPECT_NE(std::string(missing.what()).find(a), std::string::npos) << missing.what();
  EXPECT_EQ(io_error_of([&] { fs.open(a, OpenMode::kReadWrite); }).error(), ENOENT);
  EXPECT_FALSE(fs.exists(a));
  write_whole(fs, a, "previous content");
  EXPECT_TRUE(fs.exists(a));
  fs.open(a, OpenMode::kReadWrite)->write_at(0, "P", 1);
  EXPECT_EQ(read_whole(fs, a), "Previous content");
  auto file = fs.open(a, OpenMode::kRead);
  EXPECT_EQ(io_error_of([&] { file->write_at(0, "x", 1); }).error(), read_only_error);
  file->close();
  EXPECT_EQ(fs.open(a, OpenMode::kCreate)->size(), 0u);
  EXPECT_EQ(read_whole(fs, a), "");

  // Positioned reads and writes: fewer bytes only at the end, zeros in a
  // gap written past it, and a second close is harmless.
  file = fs.open(a, OpenMode::kCreate);
  file->write_at(0, "hello world", 11);
  file->write_at(6, "WORLD", 5);
  char buf[16] = {};
  EXPECT_EQ(file->read_at(6, buf, 5), 5u);
  EXPECT_EQ(std::string(buf, 5), "WORLD");
  EXPECT_EQ(file->read_at(8, buf, 16), 3u);
  EXPECT_EQ(std::string(buf, 3), "RLD");
  EXPECT_EQ(file->read_at(11, buf, 16), 0u);
  EXPECT_EQ(file->read_at(1000, buf, 16), 0u);
  file->write_at(13, "!", 1);
  EXPECT_EQ(file->size(), 14u);
  file->sync();
  file->close();
  file->close();
  EXPECT_EQ(read_whole(fs, a), std::string("hello WORLD\0\0!", 14));
  // Large transfers are complete.
  std::string big(3 << 20, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i % 251);
  file = fs.open(b, OpenMode::kCreate);
  file->write_at(1, big.data(), big.size());
  std::string back(big.size(), '\0');
  EXPECT_EQ(file->read_at(1, back.data(), back.size()), big.size());
  EXPECT_TRUE(back == big);
  file->close();

  // Renames: without replacing, an existing target is refused and both stay.
  write_whole(fs, a, "A");
  write_whole(fs, b, "B");
  EXPECT_EQ(io_error_of([&] { fs.rename_no_replace(a, b); }).error(), EEXIST);
  EXPECT_EQ(read_whole(fs, a), "A");
  EXPECT_EQ(read_whole(fs, b), "B");
  EXPECT_EQ(io_error_of([&] { fs.rename_no_replace(x, d); }).error(), ENOENT);
  fs.rename(a, b);
  EXPECT_FALSE(fs.exists(a));
  EXPECT_EQ(read_whole(fs, b), "A");
  EXPECT_EQ(io_error_of([&] { fs.rename(a, b); }).error(), ENOENT);
  fs.rename_no_replace(b, c);
  EXPECT_FALSE(fs.exists(b));
  EXPECT_EQ(read_whole(fs, c), "A");

  // A second name of the same file, as backups are taken; removing one
  // name leaves the other.
  fs.link(c, d);
  fs.open(d, OpenMode::kReadWrite)->write_at(1, "D", 1);
  EXPECT_EQ(read_whole(fs, c), "AD");
  write_whole(fs, b, "B");
  EXPECT_EQ(io_error_of([&] { fs.link(c, b); }).error(), EEXIST);
  EXPECT_EQ(read_whole(fs, b), "B");
  EXPECT_EQ(io_error_of([&] { fs.link(x, at("y")); }).error(), ENOENT);
  fs.remove(c);
  EXPECT_FALSE(fs.exists(c));
  EXPECT_EQ(read_whole(fs, d), "AD");
  const IoError gone = io_error_of([&] { fs.remove(c); });
  EXPECT_EQ(gone.error(), ENOENT);
  EXPECT_EQ(std::string(gone.what()).rfind("remove ", 0), 0u) << gone.what();
  EXPECT_EQ(gone.path(), c);
}

}  // namespace tolvane::testing
