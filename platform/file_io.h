// Buffered sequential reading and writing on top of File.
#ifndef TOLVANE_PLATFORM_FILE_IO_H_
#define TOLVANE_PLATFORM_FILE_IO_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/file_system.h"

namespace tolvane {

// Appends at a running position and writes in large pieces. Callers may append
// straight into buffer() and then call maybe_flush().
class FileWriter {
 public:
  FileWriter(File* file, uint64_t position, size_t chunk = 1 << 20)
      : file_(file), position_(position), chunk_(chunk) {
    buffer_.reserve(chunk + 4096);
  }
  void append(std::string_view bytes) {
    buffer_.append(bytes);
    maybe_flush();
  }
  std::string* buffer() { return &buffer_; }
  void maybe_flush() {
    if (buffer_.size() >= chunk_) flush();
  }
  void flush() {
    if (buffer_.empty()) return;
    file_->write_at(position_, buffer_.data(), buffer_.size());
    position_ += buffer_.size();
    buffer_.clear();
  }
  // Position of the next byte appended.
  uint64_t position() const { return position_ + buffer_.size(); }

 private:
  File* file_;
  uint64_t position_;
  size_t chunk_;
  std::string buffer_;
};

// Reads a file line by line, whole physical lines of any length.
class LineReader {
 public:
  // With `text_mode`, a carriage return right before a line feed is dropped.
  LineReader(File* file, bool text_mode, size_t chunk = 1 << 16)
      : file_(file), text_mode_(text_mode), chunk_(chunk) {}
  // Fills `line` without its line feed. `newline` tells whether one ended it.
  // Returns false at the end of the file.
  bool read_line(std::string* line, bool* newline = nullptr);
  // The same without a copy: `line` points into the reader's buffer and stays
  // valid until the next call.
  bool read_line(std::string_view* line, bool* newline = nullptr);
  // Number of the line last read, counting from 1.
  long line_number() const { return line_number_; }
  // The size of the whole file read.
  uint64_t file_size() const { return file_->size(); }

 private:
  bool fill();

  File* file_;
  bool text_mode_;
  size_t chunk_;
  uint64_t offset_ = 0;
  std::string buffer_;  // bytes read are [start_, end_)
  size_t start_ = 0, end_ = 0;
  bool eof_ = false;
  long line_number_ = 0;
};

// The whole of a (small) file, to where a read gives nothing.
std::string read_all(File& file);

// Copies bytes [from, end) of `source` to `destination` at `to`, in large
// pieces. Missing source bytes past its end are not written.
void copy_range(File& source, uint64_t from, File& destination, uint64_t to, uint64_t end);

}  // namespace tolvane

#endif  // TOLVANE_PLATFORM_FILE_IO_H_
