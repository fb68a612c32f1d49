#include "translate/output_file.h"

#include <memory>

#include "platform/io_failure.h"

namespace tolvane::translate {

void check_output(FileSystem& fs, const std::string& path, const std::vector<std::string>& inputs) {
  const FileKind kind = fs.kind(path);
  if (kind == FileKind::kDirectory) throw file_failure(path + " is a directory");
  if (kind == FileKind::kNoDirectory) {
    throw file_failure("cannot write " + path + ": its directory " + dir_name(path) +
                       " does not exist");
  }
  const FileIdentity output = fs.identity(path);
  for (const std::string& input : inputs) {
    if (input.empty()) continue;
    if (fs.identity(input) == output || fs.same_file(input, path)) {
      throw usage_failure("the output " + path + " is the input " + input +
                          "; write to another file");
    }
  }
}

void write_output(FileSystem& fs, const std::string& path, std::string_view bytes) {
  const std::string target = fs.follow_links(path);
  const std::string temporary = target + ".tolvane-tmp";
  try {
    std::unique_ptr<File> file = fs.open(temporary, OpenMode::kCreate);
    file->write_at(0, bytes.data(), bytes.size());
    file->sync();
    file->close();
    if (fs.exists(target)) fs.copy_mode(target, temporary);
    fs.rename(temporary, target);
    fs.sync_dir(dir_name(target));
  } catch (const IoError& error) {
    try {
      if (fs.exists(temporary)) fs.remove(temporary);
    } catch (const IoError&) {
    }
    throw io_failure("Cannot write " + path, error);
  }
}

}  // namespace tolvane::translate
