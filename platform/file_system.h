// The file operations a build uses, behind one small interface so that tests
// can run whole builds in memory and make any single operation fail.
#ifndef TOLVANE_PLATFORM_FILE_SYSTEM_H_
#define TOLVANE_PLATFORM_FILE_SYSTEM_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace tolvane {

// A failed file operation. `error` is an errno value; `reason` says in the
// system's words why it failed ("No space left on device"), for the user.
// `op` names the operation in what(), for an error that escapes.
class IoError : public std::runtime_error {
 public:
  IoError(std::string op, std::string path, int error);
  IoError(std::string op, std::string path, int error, std::string reason);
  const std::string& path() const { return path_; }
  int error() const { return error_; }
  const std::string& reason() const { return reason_; }

 private:
  std::string path_;
  int error_;
  std::string reason_;
};

// The system's description of an errno value.
std::string error_text(int error);

enum class OpenMode {
  kRead,       // must exist
  kReadWrite,  // must exist, not truncated
  kCreate,     // created or truncated, read and write
};

// An open file addressed by absolute positions; there is no shared cursor.
class File {
 public:
  virtual ~File() = default;
  // Reads up to `n` bytes at `offset`; fewer only at the end of the file.
  virtual size_t read_at(uint64_t offset, void* buf, size_t n) = 0;
  // Writes all `n` bytes at `offset` or throws.
  virtual void write_at(uint64_t offset, const void* buf, size_t n) = 0;
  virtual uint64_t size() = 0;
  // Forces written data to stable storage.
  virtual void sync() = 0;
  // Starts handing the written data to the disk without waiting for it: a
  // hint that lets several files reach the disk in one go before their
  // syncs. Errors surface at sync().
  virtual void start_sync() {}
  // Releases the file; reports errors the system only gives at close.
  virtual void close() = 0;
  // Whether another thread may read this file (and only read it) while this
  // one goes on with other files.
  virtual bool reads_on_any_thread() const { return false; }
};

// What a path names, symlinks followed.
enum class FileKind {
  kMissing,      // nothing there (a link to nothing included)
  kNoDirectory,  // a directory on the way is missing
  kRegular,
  kDirectory,
  kFifo,
  kDevice,
  kSocket,
  kOther,
};

// How messages name what a path leads to when it is no regular file: "a
// directory", "a FIFO", "a device", "a socket", or "not a regular file".
const char* file_kind_name(FileKind kind);

// Which file a path names, or would name once created: equal for every path
// of one file, whatever its spelling, symlinks and hard links included.
struct FileIdentity {
  uint64_t device = 0, inode = 0;  // of the file, or of its directory when it does not exist
  std::string name;                // empty when the file exists
  bool operator==(const FileIdentity&) const = default;
};

// Keeps other runs away from the files it covers until it is destroyed. The
// system drops it when the process ends, however it ends, so that no stale
// lock is ever left to remove by hand.
class FileLock {
 public:
  virtual ~FileLock() = default;
};

// Told the path another run holds, once, before a lock waits for it.
using LockWaitNotice = std::function<void(const std::string& path)>;

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  virtual std::unique_ptr<File> open(const std::string& path, OpenMode mode) = 0;
  virtual bool exists(const std::string& path) = 0;
  // Replaces `to` when it exists.
  virtual void rename(const std::string& from, const std::string& to) = 0;
  // Fails with EEXIST when `to` exists.
  virtual void rename_no_replace(const std::string& from, const std::string& to) = 0;
  // Gives the file `from` a second name `to`; fails with EEXIST when `to` exists.
  virtual void link(const std::string& from, const std::string& to) = 0;
  // The name is free on return, even while another program has the file open.
  virtual void remove(const std::string& path) = 0;
  // Whether both paths are names of one file (hard links to it). False when
  // either is missing, or where the file system cannot tell.
  virtual bool same_file(const std::string&, const std::string&) { return false; }
  // Gives `to` the permission bits (and, where allowed, the owner) of `from`,
  // so that a file replaced by a new version keeps who may read it.
  virtual void copy_mode(const std::string&, const std::string&) {}
  // Whether `path` is a read-only file: write permission for no one (on
  // Windows, the read-only attribute), which holds even where the user's
  // privileges or the directory would let a program replace it. False when
  // it is missing.
  virtual bool read_only(const std::string&) { return false; }
  // Throws IoError when `path` cannot be looked up for a reason other than
  // that it, or a directory on its way, is missing (a name too long, a
  // directory that may not be searched), which kind() cannot tell apart
  // from a file of another kind.
  virtual void check_lookup(const std::string&) {}
  // Makes the directory's entries (renames, creations, removals) durable.
  virtual void sync_dir(const std::string& dir) = 0;
  virtual FileKind kind(const std::string& path) = 0;
  virtual FileIdentity identity(const std::string& path) = 0;
  // The path of the file `path` leads to when its last part is a symlink
  // (followed to the end, even to a file that does not exist yet); `path`
  // itself otherwise.
  virtual std::string follow_links(const std::string& path) = 0;
  // Locks `paths` (the files one run reads and replaces, symlinks followed;
  // they need not exist yet) against every other run that locks any of them.
  // When another run holds one, calls `waiting` once with that path and waits
  // for it (an interrupt stops the wait: Interrupted). Two runs locking
  // overlapping sets never deadlock.
  virtual std::unique_ptr<FileLock> lock_files(const std::vector<std::string>& paths,
                                               const LockWaitNotice& waiting) = 0;
};

// The characters that end a directory's name in a path: Windows takes the
// backslash as well as the slash.
#ifdef _WIN32
inline constexpr char kPathSeparators[] = "/\\";
#else
inline constexpr char kPathSeparators[] = "/";
#endif

// The directory part of `path` ("." when it has none).
std::string dir_name(const std::string& path);

}  // namespace tolvane

#endif  // TOLVANE_PLATFORM_FILE_SYSTEM_H_
