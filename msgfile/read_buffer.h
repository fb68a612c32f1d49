// Reads a file through one window that moves, so that many small reads close
// to each other (the index and texts of many small tables, a text a piece at
// a time) cost one system call per window rather than one each, and a file
// of any size is read in bounded memory.
#ifndef TOLVANE_MSGFILE_READ_BUFFER_H_
#define TOLVANE_MSGFILE_READ_BUFFER_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/file_system.h"

namespace tolvane {

class ReadBuffer {
 public:
  // What a view that misses the window reads: the whole window from there,
  // when the next view is likely to follow this one; or only the bytes asked
  // for, when views jump about (the texts of a table, in index order, lie
  // anywhere in its block).
  enum class Fill { kWindow, kAsked };

  // Reads `file` up to `end` (its size, or the end of the part wanted).
  ReadBuffer(File& file, uint64_t end, size_t window = 64 * 1024)
      : file_(file), end_(end), window_(window) {}

  // The bytes [offset, offset + n) as far as they lie before the end:
  // shorter only there, or when the file shrank since. Valid until the next
  // call.
  std::string_view view(uint64_t offset, size_t n, Fill fill = Fill::kWindow) {
    if (offset >= end_) return {};
    if (n > end_ - offset) n = static_cast<size_t>(end_ - offset);
    if (offset < begin_ || offset + n > begin_ + filled_) {
      load(offset, fill == Fill::kWindow ? std::max(n, window_) : n);
    }
    const size_t at = static_cast<size_t>(offset - begin_);
    if (at >= filled_) return {};
    return std::string_view(buffer_.get() + at, std::min(n, filled_ - at));
  }

  // The bytes from `offset` on towards `to`, at most a window of them: at
  // least one unless `offset` lies at or past `to` or the end.
  std::string_view piece(uint64_t offset, uint64_t to, Fill fill = Fill::kWindow) {
    if (offset >= to) return {};
    return view(offset, static_cast<size_t>(std::min<uint64_t>(to - offset, window_)), fill);
  }

  // Hands [begin, to) to `take` in pieces, in order; stops early when the
  // file ends before `to`.
  template <typename Take>
  void read(uint64_t begin, uint64_t to, Fill fill, Take take) {
    while (begin < to) {
      const std::string_view bytes = piece(begin, to, fill);
      if (bytes.empty()) return;
      take(bytes);
      begin += bytes.size();
    }
  }

  uint64_t end() const { return end_; }
  size_t window() const { return window_; }

 private:
  void load(uint64_t offset, size_t want) {
    if (want > end_ - offset) want = static_cast<size_t>(end_ - offset);
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
  uint64_t end_;
  size_t window_;
  uint64_t begin_ = 0;
  std::unique_ptr<char[]> buffer_;
  size_t capacity_ = 0;
  size_t filled_ = 0;
};

}  // namespace tolvane

#endif  // TOLVANE_MSGFILE_READ_BUFFER_H_
