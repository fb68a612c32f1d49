#include "transaction/work_files.h"

#include <errno.h>

#include <algorithm>
#include <cctype>

#include "platform/file_io.h"
#include "platform/interrupt.h"
#include "platform/io_failure.h"

namespace tolvane {
namespace {

// A path as a shell word, safe to paste whatever it holds.
std::string quoted(const std::string& path) {
  std::string word = "'";
  for (char c : path) {
    if (c == '\'') {
      word += "'\\''";
    } else {
      word += c;
    }
  }
  return word + "'";
}

bool empty_or_missing(FileSystem& fs, const std::string& path) {
  if (!fs.exists(path)) return true;
  try {
    return fs.open(path, OpenMode::kRead)->size() == 0;
  } catch (const IoError&) {
    return false;
  }
}

// A mark's first line says what it is; the second names the backup it
// covers, which is beside it.
constexpr char kMarkLine[] = "Tolvane run mark: the backup named below was made by a run\n";

// Whether `run` is the mark a run left for the backup `bak`. Only that tells
// a run's backup from a user's copy: both hold the previous file byte for byte.
bool is_mark(FileSystem& fs, const std::string& run, const std::string& bak) {
  if (fs.kind(run) != FileKind::kRegular) return false;
  const std::string want = run_mark_text(bak);
  try {
    auto file = fs.open(run, OpenMode::kRead);
    if (file->size() != want.size()) return false;
    std::string got(want.size(), '\0');
    return file->read_at(0, got.data(), got.size()) == got.size() && got == want;
  } catch (const IoError&) {
    return false;
  }
}

void copy_file(FileSystem& fs, const std::string& from, const std::string& to) {
  auto source = fs.open(from, OpenMode::kRead);
  auto target = fs.open(to, OpenMode::kCreate);
  copy_range(*source, 0, *target, 0, source->size());
  target->sync();
  target->close();
  source->close();
}

}  // namespace

std::string run_mark_text(const std::string& bak) {
  const size_t slash = bak.rfind('/');
  return kMarkLine + bak.substr(slash == std::string::npos ? 0 : slash + 1) + "\n";
}

WorkFilePaths work_file_paths(const std::string& msg_path, const std::string& msg_shown,
                              const std::string& names_path) {
  const size_t slash = msg_path.find_last_of(kPathSeparators);
  const size_t dot = msg_path.rfind('.');
  const size_t base = dot != std::string::npos && (slash == std::string::npos || dot > slash)
                          ? dot
                          : msg_path.size();
  WorkFilePaths paths;
  ReplacedPaths& msg = paths.msg;
  msg.path = msg_path;
  msg.shown = msg_shown;
  msg.tmp = msg_path.substr(0, base) + ".TMP";
  msg.bak = msg_path.substr(0, base) + ".BAK";
  msg.run = msg_path.substr(0, base) + ".RUN";
  msg.tmp_shown = msg_shown.substr(0, base) + ".TMP";
  msg.bak_shown = msg_shown.substr(0, base) + ".BAK";
  msg.run_shown = msg_shown.substr(0, base) + ".RUN";
  // The names header's messages show the paths as typed.
  ReplacedPaths& names = paths.names;
  names.path = names.shown = names_path;
  names.tmp = names.tmp_shown = names_path + ".TMP";
  names.bak = names.bak_shown = names_path + ".BAK";
  names.run = names.run_shown = names_path + ".RUN";
  return paths;
}

namespace {

// A backup of a run and the file it keeps.
struct Backup {
  const std::string& path;
  const std::string& original;
  const std::string& run;
  bool marked = false;
};

// The failure asking to move a file the run did not make that holds the
// name of a backup or mark, or nothing; notes which backups are marked.
std::optional<Failure> users_file_in_the_way(FileSystem& fs, const WorkFilePaths& paths,
                                             Backup (&backups)[2]) {
  for (Backup& backup : backups) {
    // A file the run did not make is never written, removed or advised
    // away: it may be the only copy of something. It is only asked to move.
    backup.marked = is_mark(fs, backup.run, backup.path);
    const FileKind run_kind = fs.kind(backup.run);
    // An empty one is a mark a run was cut before writing: it holds nothing
    // and vouches for nothing.
    const bool nothing = run_kind == FileKind::kMissing || run_kind == FileKind::kNoDirectory ||
                         (run_kind == FileKind::kRegular && empty_or_missing(fs, backup.run));
    if (!backup.marked && !nothing) {
      return file_failure(
          "Cannot build " + paths.msg.shown + ": " + backup.run +
          " was not made by a run and is in the way of the run's mark of the same name; "
          "move or rename it and run again");
    }
    if (fs.exists(backup.path) && !backup.marked) {
      return file_failure("Cannot build " + paths.msg.shown + ": " + backup.path +
                          " was not made by a run and is in the way of the run's backup of " +
                          backup.original + "; move or rename it and run again");
    }
  }
  return std::nullopt;
}

// The advice for what an interrupted run left, or nothing when it left no
// backup. `replaced`: the MSG file had been replaced.
std::optional<Failure> leftover_advice(FileSystem& fs, const WorkFilePaths& paths,
                                       const Backup (&backups)[2], bool replaced) {
  // One piece of advice for everything the interrupted run left, so that
  // following it once is enough: each backup put back or removed, then the
  // marks (which vouch for the backups until they are gone), then the work
  // files (whose presence says the backups are to be put back).
  // What each backup is, in a sentence of its own and in a list of two.
  std::vector<std::string> left, alone, why, moves, removals;
  for (const Backup& backup : backups) {
    if (!fs.exists(backup.path)) continue;
    left.push_back(backup.path);
    // A backup whose file is gone (or, for the catalogue, empty) was not
    // left by a run of ours that completed: it is the only copy there is.
    const bool only_copy = !fs.exists(backup.original) || (&backup.original == &paths.msg.path &&
                                                           empty_or_missing(fs, paths.msg.path));
    if (!replaced && fs.same_file(backup.path, backup.original)) {
      // Cut between taking the backup and replacing the file: the backup is
      // a second name of the file still in place, so restoring it by a
      // rename would change nothing (and mv refuses to) while removing it
      // loses nothing.
      why.push_back("is a second name of the previous " + backup.original +
                    ", which is still in place");
      alone.push_back("and " + why.back());
      removals.push_back(quoted(backup.path));
    } else if (replaced && !only_copy) {
      alone.push_back("that had already written the new " + paths.msg.path + " and " +
                      paths.names.path);
      why.push_back("is no longer needed");
      removals.push_back(quoted(backup.path));
    } else {
      why.push_back("holds the only copy of the previous " + backup.original);
      alone.push_back("and " + why.back());
      moves.push_back("mv " + quoted(backup.path) + " " + quoted(backup.original));
    }
  }
  if (left.empty()) return std::nullopt;
  for (const Backup& backup : backups) {
    if (backup.marked) removals.push_back(quoted(backup.run));
  }
  for (const std::string& work :
       {paths.msg.tmp, paths.names.tmp, paths.msg.bak + ".TMP", paths.names.bak + ".TMP"}) {
    if (fs.kind(work) == FileKind::kRegular) removals.push_back(quoted(work));
  }
  std::string command;
  for (const std::string& move : moves) command += move + " && ";
  command += "rm";
  for (const std::string& removal : removals) command += " " + removal;

  std::string what = left[0] + " is left by an interrupted run " + alone[0];
  if (left.size() == 2) what += ", and " + left[1] + " " + why[1];
  what += std::string("; ") + (moves.empty() ? "remove" : "restore") +
          (left.size() == 1 ? " it" : " them") + " with: ";
  return file_failure("Cannot build " + paths.msg.shown + ": " + what + command + " and run again");
}

}  // namespace

std::optional<Failure> find_stale_backup(FileSystem& fs, const WorkFilePaths& paths) {
  // The MSG file is replaced last: while its temporary file is there, the
  // backups hold the state to go back to; once it is gone, the new files are
  // complete and the backups are no longer needed.
  const bool replaced = !fs.exists(paths.msg.tmp);
  Backup backups[] = {Backup{paths.msg.bak, paths.msg.path, paths.msg.run},
                      Backup{paths.names.bak, paths.names.path, paths.names.run}};
  if (auto failure = users_file_in_the_way(fs, paths, backups)) return failure;
  return leftover_advice(fs, paths, backups, replaced);
}

void make_backup(FileSystem& fs, const std::string& from, const std::string& to) {
  try {
    fs.link(from, to);
    return;
  } catch (const IoError& e) {
    if (e.error() == EEXIST) throw;
  }
  // No link possible (another file system, or one without links): a copy
  // that only takes the backup's name once it is complete on disk.
  const std::string part = to + ".TMP";
  try {
    copy_file(fs, from, part);
    fs.rename_no_replace(part, to);
  } catch (const IoError&) {
    try {
      fs.remove(part);
    } catch (const IoError&) {
    }
    throw;
  }
}

void restore_backup(FileSystem& fs, const std::string& backup, const std::string& original) {
  try {
    fs.rename(backup, original);
    return;
  } catch (const IoError& e) {
    if (e.error() != EXDEV) throw;
  }
  const std::string part = original + ".TMP";
  copy_file(fs, backup, part);
  fs.rename(part, original);
  fs.remove(backup);
}

WorkFiles::WorkFiles(FileSystem& fs, const WorkFilePaths& paths) : fs_(fs) {
  static_cast<ReplacedPaths&>(msg_) = paths.msg;
  static_cast<ReplacedPaths&>(names_) = paths.names;
}

void WorkFiles::sync_dirs() {
  // Each directory once: on a journalling file system every directory sync
  // can cost a journal commit, and the files usually share one.
  const std::string msg_dir = dir_name(msg_.path), names_dir = dir_name(names_.path);
  fs_.sync_dir(msg_dir);
  if (names_dir != msg_dir) fs_.sync_dir(names_dir);
}

void WorkFiles::mark(ReplacedFile& file) {
  const std::string text = run_mark_text(file.bak);
  or_fail("Cannot create " + file.run_shown, [&] {
    // Any file of this name is a mark of an earlier run: the run was
    // refused before the commit otherwise.
    auto out = fs_.open(file.run, OpenMode::kCreate);
    file.marked = true;
    out->write_at(0, text.data(), text.size());
    out->sync();
    out->close();
  });
}

void WorkFiles::unmark(ReplacedFile& file) {
  if (!file.marked || file.backed_up) return;
  fs_.remove(file.run);
  file.marked = false;
}

void WorkFiles::back_up(ReplacedFile& file) {
  try {
    make_backup(fs_, file.path, file.bak);
  } catch (const IoError& error) {
    // A copy that could not be finished nor removed must still be named.
    if (fs_.exists(file.bak + ".TMP")) parts_left_.push_back(file.bak + ".TMP");
    throw io_failure("Cannot create " + file.bak_shown, error);
  }
  file.backed_up = true;
}

std::string WorkFiles::restore_note() {
  std::string note = "The previous files could not all be put back; restore them with:";
  // A file that did not exist before the run is put back by removing it; a
  // backup of a file that was not replaced holds what is still in place (a
  // second name of it, which mv would refuse to move onto itself).
  for (const ReplacedFile* file : both_) {
    if (file->backed_up && file->committed) {
      note += " mv " + quoted(file->bak) + " " + quoted(file->path) + ";";
    } else if (file->backed_up) {
      note += " rm " + quoted(file->bak) + ";";
    } else if (file->committed) {
      note += " rm " + quoted(file->path) + ";";
    }
  }
  // A mark only once its backup is dealt with.
  for (const ReplacedFile* file : both_) {
    if (file->marked) note += " rm " + quoted(file->run) + ";";
  }
  // The work files last: while <base>.TMP is there, the next run knows that
  // the backups hold the state to go back to.
  std::vector<std::string> work = {msg_.tmp, names_.tmp};
  work.insert(work.end(), parts_left_.begin(), parts_left_.end());
  for (size_t i = 0; i < work.size(); ++i) {
    if (std::find(work.begin(), work.begin() + i, work[i]) == work.begin() + i &&
        fs_.exists(work[i])) {
      note += " rm " + quoted(work[i]) + ";";
    }
  }
  note.back() = '\n';
  return note;
}

std::string WorkFiles::kept_note() {
  std::string kept, marks;
  for (const ReplacedFile* file : both_) {
    if (file->backed_up) kept += (kept.empty() ? "" : " and ") + file->bak;
    if (file->marked) marks += (marks.empty() ? "" : " and ") + file->run;
  }
  return "The new " + msg_.path + " and " + names_.path +
         " are complete but the previous ones could not be put back; they are kept in " + kept +
         (marks.empty() ? "" : ", marked by " + marks) + "\n";
}

void WorkFiles::back_up_both() {
  for (ReplacedFile* file : both_) file->existed = fs_.exists(file->path);
  // The new files take the place of the previous ones, permissions included.
  for (ReplacedFile* file : both_) {
    if (file->existed) {
      or_fail("Cannot write " + file->tmp_shown, [&] { fs_.copy_mode(file->path, file->tmp); });
    }
  }
  // Each mark is on disk before its backup exists, so that a backup found
  // after a crash is known for a run's.
  for (ReplacedFile* file : both_) {
    if (file->existed) mark(*file);
  }
  if (msg_.marked || names_.marked) {
    or_fail("Cannot create " + (msg_.marked ? msg_.run_shown : names_.run_shown),
            [&] { sync_dirs(); });
  }
  for (ReplacedFile* file : both_) {
    if (file->existed) back_up(*file);
  }
  // A directory with no backup in it has nothing to make durable yet.
  if (msg_.existed || names_.existed) {
    or_fail("Cannot write " + msg_.bak_shown, [&] { sync_dirs(); });
  }
}

void WorkFiles::replace_both() {
  // The names header first, the MSG file last: see the top of work_files.h.
  for (ReplacedFile* file : {&names_, &msg_}) {
    or_fail("Cannot create " + file->shown, [&] { fs_.rename(file->tmp, file->path); });
    file->committed = true;
    file->tmp_created = false;
  }
  or_fail("Cannot write " + msg_.shown, [&] { sync_dirs(); });
}

void WorkFiles::remove_backups() {
  // While the names backup is there the run can still be undone; once it is
  // gone, only the MSG backup is left to remove.
  if (names_.backed_up) {
    or_fail("Cannot remove " + names_.bak_shown, [&] { fs_.remove(names_.bak); });
    names_.backed_up = false;
  }
  if (!msg_.backed_up) return;
  try {
    fs_.remove(msg_.bak);
  } catch (const IoError& error) {
    done_ = true;
    // The names header's mark has no backup left to vouch for.
    try {
      unmark(names_);
    } catch (const IoError&) {
    }
    throw io_failure(
        "Cannot remove " + msg_.bak_shown + ": the new " + msg_.path + " and " + names_.path +
            " are complete; remove " + quoted(msg_.bak) + " and its mark " + quoted(msg_.run) +
            (names_.marked ? " and " + quoted(names_.run) : "") + " before the next run",
        error);
  }
  msg_.backed_up = false;
}

void WorkFiles::remove_marks() {
  // One left behind would vouch for a copy a user might later make under
  // the backup's name, so it is named.
  std::string marks_left, first_shown;
  std::optional<IoError> first_error;
  for (ReplacedFile* file : both_) {
    try {
      unmark(*file);
    } catch (const IoError& error) {
      if (marks_left.empty()) first_shown = file->run_shown, first_error = error;
      marks_left += " " + quoted(file->run);
    }
  }
  if (!marks_left.empty()) {
    throw io_failure("Cannot remove " + first_shown + ": the new " + msg_.path + " and " +
                         names_.path + " are complete; remove" + marks_left +
                         " before the next run",
                     *first_error);
  }
}

void WorkFiles::commit() {
  InterruptHold hold;
  stop_if_interrupted();
  back_up_both();
  replace_both();
  // Both files are new now.
  remove_backups();
  done_ = true;
  // The marks once no backup is left.
  remove_marks();
  // Nothing was removed when nothing was there before the run.
  if (!msg_.existed && !names_.existed) return;
  try {
    sync_dirs();
  } catch (const IoError&) {
    // The files are complete; a backup that comes back after a power cut is
    // recognised as stale by the next run.
  }
}

void WorkFiles::put_back(ReplacedFile& file) {
  if (!file.committed) return;
  if (file.backed_up) {
    restore_backup(fs_, file.bak, file.path);
    file.backed_up = false;
  } else {
    fs_.remove(file.path);
  }
  file.committed = false;
}

std::string WorkFiles::undo() {
  if (done_) return "";
  try {
    if (msg_.committed && (msg_.backed_up || names_.backed_up)) {
      // Bring the temporary file's name back first: it tells a later run that
      // the backups, not the files in place, hold the state to keep. With no
      // backup there is no such state, and the new files need only go.
      try {
        fs_.link(msg_.path, msg_.tmp);
      } catch (const IoError&) {
        // Where no link can be made, an empty file says the same: only
        // its name counts.
        try {
          fs_.open(msg_.tmp, OpenMode::kCreate)->close();
        } catch (const IoError&) {
          return kept_note();
        }
      }
      msg_.tmp_created = true;
    }
    put_back(msg_);
    put_back(names_);
    // The files in place are the previous ones again; the backups are just
    // second names of them now.
    for (ReplacedFile* file : both_) {
      if (file->backed_up) {
        fs_.remove(file->bak);
        file->backed_up = false;
      }
    }
    // The marks last: until the backups are gone they say whose they are.
    for (ReplacedFile* file : both_) unmark(*file);
  } catch (const IoError&) {
    return restore_note();
  }
  std::vector<std::string> work;
  for (const ReplacedFile* file : both_) {
    if (file->tmp_created) work.push_back(file->tmp);
  }
  work.insert(work.end(), parts_left_.begin(), parts_left_.end());
  std::string leftovers;
  for (const std::string& path : work) {
    try {
      fs_.remove(path);
    } catch (const IoError&) {
      leftovers += " " + path;
    }
  }
  if (!leftovers.empty()) {
    return "The previous files are in place; these work files could not be removed:" + leftovers +
           "\n";
  }
  return "";
}

}  // namespace tolvane
