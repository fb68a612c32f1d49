#include "driver/display.h"

namespace tolvane {

std::string shown_path(std::string path) {
  for (char& c : path) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return path;
}

std::string reason_line(const std::string& path, const std::string& reason) {
  return path.empty() ? reason : path + ": " + reason;
}

}  // namespace tolvane
