// A read-only File over bytes held in memory, for readers that are handed a
// catalogue or a source as a string rather than a path.
#ifndef TOLVANE_MSGFILE_MEMORY_FILE_H_
#define TOLVANE_MSGFILE_MEMORY_FILE_H_

#include <cerrno>
#include <cstring>
#include <string_view>

#include "platform/file_system.h"

namespace tolvane {

class MemoryFile : public File {
 public:
  // `bytes` must outlive the file.
  explicit MemoryFile(std::string_view bytes) : bytes_(bytes) {}
  size_t read_at(uint64_t offset, void* buf, size_t n) override {
    if (offset >= bytes_.size()) return 0;
    if (n > bytes_.size() - offset) n = static_cast<size_t>(bytes_.size() - offset);
    std::memcpy(buf, bytes_.data() + offset, n);
    return n;
  }
  void write_at(uint64_t, const void*, size_t) override { throw IoError("write", "", EBADF); }
  uint64_t size() override { return bytes_.size(); }
  void sync() override {}
  void close() override {}

 private:
  std::string_view bytes_;
};

}  // namespace tolvane

#endif  // TOLVANE_MSGFILE_MEMORY_FILE_H_
