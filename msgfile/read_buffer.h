// Reads a file through one large window, so that many small reads close to
// each other (the index and texts of many small tables) cost one system call
// per window rather than one each.
#ifndef TOLVANE_MSGFILE_READ_BUFFER_H_
#define TOLVANE_MSGFILE_READ_BUFFER_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
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
    if (offset < begin_ || offset + n > begin_ + filled_) fill(offset, n);
    // A file that shrank since its size was taken gives fewer bytes.
    const size_t at = static_cast<size_t>(offset - begin_);
    if (at >= filled_) return {};
    return std::string_view(buffer_.get() + at, std::min(n, filled_ - at));
  }

  uint64_t size() const { return size_; }
  size_t window() const { return window_; }

 private:
  void fill(uint64_t offset, size_t n) {
    size_t want = n > window_ ? n : window_;
    if (want > size_ - offset) want = static_cast<size_t>(size_ - offset);
    // Not zero-filled first: on a large header area that would touch every
    // page twice, and fresh pages are what a small run spends its time on.
    if (want > capacity_) {
      buffer_.reset(new char[want]);
      capacity_ = want;
    }
    filled_ = 0;
    filled_ = file_.read_at(offset, buffer_.get(), want);
    begin_ = offset;
  }

  File& file_;
  uint64_t size_;
  size_t window_;
  uint64_t begin_ = 0;
  std::unique_ptr<char[]> buffer_;
  size_t capacity_ = 0;
  size_t filled_ = 0;
};

}  // namespace tolvane

#endif  // TOLVANE_MSGFILE_READ_BUFFER_H_
