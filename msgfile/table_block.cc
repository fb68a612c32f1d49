#include "msgfile/table_block.h"

#include <array>

namespace tolvane {

std::vector<IndexEntry> MessageIndex::sorted() const {
  // A stable sort of the reversed entries puts equal identifiers in the
  // reverse of their source order, as an insertion sort that inserts each
  // entry before its equals does. Two stable counting passes, low byte then
  // high byte of the 16-bit identifier, sort in linear time.
  const size_t count = entries_.size();
  std::vector<IndexEntry> result(entries_.rbegin(), entries_.rend());
  std::vector<IndexEntry> scratch(count);
  for (int shift : {0, 8}) {
    std::array<size_t, 257> start{};
    for (const IndexEntry& entry : result) ++start[((entry.message_id >> shift) & 0xFF) + 1];
    for (size_t digit = 0; digit < 256; ++digit) start[digit + 1] += start[digit];
    for (const IndexEntry& entry : result) {
      scratch[start[(entry.message_id >> shift) & 0xFF]++] = entry;
    }
    result.swap(scratch);
  }
  const uint32_t total = static_cast<uint32_t>(count);
  for (uint32_t rank = 0; rank < total; ++rank) {
    // The texts start right after the index; the entry ends 6 * (rank + 1)
    // bytes into it. Offsets are full 32-bit values and wrap like them.
    result[rank].text_offset += kIndexEntrySize * total - kIndexEntrySize * (rank + 1);
  }
  return result;
}

std::string TableBlockBuilder::index_bytes() const {
  // Sized once and filled in place: a whole catalogue's build writes
  // hundreds of thousands of entries.
  std::string out(size_t{kIndexEntrySize} * count(), '\0');
  char* p = out.data();
  for (const IndexEntry& entry : index_.sorted()) {
    encode_u16(p, entry.message_id);
    encode_u32(p + kIndexTextOffsetAt, entry.text_offset);
    p += kIndexEntrySize;
  }
  return out;
}

}  // namespace tolvane
