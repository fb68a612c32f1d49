#include "platform/windows_file_system.h"

#include <errno.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cwchar>

#include "platform/interrupt.h"
#include "platform/utf16.h"
#include "platform/windows_interrupt.h"

namespace tolvane {
namespace {

// Every failure of this layer passes here: the errno value is what the
// build's logic looks at, and the Win32 code is at hand for a fuller reason
// (Win32ErrorText) wherever one is wanted.
DWORD file_attributes(const std::wstring& path) { return GetFileAttributesW(path.c_str()); }

// The first directory on the way to `path` that is missing, as the POSIX
// build names it; empty when there is none.
std::string missing_directory(const std::string& path) {
  std::string missing;
  for (std::string dir = dir_name(path); dir != "." && dir != "/"; dir = dir_name(dir)) {
    std::u16string wide;
    if (!utf8_to_utf16(dir, &wide) ||
        file_attributes(std::wstring(reinterpret_cast<const wchar_t*>(wide.data()), wide.size())) !=
            INVALID_FILE_ATTRIBUTES) {
      break;
    }
    missing = dir;
    if (dir_name(dir) == dir) break;
  }
  return missing;
}

[[noreturn]] void throw_win32(const std::string& op, const std::string& path, DWORD code) {
  const int error = errno_from_win32(code);
  std::string reason = win32_error_text(code);
  if (reason.empty()) reason = error_text(error);
  // Which directory is missing says more than the system's words, and the
  // same as on other systems.
  if (error == ENOENT) {
    const std::string missing = missing_directory(path);
    if (!missing.empty()) reason = "there is no directory " + missing;
  }
  throw IoError(op, path, error, std::move(reason));
}

// A refusal that may pass by itself: another program (a virus scanner, an
// indexer, a backup tool) has the file open without sharing it. Access is
// also refused while a file waits to be deleted by its last user. A file or
// directory that is read-only refuses for good, so it is not waited for.
bool may_pass(DWORD code, const std::wstring& path) {
  if (code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION) return true;
  if (code != ERROR_ACCESS_DENIED) return false;
  DWORD attributes = file_attributes(path);
  return attributes == INVALID_FILE_ATTRIBUTES ||
         (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) == 0;
}

// Runs `op` (true on success, the error in GetLastError() otherwise) until it
// succeeds, fails for good, or `budget` has passed; returns the last error,
// or 0 on success. The waits grow from 10 ms to 250 ms.
template <typename Op>
DWORD retrying(std::chrono::milliseconds budget, const std::wstring& watched, Op op) {
  const auto start = std::chrono::steady_clock::now();
  DWORD wait_ms = 10;
  for (;;) {
    if (op()) return 0;
    const DWORD code = GetLastError();
    if (!may_pass(code, watched)) return code;
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

  // Each read gives its own position and this object keeps no state a read
  // changes.
  bool reads_on_any_thread() const override { return true; }

  size_t read_at(uint64_t offset, void* buf, size_t n) override {
    size_t done = 0;
    while (done < n) {
      OVERLAPPED at = position(offset + done);
      DWORD want = static_cast<DWORD>(std::min<size_t>(n - done, kPiece));
      DWORD got = 0;
      if (!ReadFile(handle_, static_cast<char*>(buf) + done, want, &got, &at)) {
        DWORD code = GetLastError();
        if (code == ERROR_HANDLE_EOF) break;
        throw_win32("read", path_, code);
      }
      if (got == 0) break;
      done += got;
    }
    return done;
  }

  void write_at(uint64_t offset, const void* buf, size_t n) override {
    size_t done = 0;
    while (done < n) {
      OVERLAPPED at = position(offset + done);
      DWORD want = static_cast<DWORD>(std::min<size_t>(n - done, kPiece));
      DWORD put = 0;
      if (!WriteFile(handle_, static_cast<const char*>(buf) + done, want, &put, &at)) {
        throw_win32("write", path_, GetLastError());
      }
      // Nothing written without an error only happens when nothing more fits.
      if (put == 0) throw IoError("write", path_, ENOSPC);
      done += put;
    }
  }

  uint64_t size() override {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(handle_, &size)) throw_win32("stat", path_, GetLastError());
    return static_cast<uint64_t>(size.QuadPart);
  }

  void sync() override {
    if (!FlushFileBuffers(handle_)) throw_win32("sync", path_, GetLastError());
  }

  void close() override {
    HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    if (handle != INVALID_HANDLE_VALUE && !CloseHandle(handle)) {
      throw_win32("close", path_, GetLastError());
    }
  }

 private:
  static constexpr size_t kPiece = size_t{1} << 30;  // one call moves at most a DWORD's worth

  static OVERLAPPED position(uint64_t offset) {
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

std::wstring as_wide(const std::u16string& s) {
  return std::wstring(reinterpret_cast<const wchar_t*>(s.data()), s.size());
}

std::string narrow(const std::wstring& s) {
  return utf16_to_utf8(std::u16string(reinterpret_cast<const char16_t*>(s.data()), s.size()));
}

// Opens `path` for its metadata only (no access to the data, every kind of
// sharing), links followed; INVALID_HANDLE_VALUE when it cannot.
HANDLE open_for_info(const std::wstring& path) {
  return CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

bool file_info(const std::wstring& path, BY_HANDLE_FILE_INFORMATION* info) {
  HANDLE handle = open_for_info(path);
  if (handle == INVALID_HANDLE_VALUE) return false;
  BOOL ok = GetFileInformationByHandle(handle, info);
  CloseHandle(handle);
  return ok != 0;
}

// The full path, upper-cased as the file system compares names.
std::wstring folded_full_path(const std::wstring& path) {
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
std::string base_name(const std::string& path) {
  const size_t cut = path.find_last_of(kPathSeparators);
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

}  // namespace

std::string lock_name(const std::string& path) {
  std::u16string wide;
  std::wstring folded;
  if (utf8_to_utf16(path, &wide)) folded = folded_full_path(as_wide(wide));
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

int errno_from_win32(unsigned long code) {
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

std::string win32_error_text(unsigned long code) {
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
  return utf16_to_utf8(wide);
}

std::wstring wide_path(const std::string& op, const std::string& path) {
  std::u16string wide;
  if (!utf8_to_utf16(path, &wide)) throw IoError(op, path, EINVAL);
  return std::wstring(reinterpret_cast<const wchar_t*>(wide.data()), wide.size());
}

std::unique_ptr<File> WindowsFileSystem::open(const std::string& path, OpenMode mode) {
  const std::wstring wide = wide_path("open", path);
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
    DWORD attributes = file_attributes(wide);
    if (code == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      throw IoError("open", path, EISDIR);
    }
    throw_win32("open", path, code);
  }
  auto file = std::make_unique<WindowsFile>(path, handle);
  if (mode == OpenMode::kCreate && !SetEndOfFile(handle)) {
    throw_win32("open", path, GetLastError());
  }
  return file;
}

bool WindowsFileSystem::exists(const std::string& path) {
  std::u16string wide;
  // Bytes that are no UTF-8 name no file.
  if (!utf8_to_utf16(path, &wide)) return false;
  return GetFileAttributesW(reinterpret_cast<const wchar_t*>(wide.c_str())) !=
         INVALID_FILE_ATTRIBUTES;
}

void WindowsFileSystem::rename(const std::string& from, const std::string& to) {
  const std::wstring wide_from = wide_path("rename", from);
  const std::wstring wide_to = wide_path("rename", to);
  // Atomic on NTFS; with write-through the new name is on disk on return.
  if (DWORD code = retrying(retry_for_, wide_to, [&] {
        return MoveFileExW(wide_from.c_str(), wide_to.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
      })) {
    throw_win32("rename", from, code);
  }
}

void WindowsFileSystem::rename_no_replace(const std::string& from, const std::string& to) {
  const std::wstring wide_from = wide_path("rename", from);
  const std::wstring wide_to = wide_path("rename", to);
  // Without MOVEFILE_REPLACE_EXISTING the move fails when `to` exists.
  if (DWORD code = retrying(retry_for_, wide_from, [&] {
        return MoveFileExW(wide_from.c_str(), wide_to.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
      })) {
    throw_win32("rename", from, code);
  }
}

void WindowsFileSystem::link(const std::string& from, const std::string& to) {
  const std::wstring wide_from = wide_path("link", from);
  const std::wstring wide_to = wide_path("link", to);
  // Volumes without hard links (FAT, most network shares) refuse; the
  // caller then copies.
  if (!CreateHardLinkW(wide_to.c_str(), wide_from.c_str(), nullptr)) {
    throw_win32("link", from, GetLastError());
  }
}

void WindowsFileSystem::remove(const std::string& path) {
  const std::wstring wide = wide_path("remove", path);
  // A file removed while another program has it open (a virus scanner, an
  // indexer, a run checking its files) keeps its name until that program
  // closes it, and a backup whose mark is already gone would then stand in
  // the next run's way as a stranger's file. So the file first moves to a
  // name of its own beside it, which frees its name at once, and is removed
  // there.
  static std::atomic<unsigned> removals{0};
  std::wstring away;
  DWORD code;
  for (int attempt = 0; attempt < 100; ++attempt) {
    wchar_t suffix[40];
    std::swprintf(suffix, std::size(suffix), L".%lx-%x.DEL", GetCurrentProcessId(),
                  removals.fetch_add(1));
    away = wide + suffix;
    code = retrying(retry_for_, wide, [&] { return MoveFileExW(wide.c_str(), away.c_str(), 0); });
    if (code != ERROR_ALREADY_EXISTS && code != ERROR_FILE_EXISTS) break;
  }
  if (code != 0) throw_win32("remove", path, code);
  if ((code = retrying(retry_for_, away, [&] { return DeleteFileW(away.c_str()) != 0; }))) {
    // Back under its own name, as a failed removal leaves it.
    MoveFileExW(away.c_str(), wide.c_str(), 0);
    throw_win32("remove", path, code);
  }
}

bool WindowsFileSystem::same_file(const std::string& a, const std::string& b) {
  BY_HANDLE_FILE_INFORMATION info[2];
  const std::string* paths[2] = {&a, &b};
  for (int i = 0; i < 2; ++i) {
    std::u16string wide;
    if (!utf8_to_utf16(*paths[i], &wide)) return false;
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

void WindowsFileSystem::copy_mode(const std::string& from, const std::string& to) {
  // What stands for permission bits here are the file attributes. The
  // access control list is the one the new file inherits from its folder,
  // as for any file a user creates there.
  constexpr DWORD kCarried = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                             FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  DWORD attributes = file_attributes(wide_path("stat", from));
  if (attributes == INVALID_FILE_ATTRIBUTES) throw_win32("stat", from, GetLastError());
  // Windows lets no program replace or remove a read-only file, so the file
  // `to` is meant to replace must stay: refused here, before anything of
  // the build has moved.
  if (attributes & FILE_ATTRIBUTE_READONLY) throw IoError("chmod", to, EACCES);
  DWORD carried = attributes & kCarried;
  if (!SetFileAttributesW(wide_path("chmod", to).c_str(),
                          carried != 0 ? carried : FILE_ATTRIBUTE_NORMAL)) {
    throw_win32("chmod", to, GetLastError());
  }
}

bool WindowsFileSystem::read_only(const std::string& path) {
  std::u16string wide;
  if (!utf8_to_utf16(path, &wide)) return false;
  const DWORD attributes = file_attributes(as_wide(wide));
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
         (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

void WindowsFileSystem::check_lookup(const std::string& path) {
  std::u16string wide;
  if (!utf8_to_utf16(path, &wide)) return;
  if (file_attributes(as_wide(wide)) != INVALID_FILE_ATTRIBUTES) return;
  // Only a name too long: other refusals (reserved names, devices) are
  // kind()'s to tell.
  const DWORD code = GetLastError();
  if (code == ERROR_FILENAME_EXCED_RANGE) throw_win32("stat", path, code);
}

void WindowsFileSystem::sync_dir(const std::string&) {
  // Windows has no call that makes a folder's entries durable on their own:
  // NTFS journals its metadata, and renames here are made with
  // MOVEFILE_WRITE_THROUGH, which returns only once the move is on disk.
}

FileKind WindowsFileSystem::kind(const std::string& path) {
  std::u16string wide16;
  if (!utf8_to_utf16(path, &wide16)) return FileKind::kMissing;
  const std::wstring wide = as_wide(wide16);
  const DWORD attributes = file_attributes(wide);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD code = GetLastError();
    if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND) {
      // Reserved names (NUL, CON) have no attributes but open as devices.
      HANDLE handle = open_for_info(wide);
      if (handle == INVALID_HANDLE_VALUE) return FileKind::kOther;
      const DWORD type = GetFileType(handle);
      CloseHandle(handle);
      return type == FILE_TYPE_CHAR   ? FileKind::kDevice
             : type == FILE_TYPE_PIPE ? FileKind::kFifo
                                      : FileKind::kOther;
    }
    std::u16string dir_path;
    utf8_to_utf16(dir_name(path), &dir_path);
    const DWORD dir = file_attributes(as_wide(dir_path));
    if (dir != INVALID_FILE_ATTRIBUTES && (dir & FILE_ATTRIBUTE_DIRECTORY)) {
      return FileKind::kMissing;
    }
    return FileKind::kNoDirectory;
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return FileKind::kDirectory;
  if (attributes & FILE_ATTRIBUTE_DEVICE) return FileKind::kDevice;
  HANDLE handle = open_for_info(wide);
  if (handle == INVALID_HANDLE_VALUE) return FileKind::kRegular;
  const DWORD type = GetFileType(handle);
  CloseHandle(handle);
  if (type == FILE_TYPE_CHAR) return FileKind::kDevice;
  if (type == FILE_TYPE_PIPE) return FileKind::kFifo;
  return FileKind::kRegular;
}

FileIdentity WindowsFileSystem::identity(const std::string& path) {
  FileIdentity id;
  std::u16string wide;
  BY_HANDLE_FILE_INFORMATION info;
  if (!utf8_to_utf16(path, &wide)) {
    id.name = path;
    return id;
  }
  if (!file_info(as_wide(wide), &info)) {
    // Names differing only in case name one file here.
    std::u16string name;
    utf8_to_utf16(base_name(path), &name);
    std::wstring folded = as_wide(name);
    CharUpperBuffW(folded.data(), static_cast<DWORD>(folded.size()));
    id.name = narrow(folded);
    std::u16string dir;
    // In a missing directory only the whole path tells files apart.
    if (!utf8_to_utf16(dir_name(path), &dir) || !file_info(as_wide(dir), &info)) {
      id.name = narrow(folded_full_path(as_wide(wide)));
      return id;
    }
  }
  id.device = info.dwVolumeSerialNumber;
  id.inode = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  return id;
}

std::string WindowsFileSystem::follow_links(const std::string& path) {
  std::u16string wide16;
  if (!utf8_to_utf16(path, &wide16)) return path;
  const std::wstring wide = as_wide(wide16);
  // Only a path whose last part is a link changes; any other keeps the
  // spelling the user gave.
  const DWORD attributes = file_attributes(wide);
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    return path;
  }
  HANDLE handle = open_for_info(wide);
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
  return narrow(target);
}

std::unique_ptr<FileLock> WindowsFileSystem::lock_files(const std::vector<std::string>& paths,
                                                        const LockWaitNotice& waiting) {
  struct Name {
    std::string mutex;
    const std::string* path;
    HANDLE handle;
  };
  std::vector<Name> names;  // in the caller's order
  auto lock = std::make_unique<MutexLock>();
  for (const std::string& path : paths) {
    std::string mutex = lock_name(follow_links(path));
    auto same = [&](const Name& n) { return n.mutex == mutex; };
    if (std::any_of(names.begin(), names.end(), same)) continue;
    std::u16string wide;
    utf8_to_utf16(mutex, &wide);
    HANDLE handle = CreateMutexW(nullptr, FALSE, as_wide(wide).c_str());
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
      stop_if_interrupted();
      HANDLE both[2] = {name.handle, static_cast<HANDLE>(interrupt_event_handle())};
      got = WaitForMultipleObjects(2, both, FALSE, INFINITE);
      if (got == WAIT_OBJECT_0 + 1) stop_if_interrupted();
    }
    if (got == WAIT_OBJECT_0 || got == WAIT_ABANDONED) lock->held.push_back(name.handle);
  }
  return lock;
}

}  // namespace tolvane
