#include "driver/source_list.h"

#include <memory>

#include "base/failure.h"
#include "platform/file_io.h"

namespace tolvane {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

bool is_absolute(const std::string& path) {
  if (std::string(kPathSeparators).find(path[0]) != std::string::npos) return true;
#ifdef _WIN32
  if (path.size() > 1 && path[1] == ':') return true;
#endif
  return false;
}

}  // namespace

std::vector<std::string> read_source_list(FileSystem& fs, const std::string& list_path) {
  // Never opened when it is no regular file: a FIFO would hang.
  if (FileKind kind = fs.kind(list_path);
      kind != FileKind::kRegular && kind != FileKind::kMissing && kind != FileKind::kNoDirectory) {
    throw usage_failure(list_path + " is no regular file");
  }
  const size_t slash = list_path.find_last_of(kPathSeparators);
  const std::string folder = slash == std::string::npos ? "" : list_path.substr(0, slash + 1);
  std::vector<std::string> sources;
  try {
    std::unique_ptr<File> file = fs.open(list_path, OpenMode::kRead);
    LineReader reader(file.get(), true);
    std::string line;
    while (reader.read_line(&line)) {
      size_t begin = 0, end = line.size();
      while (begin < end && is_blank(line[begin])) ++begin;
      while (end > begin && is_blank(line[end - 1])) --end;
      if (begin == end || line[begin] == '#') continue;
      std::string name = line.substr(begin, end - begin);
      sources.push_back(is_absolute(name) ? name : folder + name);
    }
    file->close();
  } catch (const IoError&) {
    throw usage_failure(list_path + " does not exist or cannot be opened");
  }
  if (sources.empty()) {
    throw usage_failure(list_path + " names no message source");
  }
  return sources;
}

}  // namespace tolvane
