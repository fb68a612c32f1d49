#include "msgfile/work_files.h"

#include <errno.h>

#include <algorithm>
#include <cctype>
#include <iterator>

#include "platform/failure.h"
#include "platform/file_io.h"

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
  if (!fs.Exists(path)) return true;
  try {
    return fs.Open(path, OpenMode::kRead)->Size() == 0;
  } catch (const IoError&) {
    return false;
  }
}

void copy_file(FileSystem& fs, const std::string& from, const std::string& to) {
  auto source = fs.Open(from, OpenMode::kRead);
  auto target = fs.Open(to, OpenMode::kCreate);
  CopyRange(*source, 0, *target, 0, source->Size());
  target->Sync();
  target->Close();
  source->Close();
}

}  // namespace

std::string shown_path(std::string path) {
  for (char& c : path) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return path;
}

WorkFilePaths work_file_paths(const std::string& msg_typed, const std::string& names_path) {
  WorkFilePaths paths;
  paths.msg = msg_typed;
  paths.msg_shown = shown_path(msg_typed);
  size_t slash = msg_typed.find_last_of(kPathSeparators);
  size_t dot = msg_typed.rfind('.');
  std::string base = msg_typed;
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
    base = msg_typed.substr(0, dot);
  }
  paths.tmp = base + ".TMP";
  paths.bak = base + ".BAK";
  paths.tmp_shown = shown_path(base) + ".TMP";
  paths.bak_shown = shown_path(base) + ".BAK";
  paths.names = names_path;
  paths.names_tmp = names_path + ".TMP";
  return paths;
}

std::optional<std::string> stale_backup_message(FileSystem& fs, const WorkFilePaths& paths) {
  // The MSG file is replaced last: while its temporary file is there, the
  // backups hold the state to go back to; once it is gone, the new files are
  // complete and the backups are no longer needed.
  const bool replaced = !fs.Exists(paths.tmp);
  struct Backup {
    const std::string& path;
    const std::string& original;
  };
  for (const Backup& backup :
       {Backup{paths.bak, paths.msg}, Backup{paths.names_bak, paths.names}}) {
    if (!fs.Exists(backup.path)) continue;
    if (!replaced && fs.SameFile(backup.path, backup.original)) {
      // Cut between taking the backup and replacing the file: the backup is
      // a second name of the file still in place, so restoring it by a
      // rename would change nothing (and mv refuses to) while removing it
      // loses nothing.
      return "Cannot build " + paths.msg_shown + ": " + backup.path +
             " is left by an interrupted run and is a second name of the previous " +
             backup.original + ", which is still in place; remove it with: rm " +
             quoted(backup.path) + " and run again\n";
    }
    // A backup whose file is gone (or, for the catalogue, empty) was not
    // left by a run of ours that completed: it is the only copy there is.
    auto only_copy = [&] {
      return !fs.Exists(backup.original) ||
             (&backup.original == &paths.msg && empty_or_missing(fs, paths.msg));
    };
    if (replaced && !only_copy()) {
      return "Cannot build " + paths.msg_shown + ": " + backup.path +
             " is left by an interrupted run that had already written the new " + paths.msg +
             " and " + paths.names + "; remove it with: rm " + quoted(backup.path) +
             " and run again\n";
    }
    return "Cannot build " + paths.msg_shown + ": " + backup.path +
           " is left by an interrupted run and holds the only copy of the previous " +
           backup.original + "; restore it with: mv " + quoted(backup.path) + " " +
           quoted(backup.original) + " and run again\n";
  }
  return std::nullopt;
}

void make_backup(FileSystem& fs, const std::string& from, const std::string& to) {
  try {
    fs.Link(from, to);
    return;
  } catch (const IoError& e) {
    if (e.error() == EEXIST) throw;
  }
  // No link possible (another file system, or one without links): a copy
  // that only takes the backup's name once it is complete on disk.
  const std::string part = to + ".TMP";
  try {
    copy_file(fs, from, part);
    fs.RenameNoReplace(part, to);
  } catch (const IoError&) {
    try {
      fs.Remove(part);
    } catch (const IoError&) {
    }
    throw;
  }
}

void restore_backup(FileSystem& fs, const std::string& backup, const std::string& original) {
  try {
    fs.Rename(backup, original);
    return;
  } catch (const IoError& e) {
    if (e.error() != EXDEV) throw;
  }
  const std::string part = original + ".TMP";
  copy_file(fs, backup, part);
  fs.Rename(part, original);
  fs.Remove(backup);
}

void WorkFiles::sync_dirs() {
  // Each directory once: on a journalling file system every directory sync
  // can cost a journal commit, and the three files usually share one.
  const std::string dirs[] = {DirName(paths_.msg), DirName(paths_.names),
                              DirName(paths_.names_bak)};
  for (size_t i = 0; i < std::size(dirs); ++i) {
    if (std::find(dirs, dirs + i, dirs[i]) == dirs + i) fs_.SyncDir(dirs[i]);
  }
}

void WorkFiles::back_up(const std::string& from, const std::string& to,
                        const std::string& failure) {
  try {
    make_backup(fs_, from, to);
  } catch (const IoError&) {
    // A copy that could not be finished nor removed must still be named.
    if (fs_.Exists(to + ".TMP")) parts_left_.push_back(to + ".TMP");
    throw FileFailure(failure + "\n");
  }
}

std::string WorkFiles::restore_note() {
  std::string note = "The previous files could not all be put back; restore them with:";
  // A file that did not exist before the run is put back by removing it; a
  // backup of a file that was not replaced holds what is still in place (a
  // second name of it, which mv would refuse to move onto itself).
  auto put_back = [&](bool backed_up, bool committed, const std::string& backup,
                      const std::string& original) {
    if (backed_up && committed) {
      note += " mv " + quoted(backup) + " " + quoted(original) + ";";
    } else if (backed_up) {
      note += " rm " + quoted(backup) + ";";
    } else if (committed) {
      note += " rm " + quoted(original) + ";";
    }
  };
  put_back(msg_backed_up_, msg_committed_, paths_.bak, paths_.msg);
  put_back(names_backed_up_, names_committed_, paths_.names_bak, paths_.names);
  // The work files last: while <base>.TMP is there, the next run knows that
  // the backups hold the state to go back to.
  std::vector<std::string> work = {paths_.tmp, paths_.names_tmp};
  work.insert(work.end(), parts_left_.begin(), parts_left_.end());
  for (size_t i = 0; i < work.size(); ++i) {
    bool seen = false;
    for (size_t j = 0; j < i; ++j) seen = seen || work[j] == work[i];
    if (!seen && fs_.Exists(work[i])) note += " rm " + quoted(work[i]) + ";";
  }
  note.back() = '\n';
  return note;
}

std::string WorkFiles::kept_note() {
  std::string kept;
  if (msg_backed_up_) kept = paths_.bak;
  if (names_backed_up_) kept += (kept.empty() ? "" : " and ") + paths_.names_bak;
  return "The new " + paths_.msg + " and " + paths_.names +
         " are complete but the previous ones could not be put back; they are kept in " + kept +
         "\n";
}

void WorkFiles::commit() {
  msg_existed_ = fs_.Exists(paths_.msg);
  names_existed_ = fs_.Exists(paths_.names);
  // The new files take the place of the previous ones, permissions included.
  if (msg_existed_) {
    or_fail("Cannot write " + paths_.tmp_shown, [&] { fs_.CopyMode(paths_.msg, paths_.tmp); });
  }
  if (names_existed_) {
    or_fail("Cannot write " + paths_.names, [&] { fs_.CopyMode(paths_.names, paths_.names_tmp); });
  }
  if (msg_existed_) {
    back_up(paths_.msg, paths_.bak, "Cannot create " + paths_.bak_shown);
    msg_backed_up_ = true;
  }
  if (names_existed_) {
    back_up(paths_.names, paths_.names_bak, "Cannot create " + paths_.names_bak);
    names_backed_up_ = true;
  }
  or_fail("Cannot write " + paths_.bak_shown, [&] { sync_dirs(); });

  or_fail("Cannot create " + paths_.names, [&] { fs_.Rename(paths_.names_tmp, paths_.names); });
  names_committed_ = true;
  names_tmp_created_ = false;
  or_fail("Cannot create " + paths_.msg_shown, [&] { fs_.Rename(paths_.tmp, paths_.msg); });
  msg_committed_ = true;
  tmp_created_ = false;
  or_fail("Cannot write " + paths_.msg_shown, [&] { sync_dirs(); });

  // Both files are new now. While the names backup is there the run can
  // still be undone; once it is gone, only the MSG backup is left to remove.
  if (names_backed_up_) {
    or_fail("Cannot remove " + paths_.names_bak, [&] { fs_.Remove(paths_.names_bak); });
    names_backed_up_ = false;
  }
  if (msg_backed_up_) {
    try {
      fs_.Remove(paths_.bak);
    } catch (const IoError&) {
      done_ = true;
      throw FileFailure("Cannot remove " + paths_.bak_shown + ": the new " + paths_.msg + " and " +
                        paths_.names + " are complete; remove " + quoted(paths_.bak) +
                        " before the next run\n");
    }
    msg_backed_up_ = false;
  }
  done_ = true;
  try {
    sync_dirs();
  } catch (const IoError&) {
    // The files are complete; a backup that comes back after a power cut is
    // recognised as stale by the next run.
  }
}

std::string WorkFiles::undo() {
  if (done_) return "";
  try {
    if (msg_committed_) {
      // Bring the temporary file's name back first: it tells a later run that
      // the backups, not the files in place, hold the state to keep. With no
      // backup there is no such state, and the new files need only go.
      if (msg_backed_up_ || names_backed_up_) {
        try {
          fs_.Link(paths_.msg, paths_.tmp);
        } catch (const IoError&) {
          // Where no link can be made, an empty file says the same: only
          // its name counts.
          try {
            fs_.Open(paths_.tmp, OpenMode::kCreate)->Close();
          } catch (const IoError&) {
            return kept_note();
          }
        }
        tmp_created_ = true;
      }
      if (msg_backed_up_) {
        restore_backup(fs_, paths_.bak, paths_.msg);
        msg_backed_up_ = false;
      } else {
        fs_.Remove(paths_.msg);
      }
      msg_committed_ = false;
    }
    if (names_committed_) {
      if (names_backed_up_) {
        restore_backup(fs_, paths_.names_bak, paths_.names);
        names_backed_up_ = false;
      } else {
        fs_.Remove(paths_.names);
      }
      names_committed_ = false;
    }
    // The files in place are the previous ones again; the backups are just
    // second names of them now.
    if (msg_backed_up_) {
      fs_.Remove(paths_.bak);
      msg_backed_up_ = false;
    }
    if (names_backed_up_) {
      fs_.Remove(paths_.names_bak);
      names_backed_up_ = false;
    }
  } catch (const IoError&) {
    return restore_note();
  }
  std::string leftovers;
  if (tmp_created_) {
    try {
      fs_.Remove(paths_.tmp);
    } catch (const IoError&) {
      leftovers += " " + paths_.tmp;
    }
  }
  if (names_tmp_created_) {
    try {
      fs_.Remove(paths_.names_tmp);
    } catch (const IoError&) {
      leftovers += " " + paths_.names_tmp;
    }
  }
  for (const std::string& part : parts_left_) {
    try {
      fs_.Remove(part);
    } catch (const IoError&) {
      leftovers += " " + part;
    }
  }
  if (!leftovers.empty()) {
    return "The previous files are in place; these work files could not be removed:" + leftovers +
           "\n";
  }
  return "";
}

}  // namespace tolvane
