#include "msgfile/table_block.h"

#include <array>
#include <utility>

namespace tolvane {

std::vector<IndexEntry> MessageIndex::sorted() const {
  // A stable sort of the reversed entries puts equal identifiers in the
  // reverse of their source order, as an insertion sort that inserts each
  // entry before its equals does. Two stable counting passes, low byte then
  // high byte of the 16-bit identifier, sort in linear time: the first reads
  // the entries backwards, the second puts each at its rank, where its
  // offset is known.
  const size_t count = entries_.size();
  std::array<size_t, 256> low_start{}, high_start{};
  for (const IndexEntry& entry : entries_) {
    ++low_start[entry.message_id & 0xFF];
    ++high_start[entry.message_id >> 8];
  }
  size_t low_sum = 0, high_sum = 0;
  for (size_t digit = 0; digit < 256; ++digit) {
    low_sum += std::exchange(low_start[digit], low_sum);
    high_sum += std::exchange(high_start[digit], high_sum);
  }
  std::vector<IndexEntry> by_low(count);
  for (auto entry = entries_.rbegin(); entry != entries_.rend(); ++entry) {
    by_low[low_start[entry->message_id & 0xFF]++] = *entry;
  }
  std::vector<IndexEntry> result(count);
  const uint32_t total = static_cast<uint32_t>(count);
  for (const IndexEntry& entry : by_low) {
    const size_t rank = high_start[entry.message_id >> 8]++;
    // The texts start right after the index; the entry ends 6 * (rank + 1)
    // bytes into it. Offsets are full 32-bit values and wrap like them.
    result[rank] = {entry.message_id, entry.text_offset + kIndexEntrySize * total -
                                          kIndexEntrySize * (static_cast<uint32_t>(rank) + 1)};
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
