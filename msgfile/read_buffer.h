// Reads a file through one large window, so that many small reads close to
// each other (the index and texts of many small tables) cost one system call
// per window rather than one each.
#ifndef TOLVANE_MSGFILE_READ_BUFFER_H_
#define TOLVANE_MSGFILE_READ_BUFFER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/file_system.h"

namespace tolvane {

class ReadBuffer {
 public:
  ReadBuffer(File& file, uint64_t size, size_t window = 64 * 1024)
      : file_(file), size_(size), window_(window) {}

  // The bytes [offset, offset + n) as far as they lie in the file: shorter
  // only at its end. Valid until the next call.
  std::string_view view(uint64_t offset, size_t n) {
    if (offset >= size_) return {};
    if (n > size_ - offset) n = static_cast<size_t>(size_ - offset);
    if (offset < begin_ || offset + n > begin_ + buffer_.size()) fill(offset, n);
    return std::string_view(buffer_).substr(static_cast<size_t>(offset - begin_), n);
  }

  uint64_t size() const { return size_; }
  size_t window() const { return window_; }

 private:
  void fill(uint64_t offset, size_t n) {
    size_t want = n > window_ ? n : window_;
    if (want > size_ - offset) want = static_cast<size_t>(size_ - offset);
    buffer_.resize(want);
    buffer_.resize(file_.ReadAt(offset, buffer_.data(), want));
    begin_ = offset;
  }

  File& file_;
  uint64_t size_;
  size_t window_;
  uint64_t begin_ = 0;
  std::string buffer_;
};

}  // namespace tolvane

#endif  // TOLVANE_MSGFILE_READ_BUFFER_H_
