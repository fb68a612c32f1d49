#include "platform/posix_file_system.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <tuple>

#include "platform/interrupt.h"

namespace tolvane {
namespace {

class PosixFile : public File {
 public:
  PosixFile(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}
  ~PosixFile() override {
    if (fd_ >= 0) ::close(fd_);
  }

  // pread() keeps no position and this object no state a read changes.
  bool reads_on_any_thread() const override { return true; }

  size_t read_at(uint64_t offset, void* buf, size_t n) override {
    size_t done = 0;
    while (done < n) {
      ssize_t r =
          ::pread(fd_, static_cast<char*>(buf) + done, n - done, static_cast<off_t>(offset + done));
      if (r < 0) {
        if (errno == EINTR) continue;
        throw IoError("read", path_, errno);
      }
      if (r == 0) break;
      done += static_cast<size_t>(r);
    }
    return done;
  }

  void write_at(uint64_t offset, const void* buf, size_t n) override {
    size_t done = 0;
    while (done < n) {
      ssize_t w = ::pwrite(fd_, static_cast<const char*>(buf) + done, n - done,
                           static_cast<off_t>(offset + done));
      if (w < 0) {
        if (errno == EINTR) continue;
        throw IoError("write", path_, errno);
      }
      // A zero-length write would loop forever; the system only returns it
      // when it cannot store anything more.
      if (w == 0) throw IoError("write", path_, ENOSPC);
      done += static_cast<size_t>(w);
    }
    start_writeback(n);
  }

  uint64_t size() override {
    struct stat st;
    if (::fstat(fd_, &st) != 0) throw IoError("stat", path_, errno);
    return static_cast<uint64_t>(st.st_size);
  }

  void sync() override {
    if (::fsync(fd_) != 0) throw IoError("sync", path_, errno);
  }

  void start_sync() override {
#ifdef SYNC_FILE_RANGE_WRITE
    ::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
    unflushed_ = 0;
#endif
  }

  void close() override {
    int fd = fd_;
    fd_ = -1;
    if (fd >= 0 && ::close(fd) != 0) throw IoError("close", path_, errno);
  }

 private:
  // Every file a build writes is synced before it counts. Handing the data
  // to the disk as it comes, a few MiB at a time, lets the disk work while
  // the build goes on, so that the final sync has little left to wait for
  // (on a large catalogue it would otherwise wait for the whole file); in small
  // steps, so that little is left however the build ends. Only a hint:
  // errors surface at the sync.
  void start_writeback(size_t written) {
#ifdef SYNC_FILE_RANGE_WRITE
    constexpr uint64_t kWritebackChunk = 2 << 20;
    unflushed_ += written;
    if (unflushed_ >= kWritebackChunk) {
      ::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
      unflushed_ = 0;
    }
#else
    (void)written;
#endif
  }

  std::string path_;
  int fd_;
  uint64_t unflushed_ = 0;  // bytes written since writeback was last started
};

// Locks on the directories that hold a run's files. A lock on a directory
// leaves nothing beside the user's files, covers every catalogue and names
// header in it, and is dropped by the system with the process.
class DirectoryLock : public FileLock {
 public:
  ~DirectoryLock() override {
    for (int fd : fds) ::close(fd);
  }
  std::vector<int> fds;
};

// The reason for a failure on `path`: the system's words, or for a missing
// directory on the way, which one (in the same words on every system).
std::string reason_for(int error, const std::string& path) {
  std::string reason = error_text(error);
  if (error != ENOENT) return reason;
  std::string missing;
  struct stat st;
  for (std::string dir = dir_name(path); dir != "." && dir != "/"; dir = dir_name(dir)) {
    if (::stat(dir.c_str(), &st) == 0) break;
    missing = dir;
  }
  if (!missing.empty()) reason = "there is no directory " + missing;
  return reason;
}

// The directory that holds `path`, or will hold it, symlinks followed.
std::string resolved_directory(const std::string& path) {
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) != nullptr) return dir_name(resolved);
  return dir_name(path);
}

}  // namespace

std::unique_ptr<File> PosixFileSystem::open(const std::string& path, OpenMode mode) {
  int flags = O_CLOEXEC;
  switch (mode) {
    case OpenMode::kRead:
      flags |= O_RDONLY;
      break;
    case OpenMode::kReadWrite:
      flags |= O_RDWR;
      break;
    case OpenMode::kCreate:
      flags |= O_RDWR | O_CREAT | O_TRUNC;
      break;
  }
  int fd = ::open(path.c_str(), flags, 0666);
  if (fd < 0) throw IoError("open", path, errno, reason_for(errno, path));
  // A directory opens for reading but is no file of ours.
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    throw IoError("open", path, EISDIR);
  }
  return std::make_unique<PosixFile>(path, fd);
}

bool PosixFileSystem::exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

void PosixFileSystem::rename(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) {
    throw IoError("rename", from, errno, reason_for(errno, to));
  }
}

void PosixFileSystem::rename_no_replace(const std::string& from, const std::string& to) {
#ifdef SYS_renameat2
  if (::syscall(SYS_renameat2, AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), 1u) == 0) return;
  // File systems without the flag answer EINVAL; the link-based way below
  // gives the same guarantee there.
  if (errno != EINVAL && errno != ENOSYS) throw IoError("rename", from, errno);
#endif
  if (::link(from.c_str(), to.c_str()) != 0) throw IoError("rename", from, errno);
  if (::unlink(from.c_str()) != 0) throw IoError("rename", from, errno);
}

void PosixFileSystem::link(const std::string& from, const std::string& to) {
  if (::link(from.c_str(), to.c_str()) != 0) throw IoError("link", from, errno);
}

void PosixFileSystem::remove(const std::string& path) {
  if (::unlink(path.c_str()) != 0) throw IoError("remove", path, errno);
}

bool PosixFileSystem::same_file(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

void PosixFileSystem::copy_mode(const std::string& from, const std::string& to) {
  struct stat st;
  if (::stat(from.c_str(), &st) != 0) throw IoError("stat", from, errno);
  // Only the owner's privileges allow a change of owner; otherwise the new
  // file stays the user's own, as a file they write themselves would be.
  if (::chown(to.c_str(), st.st_uid, st.st_gid) != 0 && errno != EPERM) {
    throw IoError("chown", to, errno);
  }
  if (::chmod(to.c_str(), st.st_mode & 07777) != 0) throw IoError("chmod", to, errno);
}

bool PosixFileSystem::read_only(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  // Write bits for no one (chmod a-w): read-only even for root, who could
  // replace it anyway, as Windows means its attribute for administrators.
  // A file only others may write is the directory's to guard: whoever may
  // write there may replace it, as any tool that replaces files by renaming.
  return (st.st_mode & 0222) == 0;
}

void PosixFileSystem::check_lookup(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0 || errno == ENOENT || errno == ENOTDIR) return;
  throw IoError("stat", path, errno);
}

void PosixFileSystem::sync_dir(const std::string& dir) {
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) throw IoError("open", dir, errno);
  int rc = ::fsync(fd);
  int err = errno;
  ::close(fd);
  // Some file systems cannot sync a directory at all; that is no failure of
  // the build.
  if (rc != 0 && err != EINVAL && err != ENOTSUP) throw IoError("sync", dir, err);
}

std::unique_ptr<FileLock> PosixFileSystem::lock_files(const std::vector<std::string>& paths,
                                                      const LockWaitNotice& waiting) {
  struct Directory {
    dev_t device;
    ino_t inode;
    int fd;
    const std::string* path;  // the first file it holds
  };
  auto lock = std::make_unique<DirectoryLock>();
  std::vector<Directory> dirs;
  for (const std::string& path : paths) {
    // A directory that cannot be opened is left unlocked: the run then meets
    // the same problem where it creates its files, and reports it there.
    int fd = ::open(resolved_directory(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st;
    if (::fstat(fd, &st) != 0) {
      ::close(fd);
      continue;
    }
    lock->fds.push_back(fd);
    auto same = [&](const Directory& d) { return d.device == st.st_dev && d.inode == st.st_ino; };
    if (std::none_of(dirs.begin(), dirs.end(), same)) {
      dirs.push_back({st.st_dev, st.st_ino, fd, &path});
    }
  }
  // One order for every run, so that two runs never each hold what the
  // other waits for.
  std::sort(dirs.begin(), dirs.end(), [](const Directory& a, const Directory& b) {
    return std::tie(a.device, a.inode) < std::tie(b.device, b.inode);
  });
  bool told = false;
  for (const Directory& dir : dirs) {
    if (::flock(dir.fd, LOCK_EX | LOCK_NB) == 0) continue;
    // Where the file system has no locks, the run goes on as it always did.
    if (errno != EWOULDBLOCK) continue;
    if (!told) waiting(*dir.path);
    told = true;
    stop_if_interrupted();
    while (::flock(dir.fd, LOCK_EX) != 0) {
      if (errno != EINTR) break;
      stop_if_interrupted();
    }
  }
  return lock;
}

FileKind PosixFileSystem::kind(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    if (errno != ENOENT && errno != ENOTDIR) return FileKind::kOther;
    const std::string dir = dir_name(path);
    if (::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return FileKind::kMissing;
    return FileKind::kNoDirectory;
  }
  if (S_ISREG(st.st_mode)) return FileKind::kRegular;
  if (S_ISDIR(st.st_mode)) return FileKind::kDirectory;
  if (S_ISFIFO(st.st_mode)) return FileKind::kFifo;
  if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) return FileKind::kDevice;
  if (S_ISSOCK(st.st_mode)) return FileKind::kSocket;
  return FileKind::kOther;
}

FileIdentity PosixFileSystem::identity(const std::string& path) {
  struct stat st;
  FileIdentity id;
  if (::stat(path.c_str(), &st) != 0) {
    const size_t slash = path.rfind('/');
    id.name = slash == std::string::npos ? path : path.substr(slash + 1);
    // In a missing directory only the whole path tells files apart.
    if (::stat(dir_name(path).c_str(), &st) != 0) {
      id.name = path;
      return id;
    }
  }
  id.device = st.st_dev;
  id.inode = st.st_ino;
  return id;
}

std::string PosixFileSystem::follow_links(const std::string& path) {
  std::string current = path;
  // As many links as the system itself follows before it gives up.
  for (int hops = 0; hops < 40; ++hops) {
    char target[PATH_MAX];
    ssize_t n = ::readlink(current.c_str(), target, sizeof target - 1);
    if (n < 0) return current;
    target[n] = '\0';
    if (target[0] == '/' || current.find('/') == std::string::npos) {
      current = target;
    } else {
      current = dir_name(current) + "/" + target;
    }
  }
  return current;
}

}  // namespace tolvane
