// The real file system, through POSIX calls.
#ifndef TOLVANE_PLATFORM_POSIX_FILE_SYSTEM_H_
#define TOLVANE_PLATFORM_POSIX_FILE_SYSTEM_H_

#include "platform/file_system.h"

namespace tolvane {

class PosixFileSystem : public FileSystem {
 public:
  std::unique_ptr<File> open(const std::string& path, OpenMode mode) override;
  bool exists(const std::string& path) override;
  void rename(const std::string& from, const std::string& to) override;
  void rename_no_replace(const std::string& from, const std::string& to) override;
  void link(const std::string& from, const std::string& to) override;
  void remove(const std::string& path) override;
  bool same_file(const std::string& a, const std::string& b) override;
  void copy_mode(const std::string& from, const std::string& to) override;
  bool read_only(const std::string& path) override;
  void check_lookup(const std::string& path) override;
  void sync_dir(const std::string& dir) override;
  FileKind kind(const std::string& path) override;
  FileIdentity identity(const std::string& path) override;
  std::string follow_links(const std::string& path) override;
  std::unique_ptr<FileLock> lock_files(const std::vector<std::string>& paths,
                                       const LockWaitNotice& waiting) override;
};

}  // namespace tolvane

#endif  // TOLVANE_PLATFORM_POSIX_FILE_SYSTEM_H_
