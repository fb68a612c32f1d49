#include "platform/windows_file_system.h"

#include <errno.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>

#include "platform/interrupt.h"
#include "platform/utf16.h"
#include "platform/windows_interrupt.h"

namespace tolvane {
namespace {

// Every failure of this layer passes here: the errno value is what the
// build's logic looks at, and the Win32 code is at hand for a fuller reason
// (Win32ErrorText) wherever one is wanted.
[[noreturn]] void ThrowWin32(const std::string& op, const std::string& path, DWORD code) {
  const int error = ErrnoFromWin32(code);
  std::string reason = Win32ErrorText(code);
  if (reason.empty()) throw IoError(op, path, error);
  throw IoError(op, path, error, std::move(reason));
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

// The run lock's mutexes, released and closed in the thread that took them.
class MutexLock : public FileLock {
 public:
  ~MutexLock() override {
    for (HANDLE mutex : held) ReleaseMutex(mutex);
    for (HANDLE mutex : opened) CloseHandle(mutex);
  }
  std::vector<HANDLE> opened, held;
};

std::wstring AsWide(const std::u16string& s) {
  return std::wstring(reinterpret_cast<const wchar_t*>(s.data()), s.size());
}

std::string Narrow(const std::wstring& s) {
  return Utf16ToUtf8(std::u16string(reinterpret_cast<const char16_t*>(s.data()), s.size()));
}

// Opens `path` for its metadata only (no access to the data, every kind of
// sharing), links followed; INVALID_HANDLE_VALUE when it cannot.
HANDLE OpenForInfo(const std::wstring& path) {
  return CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

bool FileInfo(const std::wstring& path, BY_HANDLE_FILE_INFORMATION* info) {
  HANDLE handle = OpenForInfo(path);
  if (handle == INVALID_HANDLE_VALUE) return false;
  BOOL ok = GetFileInformationByHandle(handle, info);
  CloseHandle(handle);
  return ok != 0;
}

// The full path, upper-cased as the file system compares names.
std::wstring FoldedFullPath(const std::wstring& path) {
  DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  std::wstring full(size == 0 ? 0 : size, L'\0');
  if (size != 0) {
    DWORD n = GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
    full.resize(n < size ? n : 0);
  }
  if (full.empty()) full = path;
  std::replace(full.begin(), full.end(), L'/', L'\\');
  CharUpperBuffW(full.data(), static_cast<DWORD>(full.size()));
  return full;
}

// The name part of a path (after its last slash or backslash).
std::string BaseName(const std::string& path) {
  const size_t cut = path.find_last_of(kPathSeparators);
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

}  // namespace

std::string LockName(const std::string& path) {
  std::u16string wide;
  std::wstring folded;
  if (Utf8ToUtf16(path, &wide)) folded = FoldedFullPath(AsWide(wide));
  // 64-bit FNV-1a of the folded path's UTF-16 units: mutex names are short
  // and may hold no backslash after the namespace.
  uint64_t hash = 14695981039346656037ull;
  auto mix = [&](uint32_t unit) {
    hash ^= unit;
    hash *= 1099511628211ull;
  };
  if (wide.empty() && !path.empty()) {
    for (unsigned char c : path) mix(c);
  } else {
    for (wchar_t c : folded) mix(static_cast<uint16_t>(c));
  }
  char name[64];
  std::snprintf(name, sizeof name, "Local\\tolvane-%016llx", static_cast<unsigned long long>(hash));
  return name;
}

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

FileKind WindowsFileSystem::Kind(const std::string& path) {
  std::u16string wide16;
  if (!Utf8ToUtf16(path, &wide16)) return FileKind::kMissing;
  const std::wstring wide = AsWide(wide16);
  const DWORD attributes = Attributes(wide);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD code = GetLastError();
    if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND) {
      // Reserved names (NUL, CON) have no attributes but open as devices.
      HANDLE handle = OpenForInfo(wide);
      if (handle == INVALID_HANDLE_VALUE) return FileKind::kOther;
      const DWORD type = GetFileType(handle);
      CloseHandle(handle);
      return type == FILE_TYPE_CHAR   ? FileKind::kDevice
             : type == FILE_TYPE_PIPE ? FileKind::kFifo
                                      : FileKind::kOther;
    }
    std::u16string dir_path;
    Utf8ToUtf16(DirName(path), &dir_path);
    const DWORD dir = Attributes(AsWide(dir_path));
    if (dir != INVALID_FILE_ATTRIBUTES && (dir & FILE_ATTRIBUTE_DIRECTORY)) {
      return FileKind::kMissing;
    }
    return FileKind::kNoDirectory;
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return FileKind::kDirectory;
  if (attributes & FILE_ATTRIBUTE_DEVICE) return FileKind::kDevice;
  HANDLE handle = OpenForInfo(wide);
  if (handle == INVALID_HANDLE_VALUE) return FileKind::kRegular;
  const DWORD type = GetFileType(handle);
  CloseHandle(handle);
  if (type == FILE_TYPE_CHAR) return FileKind::kDevice;
  if (type == FILE_TYPE_PIPE) return FileKind::kFifo;
  return FileKind::kRegular;
}

FileIdentity WindowsFileSystem::Identity(const std::string& path) {
  FileIdentity id;
  std::u16string wide;
  BY_HANDLE_FILE_INFORMATION info;
  if (!Utf8ToUtf16(path, &wide)) {
    id.name = path;
    return id;
  }
  if (!FileInfo(AsWide(wide), &info)) {
    // Names differing only in case name one file here.
    std::u16string name;
    Utf8ToUtf16(BaseName(path), &name);
    std::wstring folded = AsWide(name);
    CharUpperBuffW(folded.data(), static_cast<DWORD>(folded.size()));
    id.name = Narrow(folded);
    std::u16string dir;
    // In a missing directory only the whole path tells files apart.
    if (!Utf8ToUtf16(DirName(path), &dir) || !FileInfo(AsWide(dir), &info)) {
      id.name = Narrow(FoldedFullPath(AsWide(wide)));
      return id;
    }
  }
  id.device = info.dwVolumeSerialNumber;
  id.inode = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  return id;
}

std::string WindowsFileSystem::FollowLinks(const std::string& path) {
  std::u16string wide16;
  if (!Utf8ToUtf16(path, &wide16)) return path;
  const std::wstring wide = AsWide(wide16);
  // Only a path whose last part is a link changes; any other keeps the
  // spelling the user gave.
  const DWORD attributes = Attributes(wide);
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    return path;
  }
  HANDLE handle = OpenForInfo(wide);
  // A link to nothing: the system cannot say where it would lead.
  if (handle == INVALID_HANDLE_VALUE) return path;
  std::wstring target(MAX_PATH, L'\0');
  DWORD n = GetFinalPathNameByHandleW(handle, target.data(), static_cast<DWORD>(target.size()),
                                      FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (n >= target.size()) {
    target.resize(n + 1);
    n = GetFinalPathNameByHandleW(handle, target.data(), static_cast<DWORD>(target.size()),
                                  FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  }
  CloseHandle(handle);
  if (n == 0 || n >= target.size()) return path;
  target.resize(n);
  // The answer comes as \\?\C:\... or \\?\UNC\server\...; users know
  // these as C:\... and \\server\....
  if (target.rfind(L"\\\\?\\UNC\\", 0) == 0) {
    target = L"\\" + target.substr(7);
  } else if (target.rfind(L"\\\\?\\", 0) == 0) {
    target = target.substr(4);
  }
  return Narrow(target);
}

std::unique_ptr<FileLock> WindowsFileSystem::LockFiles(const std::vector<std::string>& paths,
                                                       const LockWaitNotice& waiting) {
  struct Name {
    std::string mutex;
    const std::string* path;
    HANDLE handle;
  };
  std::vector<Name> names;  // in the caller's order
  auto lock = std::make_unique<MutexLock>();
  for (const std::string& path : paths) {
    std::string mutex = LockName(FollowLinks(path));
    auto same = [&](const Name& n) { return n.mutex == mutex; };
    if (std::any_of(names.begin(), names.end(), same)) continue;
    std::u16string wide;
    Utf8ToUtf16(mutex, &wide);
    HANDLE handle = CreateMutexW(nullptr, FALSE, AsWide(wide).c_str());
    // Where no mutex can be made, the run goes on as it always did.
    if (handle == nullptr) continue;
    lock->opened.push_back(handle);
    names.push_back({mutex, &path, handle});
  }
  // The notice names the first of the caller's files another run holds
  // (the catalogue, usually, as where the locks are on directories). Only
  // tried, never kept: taking mutexes out of order could deadlock.
  auto first_busy = [&]() -> const std::string& {
    for (const Name& name : names) {
      const DWORD got = WaitForSingleObject(name.handle, 0);
      if (got == WAIT_TIMEOUT) return *name.path;
      ReleaseMutex(name.handle);
    }
    return *names.front().path;
  };
  // One order for every run, so that two runs never each hold what the
  // other waits for.
  std::vector<Name> ordered = names;
  std::sort(ordered.begin(), ordered.end(),
            [](const Name& a, const Name& b) { return a.mutex < b.mutex; });
  bool told = false;
  for (const Name& name : ordered) {
    // A mutex whose holder ended without releasing it is "abandoned": that
    // run is gone, and the lock is ours.
    DWORD got = WaitForSingleObject(name.handle, 0);
    if (got == WAIT_TIMEOUT) {
      if (!told) waiting(first_busy());
      told = true;
      StopIfInterrupted();
      HANDLE both[2] = {name.handle, static_cast<HANDLE>(InterruptEvent())};
      got = WaitForMultipleObjects(2, both, FALSE, INFINITE);
      if (got == WAIT_OBJECT_0 + 1) StopIfInterrupted();
    }
    if (got == WAIT_OBJECT_0 || got == WAIT_ABANDONED) lock->held.push_back(name.handle);
  }
  return lock;
}

}  // namespace tolvane
