#include "platform/windows_file_system.h"

#include <errno.h>
#include <windows.h>

#include <algorithm>

#include "platform/utf16.h"

namespace tolvane {
namespace {

// Every failure of this layer passes here: the errno value is what the
// build's logic looks at, and the Win32 code is at hand for a fuller reason
// (Win32ErrorText) wherever one is wanted.
[[noreturn]] void ThrowWin32(const std::string& op, const std::string& path, DWORD code) {
  throw IoError(op, path, ErrnoFromWin32(code));
}

DWORD Attributes(const std::wstring& path) { return GetFileAttributesW(path.c_str()); }

// A refusal that may pass by itself: another program (a virus scanner, an
// indexer, a backup tool) has the file open without sharing it. Access is
// also refused while a file waits to be deleted by its last user. A file or
// directory that is read-only refuses for good, so it is not waited for.
bool MayPass(DWORD code, const std::wstring& path) {
  if (code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION) return true;
  if (code != ERROR_ACCESS_DENIED) return false;
  DWORD attributes = Attributes(path);
  return attributes == INVALID_FILE_ATTRIBUTES ||
         (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) == 0;
}

// Runs `op` (true on success, the error in GetLastError() otherwise) until it
// succeeds, fails for good, or `budget` has passed; returns the last error,
// or 0 on success. The waits grow from 10 ms to 250 ms.
template <typename Op>
DWORD Retrying(std::chrono::milliseconds budget, const std::wstring& watched, Op op) {
  const auto start = std::chrono::steady_clock::now();
  DWORD wait_ms = 10;
  for (;;) {
    if (op()) return 0;
    const DWORD code = GetLastError();
    if (!MayPass(code, watched)) return code;
    const auto elapsed = std::chrono::steady_clock::now() - start;
    if (elapsed >= budget) return code;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(budget - elapsed).count();
    Sleep(static_cast<DWORD>(std::min<long long>(wait_ms, left + 1)));
    wait_ms = std::min<DWORD>(wait_ms * 2, 250);
  }
}

class WindowsFile : public File {
 public:
  WindowsFile(std::string path, HANDLE handle) : path_(std::move(path)), handle_(handle) {}
  ~WindowsFile() override {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }

  size_t ReadAt(uint64_t offset, void* buf, size_t n) override {
    size_t done = 0;
    while (done < n) {
      OVERLAPPED at = Position(offset + done);
      DWORD want = static_cast<DWORD>(std::min<size_t>(n - done, kPiece));
      DWORD got = 0;
      if (!ReadFile(handle_, static_cast<char*>(buf) + done, want, &got, &at)) {
        DWORD code = GetLastError();
        if (code == ERROR_HANDLE_EOF) break;
        ThrowWin32("read", path_, code);
      }
      if (got == 0) break;
      done += got;
    }
    return done;
  }

  void WriteAt(uint64_t offset, const void* buf, size_t n) override {
    size_t done = 0;
    while (done < n) {
      OVERLAPPED at = Position(offset + done);
      DWORD want = static_cast<DWORD>(std::min<size_t>(n - done, kPiece));
      DWORD put = 0;
      if (!WriteFile(handle_, static_cast<const char*>(buf) + done, want, &put, &at)) {
        ThrowWin32("write", path_, GetLastError());
      }
      // Nothing written without an error only happens when nothing more fits.
      if (put == 0) throw IoError("write", path_, ENOSPC);
      done += put;
    }
  }

  uint64_t Size() override {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(handle_, &size)) ThrowWin32("stat", path_, GetLastError());
    return static_cast<uint64_t>(size.QuadPart);
  }

  void Sync() override {
    if (!FlushFileBuffers(handle_)) ThrowWin32("sync", path_, GetLastError());
  }

  void Close() override {
    HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    if (handle != INVALID_HANDLE_VALUE && !CloseHandle(handle)) {
      ThrowWin32("close", path_, GetLastError());
    }
  }

 private:
  static constexpr size_t kPiece = size_t{1} << 30;  // one call moves at most a DWORD's worth

  static OVERLAPPED Position(uint64_t offset) {
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return at;
  }

  std::string path_;
  HANDLE handle_;
};

}  // namespace

int ErrnoFromWin32(unsigned long code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_BAD_PATHNAME:
      return ENOENT;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_NOT_SAME_DEVICE:
      return EXDEV;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
    case ERROR_NETWORK_ACCESS_DENIED:
    case ERROR_CURRENT_DIRECTORY:
      return EACCES;
    case ERROR_PRIVILEGE_NOT_HELD:
      return EPERM;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_FILE_TOO_LARGE:
      return EFBIG;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    case ERROR_TOO_MANY_OPEN_FILES:
      return EMFILE;
    case ERROR_DIRECTORY:
      return ENOTDIR;
    case ERROR_DIR_NOT_EMPTY:
      return ENOTEMPTY;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    case ERROR_TOO_MANY_LINKS:
      return EMLINK;
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_PARAMETER:
      return EINVAL;
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_SUPPORTED:
      return ENOTSUP;
    default:
      return EIO;
  }
}

std::string Win32ErrorText(unsigned long code) {
  wchar_t* text = nullptr;
  DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  if (length == 0 || text == nullptr) return "";
  std::u16string wide(reinterpret_cast<const char16_t*>(text), length);
  LocalFree(text);
  while (!wide.empty() && (wide.back() == u'\n' || wide.back() == u'\r' || wide.back() == u' ')) {
    wide.pop_back();
  }
  return Utf16ToUtf8(wide);
}

std::wstring WidePath(const std::string& op, const std::string& path) {
  std::u16string wide;
  if (!Utf8ToUtf16(path, &wide)) throw IoError(op, path, EINVAL);
  return std::wstring(reinterpret_cast<const wchar_t*>(wide.data()), wide.size());
}

std::unique_ptr<File> WindowsFileSystem::Open(const std::string& path, OpenMode mode) {
  const std::wstring wide = WidePath("open", path);
  DWORD access = GENERIC_READ;
  DWORD disposition = OPEN_EXISTING;
  switch (mode) {
    case OpenMode::kRead:
      break;
    case OpenMode::kReadWrite:
      access |= GENERIC_WRITE;
      break;
    case OpenMode::kCreate:
      access |= GENERIC_WRITE;
      // Not CREATE_ALWAYS: it refuses to replace a hidden or system file,
      // which a file of the same name may be; the file is emptied below.
      disposition = OPEN_ALWAYS;
      break;
  }
  // Sharing everything gives the other programs what POSIX gives them: they
  // may read, write, rename or remove a file while it is open here.
  HANDLE handle =
      CreateFileW(wide.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    DWORD code = GetLastError();
    // A directory is refused as "access denied"; say what it is.
    DWORD attributes = Attributes(wide);
    if (code == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      throw IoError("open", path, EISDIR);
    }
    ThrowWin32("open", path, code);
  }
  auto file = std::make_unique<WindowsFile>(path, handle);
  if (mode == OpenMode::kCreate && !SetEndOfFile(handle)) {
    ThrowWin32("open", path, GetLastError());
  }
  return file;
}

bool WindowsFileSystem::Exists(const std::string& path) {
  std::u16string wide;
  // Bytes that are no UTF-8 name no file.
  if (!Utf8ToUtf16(path, &wide)) return false;
  return GetFileAttributesW(reinterpret_cast<const wchar_t*>(wide.c_str())) !=
         INVALID_FILE_ATTRIBUTES;
}

void WindowsFileSystem::Rename(const std::string& from, const std::string& to) {
  const std::wstring wide_from = WidePath("rename", from);
  const std::wstring wide_to = WidePath("rename", to);
  // Atomic on NTFS; with write-through the new name is on disk on return.
  if (DWORD code = Retrying(retry_for_, wide_to, [&] {
        return MoveFileExW(wide_from.c_str(), wide_to.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
      })) {
    ThrowWin32("rename", from, code);
  }
}

void WindowsFileSystem::RenameNoReplace(const std::string& from, const std::string& to) {
  const std::wstring wide_from = WidePath("rename", from);
  const std::wstring wide_to = WidePath("rename", to);
  // Without MOVEFILE_REPLACE_EXISTING the move fails when `to` exists.
  if (DWORD code = Retrying(retry_for_, wide_from, [&] {
        return MoveFileExW(wide_from.c_str(), wide_to.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
      })) {
    ThrowWin32("rename", from, code);
  }
}

void WindowsFileSystem::Link(const std::string& from, const std::string& to) {
  const std::wstring wide_from = WidePath("link", from);
  const std::wstring wide_to = WidePath("link", to);
  // Volumes without hard links (FAT, most network shares) refuse; the
  // caller then copies.
  if (!CreateHardLinkW(wide_to.c_str(), wide_from.c_str(), nullptr)) {
    ThrowWin32("link", from, GetLastError());
  }
}

void WindowsFileSystem::Remove(const std::string& path) {
  const std::wstring wide = WidePath("remove", path);
  if (DWORD code = Retrying(retry_for_, wide, [&] { return DeleteFileW(wide.c_str()) != 0; })) {
    ThrowWin32("remove", path, code);
  }
}

bool WindowsFileSystem::SameFile(const std::string& a, const std::string& b) {
  BY_HANDLE_FILE_INFORMATION info[2];
  const std::string* paths[2] = {&a, &b};
  for (int i = 0; i < 2; ++i) {
    std::u16string wide;
    if (!Utf8ToUtf16(*paths[i], &wide)) return false;
    // No access asked: only the file's identity is read.
    HANDLE handle = CreateFileW(reinterpret_cast<const wchar_t*>(wide.c_str()), 0,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    BOOL ok = GetFileInformationByHandle(handle, &info[i]);
    CloseHandle(handle);
    if (!ok) return false;
  }
  return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
         info[0].nFileIndexHigh == info[1].nFileIndexHigh &&
         info[0].nFileIndexLow == info[1].nFileIndexLow;
}

void WindowsFileSystem::CopyMode(const std::string& from, const std::string& to) {
  // What stands for permission bits here are the file attributes. The
  // access control list is the one the new file inherits from its folder,
  // as for any file a user creates there.
  constexpr DWORD kCarried = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                             FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  DWORD attributes = Attributes(WidePath("stat", from));
  if (attributes == INVALID_FILE_ATTRIBUTES) ThrowWin32("stat", from, GetLastError());
  // Windows lets no program replace or remove a read-only file, so the file
  // `to` is meant to replace must stay: refused here, before anything of
  // the build has moved.
  if (attributes & FILE_ATTRIBUTE_READONLY) throw IoError("chmod", to, EACCES);
  DWORD carried = attributes & kCarried;
  if (!SetFileAttributesW(WidePath("chmod", to).c_str(),
                          carried != 0 ? carried : FILE_ATTRIBUTE_NORMAL)) {
    ThrowWin32("chmod", to, GetLastError());
  }
}

void WindowsFileSystem::SyncDir(const std::string&) {
  // Windows has no call that makes a folder's entries durable on their own:
  // NTFS journals its metadata, and renames here are made with
  // MOVEFILE_WRITE_THROUGH, which returns only once the move is on disk.
}

}  // namespace tolvane
