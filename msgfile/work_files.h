// The files of one build and how the new MSG file and names header replace the
// previous ones without ever losing them.
//
// The previous MSG file and names header are only read while a build runs; the
// new content goes to <base>.TMP and <names>.TMP. Committing then
//   1. gives the previous files second names, <base>.BAK and
//      "LocalMessages.BAK" (hard links, or synced copies across file systems),
//   2. renames the new names header, then the new MSG file, over the previous
//      ones (each rename is atomic),
//   3. removes the backups.
// A failure at any point undoes what was done. After an interrupted run the
// backups tell the next run what happened: while <base>.TMP still exists the
// MSG file was not replaced and the backups must be restored; once it is gone
// both files are new and the backups can be removed.
#ifndef TOLVANE_MSGFILE_WORK_FILES_H_
#define TOLVANE_MSGFILE_WORK_FILES_H_

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace tolvane {

inline constexpr char kNamesBackup[] = "LocalMessages.BAK";

struct WorkFilePaths {
  std::string msg;        // the MSG file as typed
  std::string msg_shown;  // upper-cased, as messages show it
  std::string tmp, tmp_shown;
  std::string bak, bak_shown;
  std::string names;      // the names header
  std::string names_tmp;  // where the new names header is written
  std::string names_bak = kNamesBackup;
};

// A path as messages and the catalogue's name field show it: ASCII letters
// upper-cased.
std::string shown_path(std::string path);

// Work file names from the MSG path as typed: its final extension replaced by
// .TMP and .BAK, in the same directory.
WorkFilePaths work_file_paths(const std::string& msg_typed, const std::string& names_path);

// When a backup left by an interrupted run is in the way, the message that
// says which and what to do about it.
std::optional<std::string> stale_backup_message(FileSystem& fs, const WorkFilePaths& paths);

// Gives `from` the second name `to`, or copies it there (synced, then renamed
// into place) where links are not possible.
void make_backup(FileSystem& fs, const std::string& from, const std::string& to);

// Puts the backup back in place of the file it was taken from.
void restore_backup(FileSystem& fs, const std::string& backup, const std::string& original);

// Commits a finished build, or undoes it. The temporary files must be
// complete, synced and closed before commit().
class WorkFiles {
 public:
  WorkFiles(FileSystem& fs, WorkFilePaths paths) : fs_(fs), paths_(std::move(paths)) {}
  const WorkFilePaths& paths() const { return paths_; }

  // Records that the temporary files exist, so undo() removes them.
  void created_tmp() { tmp_created_ = true; }
  void created_names_tmp() { names_tmp_created_ = true; }

  // Throws Failure; the caller then calls undo().
  void commit();
  // Puts the previous files back and removes the work files. Returns an empty
  // text when everything is as before the run, or what the user must know
  // when it could not be done.
  std::string undo();

 private:
  void sync_dirs();
  void back_up(const std::string& from, const std::string& to, const std::string& failure);
  std::string restore_note();
  std::string kept_note();

  FileSystem& fs_;
  WorkFilePaths paths_;
  bool tmp_created_ = false;
  bool names_tmp_created_ = false;
  bool msg_existed_ = false;
  bool names_existed_ = false;
  bool msg_backed_up_ = false;
  bool names_backed_up_ = false;
  bool names_committed_ = false;
  bool msg_committed_ = false;
  bool done_ = false;
  // Partly written backup copies a failed commit could not remove.
  std::vector<std::string> parts_left_;
};

}  // namespace tolvane

#endif  // TOLVANE_MSGFILE_WORK_FILES_H_
