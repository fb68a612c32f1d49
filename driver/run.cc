#include "driver/run.h"

#include "driver/build.h"
#include "driver/options.h"
#include "msgfile/catalogue.h"
#include "msgfile/records.h"
#include "msgfile/work_files.h"
#include "platform/failure.h"
#include "platform/interrupt.h"

namespace tolvane {
namespace {

void report(const Failure& failure, Console& console) {
  if (failure.channel() == Channel::kOut) {
    console.Out(failure.message());
  } else {
    console.Err(failure.message());
  }
  if (!failure.note().empty()) console.Err(failure.note());
  if (failure.usage()) console.Err(usage_text());
  if (failure.pause()) {
    console.Out("press key..");
    console.WaitKey();
  }
}

// Checks an existing MSG file before anything is touched and fills `header`
// with its values.
void check_existing(FileSystem& fs, const BuildOptions& options, MsgFileHeader* header) {
  switch (check_msg_file(fs, options.msg_typed, header)) {
    case -1:
      throw UsageFailure("Error : " + options.msg_path +
                         " doesn't exist or cannot be opened:\nuse the -c option to create it\n");
    case -2:
      throw UsageFailure("Error : " + options.msg_path +
                         " : FILE ID is not valid:\nFILE ID must be 4d53\n");
  }
  // A file whose layout cannot be trusted would be carried over damaged.
  std::optional<std::string> damage;
  try {
    auto file = fs.Open(options.msg_typed, OpenMode::kRead);
    Catalogue catalogue;
    damage = read_catalogue(*file, &catalogue);
    file->Close();
  } catch (const IoError&) {
    throw UsageFailure("Error : " + options.msg_path +
                       " doesn't exist or cannot be opened:\nuse the -c option to create it\n");
  }
  if (damage) throw InputFailure("Error : " + options.msg_path + " : " + *damage + "\n");
}

}  // namespace

int run_tolvane(const std::vector<std::string>& args, FileSystem& fs, Console& console) {
  console.Out(std::string("Tolvane v") + kVersion + "\n");
  MsgFileHeader header;
  BuildOptions options;
  // Held from before the files are first read until they are committed or
  // undone, and dropped before any pause, so that a run waiting for a key
  // never keeps another one waiting.
  std::unique_ptr<FileLock> lock;
  try {
    options = parse_command_line(args, fs);
    lock = fs.LockFiles({options.msg_typed, options.names_path}, [&](const std::string& path) {
      const std::string& shown = path == options.msg_typed ? options.msg_path : path;
      console.Err("Waiting for another run to finish with " + shown + "\n");
    });
    if (auto stale =
            stale_backup_message(fs, work_file_paths(options.msg_typed, options.names_path))) {
      throw FileFailure(*stale);
    }
    if (options.create) {
      set_chars(header.name, kNameWidth, options.msg_path);
    } else {
      check_existing(fs, options, &header);
    }
    console.Out("  read " + options.source_path + "\n");
    console.Out("  build " + options.msg_path + "\n");
    build(fs, options, header);
  } catch (const Failure& failure) {
    lock.reset();
    report(failure, console);
    return 1;
  } catch (const Interrupted& interrupted) {
    lock.reset();
    if (interrupted.note().empty()) {
      console.Err("Interrupted: " + options.msg_path + " and " + options.names_path +
                  " are as they were\n");
    } else {
      console.Err("Interrupted\n" + interrupted.note());
    }
    return 1;
  }
  lock.reset();
  if (InterruptSignal() != 0) {
    // The request came while the new files were replacing the previous
    // ones, and was held back until they had.
    console.Err("Interrupted after the build had completed: the new " + options.msg_path + " and " +
                options.names_path + " stand\n");
    return 0;
  }
  console.Out(".. end\n");
  return 0;
}

}  // namespace tolvane
