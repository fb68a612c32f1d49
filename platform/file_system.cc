#include "platform/file_system.h"

#include <cstring>

namespace tolvane {

IoError::IoError(std::string op, std::string path, int error)
    : std::runtime_error(op + " " + path + ": " + std::strerror(error)),
      op_(std::move(op)),
      path_(std::move(path)),
      error_(error) {}

std::string DirName(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace tolvane
