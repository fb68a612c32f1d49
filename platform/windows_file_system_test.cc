#include "platform/windows_file_system.h"

#include <errno.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/console.h"
#include "platform/interrupt.h"
#include "test_util/file_system_contract.h"
#include "test_util/test_util.h"

namespace tolvane {
namespace {

using testing::check_file_system_contract;
using ::testing::ElementsAre;
using testing::io_error_of;
using testing::list_dir;
using testing::read_whole;
using testing::TempDir;
using testing::write_whole;

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

DWORD attributes_of(const std::string& path) {
  return GetFileAttributesW(wide_path("stat", path).c_str());
}

// Opens `path` the way a virus scanner might: sharing nothing, so that it can
// be neither renamed, replaced nor removed while open.
HANDLE open_unshared(const std::string& path) {
  return CreateFileW(wide_path("open", path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST(WindowsFileSystem, KeepsTheFileSystemContract) {
  TempDir dir;
  WindowsFileSystem fs;
  check_file_system_contract(
      fs, [&](const std::string& name) { return dir / name; }, EACCES);
  EXPECT_EQ(io_error_of([&] { fs.open(dir / "no/such/dir", OpenMode::kCreate); }).error(), ENOENT);
  ASSERT_TRUE(CreateDirectoryW(wide_path("mkdir", dir / "sub").c_str(), nullptr));
  for (OpenMode mode : {OpenMode::kRead, OpenMode::kReadWrite, OpenMode::kCreate}) {
    EXPECT_EQ(io_error_of([&] { fs.open(dir / "sub", mode); }).error(), EISDIR);
  }

  // Binary: line feeds stay bare, nothing is added or dropped.
  const std::string path = dir / "text";
  auto file = fs.open(path, OpenMode::kCreate);
  file->write_at(0, "line\nnext\r\n\x1a!", 13);
  file->write_at(5, "NEXT", 4);
  char buf[32];
  EXPECT_EQ(file->read_at(3, buf, 32), 10u);
  EXPECT_EQ(std::string(buf, 10), "e\nNEXT\r\n\x1a!");
  file->close();
  EXPECT_EQ(read_whole(fs, path), "line\nNEXT\r\n\x1a!");

  // Create empties a file, a hidden one too (which CREATE_ALWAYS refuses).
  ASSERT_TRUE(SetFileAttributesW(wide_path("chmod", path).c_str(), FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(fs.open(path, OpenMode::kCreate)->size(), 0u);
  EXPECT_EQ(read_whole(fs, path), "");
}

TEST(WindowsFileSystem, NamesAreUtf8Inside) {
  TempDir dir;
  WindowsFileSystem fs;
  // é, €, and a character outside the 16-bit range (a surrogate pair).
  const std::string name = "caf\xC3\xA9-\xE2\x82\xAC-\xF0\x9F\x98\x80.msg";
  write_whole(fs, dir / name, "content");
  EXPECT_THAT(list_dir(dir.path()), ElementsAre(name));
  EXPECT_TRUE(fs.exists(dir / name));
  const std::string renamed = "\xE6\x97\xA5\xE6\x9C\xAC.msg";
  fs.rename(dir / name, dir / renamed);
  EXPECT_EQ(read_whole(fs, dir / renamed), "content");
  EXPECT_THAT(list_dir(dir.path()), ElementsAre(renamed));
  // Bytes that are no UTF-8 name no file.
  IoError e = io_error_of([&] { fs.open(dir / "bad\xFF.msg", OpenMode::kCreate); });
  EXPECT_EQ(e.error(), EINVAL);
  EXPECT_FALSE(fs.exists(dir / "bad\xFF.msg"));
}

TEST(WindowsFileSystem, SameFileAndSyncDir) {
  TempDir dir;
  WindowsFileSystem fs;
  write_whole(fs, dir / "c", "AD");
  fs.link(dir / "c", dir / "d");
  EXPECT_TRUE(fs.same_file(dir / "c", dir / "d"));
  write_whole(fs, dir / "e", "AD");
  EXPECT_FALSE(fs.same_file(dir / "c", dir / "e"));
  EXPECT_FALSE(fs.same_file(dir / "c", dir / "missing"));
  fs.sync_dir(dir.path());  // nothing to do on Windows, and no failure
}

TEST(WindowsFileSystem, RefusalsWhileAnotherProgramHoldsTheFileAreRetried) {
  TempDir dir;
  WindowsFileSystem fs;
  write_whole(fs, dir / "held", "H");
  write_whole(fs, dir / "new", "N");

  // Released after 300 ms: the removal waits for it and succeeds.
  HANDLE handle = open_unshared(dir / "held");
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  std::thread release([handle] {
    Sleep(300);
    CloseHandle(handle);
  });
  auto start = Clock::now();
  fs.remove(dir / "held");
  release.join();
  EXPECT_GE(Clock::now() - start, milliseconds(250));
  EXPECT_FALSE(fs.exists(dir / "held"));

  // The same for a file about to be replaced.
  write_whole(fs, dir / "held", "H");
  handle = open_unshared(dir / "held");
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  release = std::thread([handle] {
    Sleep(300);
    CloseHandle(handle);
  });
  fs.rename(dir / "new", dir / "held");
  release.join();
  EXPECT_EQ(read_whole(fs, dir / "held"), "N");

  // Held for good: a failure once the time is up, with nothing changed.
  WindowsFileSystem impatient(milliseconds(200));
  write_whole(fs, dir / "new", "N2");
  handle = open_unshared(dir / "held");
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  start = Clock::now();
  EXPECT_EQ(io_error_of([&] { impatient.remove(dir / "held"); }).error(), EACCES);
  EXPECT_EQ(io_error_of([&] { impatient.rename(dir / "new", dir / "held"); }).error(), EACCES);
  const auto waited = Clock::now() - start;
  CloseHandle(handle);
  EXPECT_GE(waited, milliseconds(400));
  EXPECT_LT(waited, milliseconds(1800));
  EXPECT_EQ(read_whole(fs, dir / "held"), "N");
  EXPECT_EQ(read_whole(fs, dir / "new"), "N2");
}

// A file removed while another program has it open, sharing it, gives up its
// name at once: a run's backup never lingers where the next run looks for
// one. A read-only file is refused and stays as it was.
TEST(WindowsFileSystem, RemovingFreesTheNameWhileTheFileIsStillOpen) {
  TempDir dir;
  WindowsFileSystem fs;
  write_whole(fs, dir / "app.BAK", "B");
  write_whole(fs, dir / "app.msg", "M");
  HANDLE handle = CreateFileW(wide_path("open", dir / "app.BAK").c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  fs.remove(dir / "app.BAK");
  EXPECT_FALSE(fs.exists(dir / "app.BAK"));
  fs.link(dir / "app.msg", dir / "app.BAK");
  CloseHandle(handle);
  EXPECT_THAT(list_dir(dir.path()), ElementsAre("app.BAK", "app.msg"));

  write_whole(fs, dir / "kept", "K");
  ASSERT_TRUE(
      SetFileAttributesW(wide_path("chmod", dir / "kept").c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(io_error_of([&] { fs.remove(dir / "kept"); }).error(), EACCES);
  EXPECT_THAT(list_dir(dir.path()), ElementsAre("app.BAK", "app.msg", "kept"));
  EXPECT_EQ(read_whole(fs, dir / "kept"), "K");
}

TEST(WindowsFileSystem, AttributesAreCarriedOver) {
  TempDir dir;
  WindowsFileSystem fs;
  write_whole(fs, dir / "old", "O");
  write_whole(fs, dir / "new", "N");
  const std::wstring old_path = wide_path("chmod", dir / "old");
  ASSERT_TRUE(SetFileAttributesW(old_path.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
  fs.copy_mode(dir / "old", dir / "new");
  EXPECT_EQ(attributes_of(dir / "new") & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
            DWORD{FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM});
  ASSERT_TRUE(SetFileAttributesW(old_path.c_str(), FILE_ATTRIBUTE_NORMAL));
  fs.copy_mode(dir / "old", dir / "new");
  EXPECT_EQ(attributes_of(dir / "new") & FILE_ATTRIBUTE_HIDDEN, 0u);
  // A read-only file cannot be replaced: refused before anything moves.
  EXPECT_FALSE(fs.read_only(dir / "old"));
  ASSERT_TRUE(SetFileAttributesW(old_path.c_str(), FILE_ATTRIBUTE_READONLY));
  // What the run refuses before anything is touched.
  EXPECT_TRUE(fs.read_only(dir / "old"));
  EXPECT_FALSE(fs.read_only(dir / "missing"));
  EXPECT_FALSE(fs.read_only(dir.path()));
  EXPECT_EQ(io_error_of([&] { fs.copy_mode(dir / "old", dir / "new"); }).error(), EACCES);
  EXPECT_EQ(io_error_of([&] { fs.copy_mode(dir / "missing", dir / "new"); }).error(), ENOENT);
}

TEST(WindowsFileSystem, ErrorsKeepTheSystemsReason) {
  EXPECT_EQ(errno_from_win32(ERROR_FILE_NOT_FOUND), ENOENT);
  EXPECT_EQ(errno_from_win32(ERROR_NOT_SAME_DEVICE), EXDEV);
  EXPECT_EQ(errno_from_win32(ERROR_DISK_FULL), ENOSPC);
  const std::string text = win32_error_text(ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(text.empty());
  EXPECT_NE(text.back(), '\n');
  TempDir dir;
  WindowsFileSystem fs;
  const IoError missing = io_error_of([&] { fs.open(dir / "missing", OpenMode::kRead); });
  EXPECT_EQ(missing.error(), ENOENT);
  EXPECT_EQ(missing.reason(), text);
  // A missing folder on the way is named, as the POSIX build names it.
  const IoError no_dir = io_error_of([&] { fs.open(dir / "NODIR/APP.TMP", OpenMode::kCreate); });
  EXPECT_EQ(no_dir.error(), ENOENT);
  EXPECT_EQ(no_dir.reason(), "there is no directory " + dir / "NODIR");
}

TEST(WindowsFileSystem, KindsAndIdentities) {
  TempDir dir;
  WindowsFileSystem fs;
  write_whole(fs, dir / "a.msg", "x");
  EXPECT_EQ(fs.kind(dir / "a.msg"), FileKind::kRegular);
  EXPECT_EQ(fs.kind(dir.path()), FileKind::kDirectory);
  EXPECT_EQ(fs.kind(dir / "none.msg"), FileKind::kMissing);
  EXPECT_EQ(fs.kind(dir / "no/none.msg"), FileKind::kNoDirectory);
  EXPECT_EQ(fs.kind("NUL"), FileKind::kDevice);
  // One file under any spelling; another file, existing or not, differs.
  EXPECT_EQ(fs.identity(dir / "a.msg"), fs.identity(dir / "A.MSG"));
  EXPECT_NE(fs.identity(dir / "a.msg"), fs.identity(dir / "b.msg"));
  EXPECT_EQ(fs.identity(dir / "b.msg"), fs.identity(dir / "B.msg"));
  EXPECT_NE(fs.identity(dir / "b.msg"), fs.identity(dir / "c.msg"));
  EXPECT_EQ(fs.follow_links(dir / "a.msg"), dir / "a.msg");
}

// Mutexes belong to threads, so a second thread stands for a second run.
TEST(WindowsFileSystem, RunLocksWaitOnceNoticedAndStopOnInterrupt) {
  TempDir dir;
  WindowsFileSystem fs;
  EXPECT_EQ(lock_name(dir / "app.msg"), lock_name(dir / "APP.MSG"));
  EXPECT_NE(lock_name(dir / "app.msg"), lock_name(dir / "names.h"));
  auto held = fs.lock_files({dir / "app.msg"}, [](const std::string&) { ADD_FAILURE(); });

  std::vector<std::string> notices;
  bool locked = false;
  std::thread other([&] {
    auto lock = fs.lock_files({dir / "names.h", dir / "APP.MSG"},
                              [&](const std::string& path) { notices.push_back(path); });
    locked = true;
  });
  std::this_thread::sleep_for(milliseconds(300));
  EXPECT_FALSE(locked);
  held.reset();
  other.join();
  EXPECT_TRUE(locked);
  EXPECT_THAT(notices, ElementsAre(dir / "APP.MSG"));

  held = fs.lock_files({dir / "app.msg"}, [](const std::string&) {});
  bool stopped = false;
  std::thread interrupted([&] {
    try {
      fs.lock_files({dir / "app.msg"}, [](const std::string&) {});
    } catch (const Interrupted& e) {
      stopped = e.signal() == SIGINT;
    }
  });
  std::this_thread::sleep_for(milliseconds(300));
  set_interrupt_signal(SIGINT);
  interrupted.join();
  set_interrupt_signal(0);
  EXPECT_TRUE(stopped);
}

TEST(WindowsConsole, NoKeyIsWaitedForWithoutAConsole) {
  TempDir dir;
  WindowsFileSystem fs;
  write_whole(fs, dir / "keys", "x");
  FILE* input = _wfopen(wide_path("open", dir / "keys").c_str(), L"rb");
  ASSERT_NE(input, nullptr);
  EXPECT_FALSE(read_key_no_echo(_fileno(input)));
  fclose(input);
}

}  // namespace
}  // namespace tolvane
