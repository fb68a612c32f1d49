// An in-memory file system for tests. It counts every operation that can fail
// on a real disk and can make the Nth of them fail, once or from then on.
#ifndef TOLVANE_PLATFORM_FAKE_FILE_SYSTEM_H_
#define TOLVANE_PLATFORM_FAKE_FILE_SYSTEM_H_

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace tolvane {

class FakeFileSystem : public FileSystem {
 public:
  std::unique_ptr<File> open(const std::string& path, OpenMode mode) override;
  bool exists(const std::string& path) override;
  void rename(const std::string& from, const std::string& to) override;
  void rename_no_replace(const std::string& from, const std::string& to) override;
  void link(const std::string& from, const std::string& to) override;
  void remove(const std::string& path) override;
  bool same_file(const std::string& a, const std::string& b) override;
  void sync_dir(const std::string& dir) override;
  FileKind kind(const std::string& path) override;
  FileIdentity identity(const std::string& path) override;
  std::string follow_links(const std::string& path) override;
  // Locks directories, as the real one does; a lock that would wait calls
  // the notice and then the waiter set below, which must release it.
  std::unique_ptr<FileLock> lock_files(const std::vector<std::string>& paths,
                                       const LockWaitNotice& waiting) override;

  // Test set-up and inspection; none of these count as operations. Paths
  // are compared after "." and ".." are taken out; symlinks are followed
  // where the system follows them.
  void set_file(const std::string& path, std::string content);
  void set_symlink(const std::string& path, const std::string& target) {
    symlinks_[normalized(path)] = target;
  }
  // `path` is a directory or a special file of `kind`; kMissing makes a
  // directory missing (every other one is there).
  void set_kind(const std::string& path, FileKind kind) { kinds_[normalized(path)] = kind; }
  // The target of the symlink `path`, or empty when it is none.
  std::string symlink(const std::string& path) const;
  bool get_file(const std::string& path, std::string* content) const;
  std::vector<std::string> list_files() const;
  // Links between directories fail as they do across file systems.
  void set_links_fail(bool fail) { links_fail_ = fail; }

  // Runs when a lock would wait: stands for the other run finishing.
  void set_lock_waiter(std::function<void()> waiter) { lock_waiter_ = std::move(waiter); }
  bool locked(const std::string& dir) const { return locked_dirs_.count(dir) != 0; }

  // Makes operation number `n` (counting from 1) fail with EIO; when
  // `persistent`, every later operation fails too. 0 disables.
  void fail_at(long n, bool persistent) {
    fail_at_ = n;
    persistent_ = persistent;
  }
  // Makes operation number `n` note an interrupt request by `signal`, as if
  // it had come just before; 0 disables.
  void interrupt_at(long n, int signal) {
    interrupt_at_ = n;
    interrupt_signal_ = signal;
  }
  long operations() const { return operations_; }
  bool injected() const { return injected_; }
  // The operation and path the first injected failure hit ("read app.msg").
  const std::string& injected_at() const { return injected_at_; }

  // Counts one operation and throws when it is the one to fail. Used by files.
  void step(const char* op, const std::string& path);

 private:
  static std::string normalized(const std::string& path);
  std::string follow(const std::string& path) const;
  bool directory_exists(const std::string& dir) const;

  std::map<std::string, std::shared_ptr<std::string>> files_;
  long operations_ = 0;
  long fail_at_ = 0;
  bool persistent_ = false;
  long interrupt_at_ = 0;
  int interrupt_signal_ = 0;
  bool injected_ = false;
  std::string injected_at_;
  bool links_fail_ = false;
  std::map<std::string, std::string> symlinks_;
  std::map<std::string, FileKind> kinds_;
  std::map<std::string, int> locked_dirs_;  // directory -> holders (0 or 1)
  std::function<void()> lock_waiter_;
  friend class FakeLock;
};

}  // namespace tolvane

#endif  // TOLVANE_PLATFORM_FAKE_FILE_SYSTEM_H_
