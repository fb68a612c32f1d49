// The real file system on Windows, through the wide-character Win32 calls.
// Paths are UTF-8 inside the program and converted at this boundary.
#ifndef TOLVANE_PLATFORM_WINDOWS_FILE_SYSTEM_H_
#define TOLVANE_PLATFORM_WINDOWS_FILE_SYSTEM_H_

#include <chrono>
#include <string>

#include "platform/file_system.h"

namespace tolvane {

class WindowsFileSystem : public FileSystem {
 public:
  // Virus scanners and indexers open new files for a moment; a rename or
  // removal refused meanwhile is tried again until `retry_for` has passed.
  explicit WindowsFileSystem(std::chrono::milliseconds retry_for = std::chrono::milliseconds(2000))
      : retry_for_(retry_for) {}

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

 private:
  std::chrono::milliseconds retry_for_;
};

// The errno value the rest of the program understands for a Win32 error code
// (EIO for codes it has no use for).
int errno_from_win32(unsigned long code);

// The system's own description of a Win32 error code, in UTF-8, without the
// trailing line break; empty when the system has none.
std::string win32_error_text(unsigned long code);

// A path as the wide-character calls take it; throws IoError (EINVAL) for
// bytes that are no UTF-8, since no file can have such a name.
std::wstring wide_path(const std::string& op, const std::string& path);

// The name of the mutex that stands for `path` in the run lock: the same for
// every spelling of one full path, whatever its case.
std::string lock_name(const std::string& path);

}  // namespace tolvane

#endif  // TOLVANE_PLATFORM_WINDOWS_FILE_SYSTEM_H_
