#include "platform/file_io.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace tolvane {

bool LineReader::fill() {
  if (eof_) return false;
  // The bytes not yet handed out move to the front; the buffer only grows
  // (for a line longer than it), so reads land in memory already there,
  // with no clearing of a fresh chunk each time.
  if (start_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + start_, end_ - start_);
    end_ -= start_;
    start_ = 0;
  }
  if (buffer_.size() < end_ + chunk_) buffer_.resize(end_ + chunk_);
  size_t got = file_->read_at(offset_, buffer_.data() + end_, chunk_);
  end_ += got;
  offset_ += got;
  if (got == 0) eof_ = true;
  return got > 0;
}

bool LineReader::read_line(std::string* line, bool* newline) {
  std::string_view view;
  if (!read_line(&view, newline)) return false;
  line->assign(view);
  return true;
}

bool LineReader::read_line(std::string_view* line, bool* newline) {
  size_t scanned = start_;
  for (;;) {
    const char* base = buffer_.data();
    const void* hit = std::memchr(base + scanned, '\n', end_ - scanned);
    if (hit != nullptr) {
      size_t end = static_cast<const char*>(hit) - base;
      size_t stop = end;
      if (text_mode_ && stop > start_ && base[stop - 1] == '\r') --stop;
      *line = std::string_view(base + start_, stop - start_);
      start_ = end + 1;
      if (newline) *newline = true;
      ++line_number_;
      return true;
    }
    scanned = end_;
    size_t consumed = start_;
    if (!fill()) break;
    scanned -= consumed;
  }
  if (start_ >= end_) return false;
  *line = std::string_view(buffer_.data() + start_, end_ - start_);
  start_ = end_;
  if (newline) *newline = false;
  ++line_number_;
  return true;
}

std::string read_all(File& file) {
  std::string bytes(file.size(), '\0');
  size_t size = 0;
  for (;;) {
    if (size == bytes.size()) bytes.resize(size + (64 << 10));
    const size_t got = file.read_at(size, bytes.data() + size, bytes.size() - size);
    if (got == 0) break;
    size += got;
  }
  bytes.resize(size);
  return bytes;
}

void copy_range(File& source, uint64_t from, File& destination, uint64_t to, uint64_t end) {
  constexpr size_t kChunk = 1 << 20;
  std::vector<char> buffer(from < end ? std::min<uint64_t>(kChunk, end - from) : 0);
  while (from < end) {
    size_t want = static_cast<size_t>(std::min<uint64_t>(buffer.size(), end - from));
    size_t got = source.read_at(from, buffer.data(), want);
    if (got == 0) return;
    destination.write_at(to, buffer.data(), got);
    from += got;
    to += got;
  }
}

}  // namespace tolvane
