// The real file system, through POSIX calls.
#ifndef TOLVANE_PLATFORM_POSIX_FILE_SYSTEM_H_
#define TOLVANE_PLATFORM_POSIX_FILE_SYSTEM_H_

#include "platform/file_system.h"

namespace tolvane {

class PosixFileSystem : public FileSystem {
 public:
  std::unique_ptr<File> Open(const std::string& path, OpenMode mode) override;
  bool Exists(const std::string& path) override;
  void Rename(const std::string& from, const std::string& to) override;
  void RenameNoReplace(const std::string& from, const std::string& to) override;
  void Link(const std::string& from, const std::string& to) override;
  void Remove(const std::string& path) override;
  bool SameFile(const std::string& a, const std::string& b) override;
  void CopyMode(const std::string& from, const std::string& to) override;
  void SyncDir(const std::string& dir) override;
  FileKind Kind(const std::string& path) override;
  FileIdentity Identity(const std::string& path) override;
  std::string FollowLinks(const std::string& path) override;
  std::unique_ptr<FileLock> LockFiles(const std::vector<std::string>& paths,
                                      const LockWaitNotice& waiting) override;
};

}  // namespace tolvane

#endif  // TOLVANE_PLATFORM_POSIX_FILE_SYSTEM_H_
