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
#include "test_util/test_util.h"

namespace tolvane {
namespace {

using ::testing::ElementsAre;
using testing::ListDir;
using testing::TempDir;

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

IoError ErrorOf(const std::function<void()>& op) {
  try {
    op();
  } catch (const IoError& e) {
    return e;
  }
  ADD_FAILURE() << "no error";
  return IoError("none", "", 0);
}

std::string Read(FileSystem& fs, const std::string& path) {
  auto file = fs.Open(path, OpenMode::kRead);
  std::string content(file->Size(), '\0');
  content.resize(file->ReadAt(0, content.data(), content.size()));
  return content;
}

void Write(FileSystem& fs, const std::string& path, const std::string& content) {
  auto file = fs.Open(path, OpenMode::kCreate);
  file->WriteAt(0, content.data(), content.size());
  file->Close();
}

DWORD AttributesOf(const std::string& path) {
  return GetFileAttributesW(WidePath("stat", path).c_str());
}

// Opens `path` the way a virus scanner might: sharing nothing, so that it can
// be neither renamed, replaced nor removed while open.
HANDLE OpenUnshared(const std::string& path) {
  return CreateFileW(WidePath("open", path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST(WindowsFileSystem, OpenModesAndPositionedIo) {
  TempDir dir;
  WindowsFileSystem fs;
  const std::string path = dir / "a";
  IoError missing = ErrorOf([&] { fs.Open(path, OpenMode::kRead); });
  EXPECT_EQ(missing.error(), ENOENT);
  EXPECT_EQ(missing.op(), "open");
  EXPECT_EQ(missing.path(), path);
  EXPECT_EQ(ErrorOf([&] { fs.Open(path, OpenMode::kReadWrite); }).error(), ENOENT);
  EXPECT_EQ(ErrorOf([&] { fs.Open(dir / "no/such/dir", OpenMode::kCreate); }).error(), ENOENT);
  ASSERT_TRUE(CreateDirectoryW(WidePath("mkdir", dir / "sub").c_str(), nullptr));
  for (OpenMode mode : {OpenMode::kRead, OpenMode::kReadWrite, OpenMode::kCreate}) {
    EXPECT_EQ(ErrorOf([&] { fs.Open(dir / "sub", mode); }).error(), EISDIR);
  }

  // Binary: line feeds stay bare, nothing is added or dropped.
  auto file = fs.Open(path, OpenMode::kCreate);
  file->WriteAt(0, "line\nnext\r\n\x1a!", 13);
  file->WriteAt(5, "NEXT", 4);
  file->WriteAt(15, "x", 1);  // past the end: zeros between
  EXPECT_EQ(file->Size(), 16u);
  char buf[32];
  EXPECT_EQ(file->ReadAt(3, buf, 32), 13u);  // fewer only at the end
  EXPECT_EQ(std::string(buf, 13), std::string("e\nNEXT\r\n\x1a!\0\0x", 13));
  EXPECT_EQ(file->ReadAt(16, buf, 32), 0u);
  file->Sync();
  file->Close();
  file->Close();  // a second close is harmless

  file = fs.Open(path, OpenMode::kRead);
  EXPECT_EQ(ErrorOf([&] { file->WriteAt(0, "x", 1); }).error(), EACCES);
  file->Close();
  fs.Open(path, OpenMode::kReadWrite)->WriteAt(0, "L", 1);
  EXPECT_EQ(Read(fs, path), std::string("Line\nNEXT\r\n\x1a!\0\0x", 16));

  // Create empties a file, a hidden one too (which CREATE_ALWAYS refuses).
  ASSERT_TRUE(SetFileAttributesW(WidePath("chmod", path).c_str(), FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(fs.Open(path, OpenMode::kCreate)->Size(), 0u);
  EXPECT_EQ(Read(fs, path), "");

  // Large transfers are complete.
  std::string big(3 << 20, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i % 251);
  file = fs.Open(dir / "big", OpenMode::kCreate);
  file->WriteAt(1, big.data(), big.size());
  std::string back(big.size(), '\0');
  EXPECT_EQ(file->ReadAt(1, back.data(), back.size()), big.size());
  EXPECT_EQ(back, big);
}

TEST(WindowsFileSystem, NamesAreUtf8Inside) {
  TempDir dir;
  WindowsFileSystem fs;
  // é, €, and a character outside the 16-bit range (a surrogate pair).
  const std::string name = "caf\xC3\xA9-\xE2\x82\xAC-\xF0\x9F\x98\x80.msg";
  Write(fs, dir / name, "content");
  EXPECT_THAT(ListDir(dir.path()), ElementsAre(name));
  EXPECT_TRUE(fs.Exists(dir / name));
  const std::string renamed = "\xE6\x97\xA5\xE6\x9C\xAC.msg";
  fs.Rename(dir / name, dir / renamed);
  EXPECT_EQ(Read(fs, dir / renamed), "content");
  EXPECT_THAT(ListDir(dir.path()), ElementsAre(renamed));
  // Bytes that are no UTF-8 name no file.
  IoError e = ErrorOf([&] { fs.Open(dir / "bad\xFF.msg", OpenMode::kCreate); });
  EXPECT_EQ(e.error(), EINVAL);
  EXPECT_FALSE(fs.Exists(dir / "bad\xFF.msg"));
}

TEST(WindowsFileSystem, RenamesLinksAndRemovals) {
  TempDir dir;
  WindowsFileSystem fs;
  Write(fs, dir / "a", "A");
  Write(fs, dir / "b", "B");
  EXPECT_EQ(ErrorOf([&] { fs.RenameNoReplace(dir / "a", dir / "b"); }).error(), EEXIST);
  EXPECT_EQ(Read(fs, dir / "b"), "B");
  fs.Rename(dir / "a", dir / "b");
  EXPECT_THAT(ListDir(dir.path()), ElementsAre("b"));
  EXPECT_EQ(Read(fs, dir / "b"), "A");
  EXPECT_EQ(ErrorOf([&] { fs.Rename(dir / "a", dir / "b"); }).error(), ENOENT);
  fs.RenameNoReplace(dir / "b", dir / "c");
  EXPECT_THAT(ListDir(dir.path()), ElementsAre("c"));

  // A second name of the same file, as backups are taken.
  fs.Link(dir / "c", dir / "d");
  EXPECT_TRUE(fs.SameFile(dir / "c", dir / "d"));
  fs.Open(dir / "d", OpenMode::kReadWrite)->WriteAt(1, "D", 1);
  EXPECT_EQ(Read(fs, dir / "c"), "AD");
  Write(fs, dir / "e", "AD");
  EXPECT_FALSE(fs.SameFile(dir / "c", dir / "e"));
  EXPECT_FALSE(fs.SameFile(dir / "c", dir / "missing"));
  EXPECT_EQ(ErrorOf([&] { fs.Link(dir / "c", dir / "e"); }).error(), EEXIST);
  EXPECT_EQ(ErrorOf([&] { fs.Link(dir / "x", dir / "y"); }).error(), ENOENT);

  fs.Remove(dir / "c");
  EXPECT_EQ(Read(fs, dir / "d"), "AD");
  IoError e = ErrorOf([&] { fs.Remove(dir / "c"); });
  EXPECT_EQ(e.error(), ENOENT);
  EXPECT_EQ(e.op(), "remove");
  fs.SyncDir(dir.path());  // nothing to do on Windows, and no failure
}

TEST(WindowsFileSystem, RefusalsWhileAnotherProgramHoldsTheFileAreRetried) {
  TempDir dir;
  WindowsFileSystem fs;
  Write(fs, dir / "held", "H");
  Write(fs, dir / "new", "N");

  // Released after 300 ms: the removal waits for it and succeeds.
  HANDLE handle = OpenUnshared(dir / "held");
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  std::thread release([handle] {
    Sleep(300);
    CloseHandle(handle);
  });
  auto start = Clock::now();
  fs.Remove(dir / "held");
  release.join();
  EXPECT_GE(Clock::now() - start, milliseconds(250));
  EXPECT_FALSE(fs.Exists(dir / "held"));

  // The same for a file about to be replaced.
  Write(fs, dir / "held", "H");
  handle = OpenUnshared(dir / "held");
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  release = std::thread([handle] {
    Sleep(300);
    CloseHandle(handle);
  });
  fs.Rename(dir / "new", dir / "held");
  release.join();
  EXPECT_EQ(Read(fs, dir / "held"), "N");

  // Held for good: a failure once the time is up, with nothing changed.
  WindowsFileSystem impatient(milliseconds(200));
  Write(fs, dir / "new", "N2");
  handle = OpenUnshared(dir / "held");
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  start = Clock::now();
  EXPECT_EQ(ErrorOf([&] { impatient.Remove(dir / "held"); }).error(), EACCES);
  EXPECT_EQ(ErrorOf([&] { impatient.Rename(dir / "new", dir / "held"); }).error(), EACCES);
  const auto waited = Clock::now() - start;
  CloseHandle(handle);
  EXPECT_GE(waited, milliseconds(400));
  EXPECT_LT(waited, milliseconds(1800));
  EXPECT_EQ(Read(fs, dir / "held"), "N");
  EXPECT_EQ(Read(fs, dir / "new"), "N2");
}

TEST(WindowsFileSystem, AttributesAreCarriedOver) {
  TempDir dir;
  WindowsFileSystem fs;
  Write(fs, dir / "old", "O");
  Write(fs, dir / "new", "N");
  const std::wstring old_path = WidePath("chmod", dir / "old");
  ASSERT_TRUE(SetFileAttributesW(old_path.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
  fs.CopyMode(dir / "old", dir / "new");
  EXPECT_EQ(AttributesOf(dir / "new") & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
            DWORD{FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM});
  ASSERT_TRUE(SetFileAttributesW(old_path.c_str(), FILE_ATTRIBUTE_NORMAL));
  fs.CopyMode(dir / "old", dir / "new");
  EXPECT_EQ(AttributesOf(dir / "new") & FILE_ATTRIBUTE_HIDDEN, 0u);
  // A read-only file cannot be replaced: refused before anything moves.
  ASSERT_TRUE(SetFileAttributesW(old_path.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(ErrorOf([&] { fs.CopyMode(dir / "old", dir / "new"); }).error(), EACCES);
  EXPECT_EQ(ErrorOf([&] { fs.CopyMode(dir / "missing", dir / "new"); }).error(), ENOENT);
}

TEST(WindowsFileSystem, ErrorsKeepTheSystemsReason) {
  EXPECT_EQ(ErrnoFromWin32(ERROR_FILE_NOT_FOUND), ENOENT);
  EXPECT_EQ(ErrnoFromWin32(ERROR_NOT_SAME_DEVICE), EXDEV);
  EXPECT_EQ(ErrnoFromWin32(ERROR_DISK_FULL), ENOSPC);
  const std::string text = Win32ErrorText(ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(text.empty());
  EXPECT_NE(text.back(), '\n');
  TempDir dir;
  WindowsFileSystem fs;
  const IoError missing = ErrorOf([&] { fs.Open(dir / "missing", OpenMode::kRead); });
  EXPECT_EQ(missing.error(), ENOENT);
  EXPECT_EQ(missing.reason(), text);
}

TEST(WindowsFileSystem, KindsAndIdentities) {
  TempDir dir;
  WindowsFileSystem fs;
  Write(fs, dir / "a.msg", "x");
  EXPECT_EQ(fs.Kind(dir / "a.msg"), FileKind::kRegular);
  EXPECT_EQ(fs.Kind(dir.path()), FileKind::kDirectory);
  EXPECT_EQ(fs.Kind(dir / "none.msg"), FileKind::kMissing);
  EXPECT_EQ(fs.Kind(dir / "no/none.msg"), FileKind::kNoDirectory);
  EXPECT_EQ(fs.Kind("NUL"), FileKind::kDevice);
  // One file under any spelling; another file, existing or not, differs.
  EXPECT_EQ(fs.Identity(dir / "a.msg"), fs.Identity(dir / "A.MSG"));
  EXPECT_NE(fs.Identity(dir / "a.msg"), fs.Identity(dir / "b.msg"));
  EXPECT_EQ(fs.Identity(dir / "b.msg"), fs.Identity(dir / "B.msg"));
  EXPECT_NE(fs.Identity(dir / "b.msg"), fs.Identity(dir / "c.msg"));
  EXPECT_EQ(fs.FollowLinks(dir / "a.msg"), dir / "a.msg");
}

// Mutexes belong to threads, so a second thread stands for a second run.
TEST(WindowsFileSystem, RunLocksWaitOnceNoticedAndStopOnInterrupt) {
  TempDir dir;
  WindowsFileSystem fs;
  EXPECT_EQ(LockName(dir / "app.msg"), LockName(dir / "APP.MSG"));
  EXPECT_NE(LockName(dir / "app.msg"), LockName(dir / "names.h"));
  auto held = fs.LockFiles({dir / "app.msg"}, [](const std::string&) { ADD_FAILURE(); });

  std::vector<std::string> notices;
  bool locked = false;
  std::thread other([&] {
    auto lock = fs.LockFiles({dir / "names.h", dir / "APP.MSG"},
                             [&](const std::string& path) { notices.push_back(path); });
    locked = true;
  });
  std::this_thread::sleep_for(milliseconds(300));
  EXPECT_FALSE(locked);
  held.reset();
  other.join();
  EXPECT_TRUE(locked);
  EXPECT_THAT(notices, ElementsAre(dir / "APP.MSG"));

  held = fs.LockFiles({dir / "app.msg"}, [](const std::string&) {});
  bool stopped = false;
  std::thread interrupted([&] {
    try {
      fs.LockFiles({dir / "app.msg"}, [](const std::string&) {});
    } catch (const Interrupted& e) {
      stopped = e.signal() == SIGINT;
    }
  });
  std::this_thread::sleep_for(milliseconds(300));
  SetInterruptSignal(SIGINT);
  interrupted.join();
  SetInterruptSignal(0);
  EXPECT_TRUE(stopped);
}

TEST(WindowsConsole, NoKeyIsWaitedForWithoutAConsole) {
  TempDir dir;
  WindowsFileSystem fs;
  Write(fs, dir / "keys", "x");
  FILE* input = _wfopen(WidePath("open", dir / "keys").c_str(), L"rb");
  ASSERT_NE(input, nullptr);
  EXPECT_FALSE(ReadKeyNoEcho(_fileno(input)));
  fclose(input);
}

}  // namespace
}  // namespace tolvane
