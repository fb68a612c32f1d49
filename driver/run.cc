#include "driver/run.h"

#include <errno.h>

#include <algorithm>
#include <iterator>
#include <tuple>

#include "driver/build.h"
#include "driver/options.h"
#include "msgfile/catalogue.h"
#include "msgfile/records.h"
#include "msgfile/work_files.h"
#include "names/previous_header.h"
#include "platform/interrupt.h"
#include "platform/io_failure.h"
#include "tolvane_version.h"

namespace tolvane {
namespace {

// Shows a failure the way users of the tool know it: a refused command line
// or input on standard output, a file the run cannot handle on standard
// error; the usage text after a command-line failure; and a pause wherever
// the user must act before the next run, unless the run was started by a
// build (-b), which no one is there to answer.
void report(const Failure& failure, Console& console, bool batch) {
  const bool out = failure.kind() == FailureKind::kUsage || failure.kind() == FailureKind::kInput;
  if (out) {
    console.write_out(failure_text(failure));
  } else {
    console.write_err(failure_text(failure));
  }
  if (!failure.note().empty()) console.write_err(failure.note());
  if (failure.kind() == FailureKind::kUsage) console.write_err(usage_text());
  if (failure.kind() != FailureKind::kInput && !batch) {
    console.write_out("press key..");
    console.wait_key();
  }
}

// Opens and checks an existing MSG file before anything is touched: its FILE
// ID first, then its whole layout, since a file whose layout cannot be
// trusted would be carried over damaged. The file stays open for the build.
BaseCatalogue read_existing(FileSystem& fs, const BuildOptions& options) {
  BaseCatalogue base;
  std::optional<Failure> damage;
  try {
    base.file = fs.open(options.msg_typed, OpenMode::kRead);
    damage = read_catalogue(*base.file, options.msg_path, &base.catalogue);
  } catch (const IoError& error) {
    // -c replaces the file: advised only when there is none to lose.
    const std::string next = error.error() == ENOENT ? "use the -c option to create it"
                                                     : reason_line(error.path(), error.reason());
    throw usage_failure(options.msg_path + " doesn't exist or cannot be opened:\n" + next);
  }
  if (base.catalogue.header.file_id != kFileId) {
    throw usage_failure(options.msg_path + " : FILE ID is not valid:\nFILE ID must be 4d53");
  }
  if (damage) throw *damage;
  return base;
}

// Refuses a previous names header that no run wrote nor a person kept in
// step (another catalogue given by mistake, say) before anything is touched:
// the run would append #define lines to it. One that cannot be read is the
// build's to report.
void check_previous_names(FileSystem& fs, const BuildOptions& options) {
  if (fs.kind(options.names_path) != FileKind::kRegular) return;
  std::string problem;
  try {
    problem = names_header_problem(*fs.open(options.names_path, OpenMode::kRead));
  } catch (const IoError&) {
    return;
  }
  if (!problem.empty()) {
    throw input_failure(options.names_path + " is not a names header: " + problem);
  }
}

// Looks at the paths of the run before anything is touched: symlinks are
// followed to the files they lead to (the work files go beside those, and
// the links stay links); a directory, FIFO or device is refused at once,
// never opened (a FIFO would hang the run); and no two roles may be one
// file, whatever the spelling, link or hard link, since a run writes some
// of them and reads the others.
// Returns the run's work file paths, which depend on where the links lead.
WorkFilePaths check_paths(FileSystem& fs, BuildOptions& options) {
  options.msg_typed = fs.follow_links(options.msg_typed);
  options.names_path = fs.follow_links(options.names_path);
  struct Role {
    const char* what;
    std::string path, shown;
  };
  const WorkFilePaths paths = work_file_paths(options.msg_typed, options.names_path);
  const Role roles[] = {
      {"message source", options.source_path, options.source_path},
      {"MSG file", options.msg_typed, options.msg_path},
      {"names header", options.names_path, options.names_path},
      {"MSG file's work file", paths.tmp, paths.tmp_shown},
      {"MSG file's backup", paths.bak, paths.bak_shown},
      {"names header's work file", paths.names_tmp, paths.names_tmp},
      {"names header's backup", paths.names_bak, paths.names_bak},
      {"MSG file's run mark", paths.run, paths.run_shown},
      {"names header's run mark", paths.names_run, paths.names_run},
  };
  // A path the system cannot even look up (a name too long) says so in the
  // system's words, rather than pass for a file of some other kind; the
  // copies a backup may be made through included.
  for (const std::string& path :
       {options.msg_typed, options.names_path, paths.tmp, paths.bak, paths.run, paths.names_tmp,
        paths.names_bak, paths.names_run, paths.bak + ".TMP", paths.names_bak + ".TMP"}) {
    or_fail("Cannot build " + options.msg_path, [&] { fs.check_lookup(path); });
  }
  for (const Role& role : roles) {
    if (&role != &roles[1] && &role != &roles[2]) continue;
    const FileKind kind = fs.kind(role.path);
    if (kind == FileKind::kRegular || kind == FileKind::kMissing) continue;
    if (kind != FileKind::kNoDirectory) {
      throw usage_failure(role.shown + " is " + file_kind_name(kind));
    }
    // A file to be created says which directory is missing when it cannot
    // be; an MSG file to be read says it here rather than advise -c.
    if (&role != &roles[1] || options.create) continue;
    std::string missing = dir_name(role.path);
    while (fs.kind(missing) == FileKind::kNoDirectory) missing = dir_name(missing);
    throw usage_failure(role.shown + " : there is no directory " + missing);
  }
  // A read-only file is not replaced behind the user's back, even where the
  // directory would allow it. One that cannot be read either is reported
  // where it is read, in the system's words.
  auto readable = [&](const std::string& path) {
    try {
      fs.open(path, OpenMode::kRead)->close();
      return true;
    } catch (const IoError&) {
      return false;
    }
  };
  for (const Role& role : {roles[1], roles[2]}) {
    if (fs.read_only(role.path) && readable(role.path)) {
      throw file_failure("Cannot build " + options.msg_path + ": " + role.shown +
                         " is read-only; make it writable and run again");
    }
  }
  // The given files by what they are; the work files by their names alone,
  // since a work file left by an earlier run may be a second name of a file
  // in place, and the run makes its work files afresh. Each source of a
  // list is checked against the others' roles; sources may repeat.
  constexpr size_t kGiven = 3;
  auto name_identity = [&](const std::string& path) {
    FileIdentity name = fs.identity(dir_name(path));
    // In a missing directory only the whole path tells files apart.
    name.name = !name.name.empty()
                    ? path
                    : path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
    return name;
  };
  FileIdentity ids[std::size(roles)], names[std::size(roles)];
  for (size_t i = 0; i < std::size(roles); ++i) {
    ids[i] = fs.identity(roles[i].path);
    names[i] = name_identity(roles[i].path);
    for (size_t j = 0; j < i; ++j) {
      if (i < kGiven ? ids[j] == ids[i] : names[j] == names[i]) {
        throw usage_failure("the " + std::string(roles[j].what) + " " + roles[j].shown +
                            " and the " + roles[i].what + " " + roles[i].shown +
                            " are the same file");
      }
    }
  }
  for (size_t k = 1; k < options.sources.size(); ++k) {
    const std::string& source = options.sources[k];
    const FileIdentity id = fs.identity(source);
    const FileIdentity name = name_identity(source);
    for (size_t i = 1; i < std::size(roles); ++i) {
      if (i < kGiven ? ids[i] == id : names[i] == name) {
        throw usage_failure("the message source " + source + " and the " + roles[i].what + " " +
                            roles[i].shown + " are the same file");
      }
    }
  }
  return paths;
}

// The findings on the sources, on standard error, each source's in line
// order (a build finds some of them on a second reading).
void print_diagnostics(const Diagnostics& diagnostics, Console& console) {
  std::vector<const Diagnostic*> sorted;
  std::vector<std::string> sources;
  for (const Diagnostic& d : diagnostics.all()) {
    sorted.push_back(&d);
    if (std::find(sources.begin(), sources.end(), d.path) == sources.end()) {
      sources.push_back(d.path);
    }
  }
  auto rank = [&](const Diagnostic* d) {
    return std::make_tuple(std::find(sources.begin(), sources.end(), d->path) - sources.begin(),
                           d->line, d->column);
  };
  std::stable_sort(sorted.begin(), sorted.end(),
                   [&](const Diagnostic* a, const Diagnostic* b) { return rank(a) < rank(b); });
  std::string text;
  for (const Diagnostic* d : sorted) text += format_diagnostic(*d);
  if (!text.empty()) console.write_err(text);
}

}  // namespace

std::string reason_line(const std::string& path, const std::string& reason) {
  return path.empty() ? reason : path + ": " + reason;
}

std::string failure_text(const Failure& failure) {
  if (failure.message().empty()) return "";
  switch (failure.kind()) {
    case FailureKind::kUsage:
    case FailureKind::kInput:
      return (failure.self_contained() ? "" : "Error : ") + failure.message() + "\n";
    case FailureKind::kFile:
      return failure.message() + "\n";
    case FailureKind::kIo:
      return failure.message() + "\n" + reason_line(failure.path(), failure.reason()) + "\n";
  }
  return failure.message() + "\n";
}

int run_tolvane(const std::vector<std::string>& args, FileSystem& fs, Console& console) {
  console.write_out(std::string("Tolvane v") + kVersion + "\n");
  // Asked for, these are answers rather than mistakes: no pause, exit 0.
  // No file name starts with "--" where the tool takes one.
  if (std::find(args.begin(), args.end(), "--help") != args.end()) {
    console.write_out(usage_text());
    return 0;
  }
  if (std::find(args.begin(), args.end(), "--version") != args.end()) return 0;
  const bool batch = wants_batch(args);
  BuildOptions options;
  // Held from before the files are first read until they are committed or
  // undone, and dropped before any pause, so that a run waiting for a key
  // never keeps another one waiting.
  std::unique_ptr<FileLock> lock;
  Diagnostics diagnostics;
  std::vector<std::string> warnings;
  try {
    options = parse_command_line(args, fs);
    const WorkFilePaths paths = check_paths(fs, options);
    lock = fs.lock_files({options.msg_typed, options.names_path}, [&](const std::string& path) {
      const std::string& shown = path == options.msg_typed ? options.msg_path : path;
      console.write_err("Waiting for another run to finish with " + shown + "\n");
    });
    if (auto stale = find_stale_backup(fs, paths)) throw *stale;
    BaseCatalogue base;
    if (options.create) {
      set_chars(base.catalogue.header.name, kNameWidth, options.msg_path);
    } else {
      base = read_existing(fs, options);
    }
    check_previous_names(fs, options);
    for (const std::string& source : options.sources) console.write_out("  read " + source + "\n");
    console.write_out("  build " + options.msg_path + "\n");
    warnings = build(fs, options, paths, std::move(base), diagnostics);
  } catch (const Failure& failure) {
    lock.reset();
    print_diagnostics(diagnostics, console);
    report(failure, console, batch);
    return 1;
  } catch (const Interrupted& interrupted) {
    lock.reset();
    print_diagnostics(diagnostics, console);
    if (interrupted.note().empty()) {
      console.write_err("Interrupted: " + options.msg_path + " and " + options.names_path +
                        " are as they were\n");
    } else {
      console.write_err("Interrupted\n" + interrupted.note());
    }
    return 1;
  }
  lock.reset();
  print_diagnostics(diagnostics, console);
  // Said once the tables they are about are in place.
  for (const std::string& warning : warnings) console.write_err(warning + "\n");
  if (interrupt_signal() != 0) {
    // The request came while the new files were replacing the previous
    // ones, and was held back until they had.
    console.write_err("Interrupted after the build had completed: the new " + options.msg_path +
                      " and " + options.names_path + " stand\n");
    return 0;
  }
  console.write_out(".. end\n");
  return 0;
}

}  // namespace tolvane
