#include "platform/file_system.h"

#include <cstring>

namespace tolvane {

IoError::IoError(std::string op, std::string path, int error)
    : IoError(std::move(op), std::move(path), error, error_text(error)) {}

IoError::IoError(std::string op, std::string path, int error, std::string reason)
    : std::runtime_error(op + " " + path + ": " + reason),
      op_(std::move(op)),
      path_(std::move(path)),
      error_(error),
      reason_(std::move(reason)) {}

std::string error_text(int error) { return std::strerror(error); }

std::string dir_name(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

const char* file_kind_name(FileKind kind) {
  switch (kind) {
    case FileKind::kDirectory:
      return "a directory";
    case FileKind::kFifo:
      return "a FIFO";
    case FileKind::kDevice:
      return "a device";
    case FileKind::kSocket:
      return "a socket";
    default:
      return "not a regular file";
  }
}

}  // namespace tolvane
