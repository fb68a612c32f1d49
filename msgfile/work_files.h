// The files of one build and how the new MSG file and names header replace the
// previous ones without ever losing them.
//
// The previous MSG file and names header are only read while a build runs; the
// new content goes to <base>.TMP and <names>.TMP. Committing then
//   1. gives the previous files second names, <base>.BAK and <names>.BAK
//      (hard links, or synced copies across file systems), each after a
//      synced mark beside it, <base>.RUN and <names>.RUN, that says a run
//      made it,
//   2. renames the new names header, then the new MSG file, over the previous
//      ones (each rename is atomic),
//   3. removes the backups, each before its mark.
// A failure at any point undoes what was done. After an interrupted run the
// backups tell the next run what happened: while <base>.TMP still exists the
// MSG file was not replaced and the backups must be restored; once it is gone
// both files are new and the backups can be removed. A backup without its
// mark was not made by a run (a user's own copy under that name): no run
// writes, removes or advises removing it.
#ifndef TOLVANE_MSGFILE_WORK_FILES_H_
#define TOLVANE_MSGFILE_WORK_FILES_H_

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/failure.h"
#include "platform/file_system.h"

namespace tolvane {

struct WorkFilePaths {
  std::string msg;        // the MSG file as typed
  std::string msg_shown;  // upper-cased, as messages show it
  std::string tmp, tmp_shown;
  std::string bak, bak_shown;
  std::string run, run_shown;  // the mark saying the backup is a run's
  std::string names;           // the names header
  std::string names_tmp;       // where the new names header is written
  std::string names_bak;       // its backup, beside it
  std::string names_run;       // the mark of that backup
};

// A path as messages and the catalogue's name field show it: ASCII letters
// upper-cased.
std::string shown_path(std::string path);

// Work file names from the MSG path as typed: its final extension replaced by
// .TMP, .BAK and .RUN, in the same directory; the names header's are its own
// name followed by .TMP, .BAK and .RUN. Each catalogue and names header thus has work
// files of its own, wherever the run starts from.
WorkFilePaths work_file_paths(const std::string& msg_typed, const std::string& names_path);

// When a backup left by an interrupted run is in the way, the file Failure
// that says which and what to do about it; when a file the run did not make
// holds the name of a backup or mark, the one asking to move it.
std::optional<Failure> find_stale_backup(FileSystem& fs, const WorkFilePaths& paths);

// What the mark of the backup `bak` holds: a fixed first line, then the
// backup's file name.
std::string run_mark_text(const std::string& bak);

// Gives `from` the second name `to`, or copies it there (synced, then renamed
// into place) where links are not possible.
void make_backup(FileSystem& fs, const std::string& from, const std::string& to);

// Puts the backup back in place of the file it was taken from.
void restore_backup(FileSystem& fs, const std::string& backup, const std::string& original);

// One file a build replaces (the MSG file or the names header): its names,
// as typed and as messages show them, and how far the build got with it.
struct ReplacedFile {
  std::string path, shown;     // the file itself
  std::string tmp, tmp_shown;  // where its new content is written
  std::string bak, bak_shown;  // its backup while it is replaced
  std::string run, run_shown;  // the mark kept while the backup is there
  bool tmp_created = false;    // undo removes the work file
  bool existed = false;        // there was a previous file to keep
  bool marked = false;         // the mark is there
  bool backed_up = false;      // the backup is there
  bool committed = false;      // the new file has taken its place
};

// Commits a finished build, or undoes it. The temporary files must be
// complete, synced and closed before commit().
class WorkFiles {
 public:
  WorkFiles(FileSystem& fs, WorkFilePaths paths);
  WorkFiles(const WorkFiles&) = delete;
  WorkFiles& operator=(const WorkFiles&) = delete;
  const WorkFilePaths& paths() const { return paths_; }

  // Records that the temporary files exist, so undo() removes them.
  void created_tmp() { msg_.tmp_created = true; }
  void created_names_tmp() { names_.tmp_created = true; }

  // Throws Failure; the caller then calls undo(). Interrupt requests are held
  // back while it runs; one noted before it starts stops it before anything
  // is replaced (Interrupted).
  void commit();
  // Puts the previous files back and removes the work files. Returns an empty
  // text when everything is as before the run, or what the user must know
  // when it could not be done.
  std::string undo();

 private:
  void sync_dirs();
  void mark(ReplacedFile& file);
  void unmark(ReplacedFile& file);
  void back_up(ReplacedFile& file);
  void put_back(ReplacedFile& file);
  std::string restore_note();
  std::string kept_note();

  FileSystem& fs_;
  WorkFilePaths paths_;
  // The MSG file is replaced last: while its work file is there, the
  // backups hold the state to go back to.
  ReplacedFile msg_, names_;
  ReplacedFile* const both_[2] = {&msg_, &names_};
  bool done_ = false;
  // Partly written backup copies a failed commit could not remove.
  std::vector<std::string> parts_left_;
};

}  // namespace tolvane

#endif  // TOLVANE_MSGFILE_WORK_FILES_H_
