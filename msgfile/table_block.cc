#include "msgfile/table_block.h"

#include <algorithm>

namespace tolvane {

std::vector<IndexEntry> MessageIndex::sorted() const {
  // Reversing first and sorting stably puts equal identifiers in the reverse
  // of their source order, as an insertion sort that inserts each entry before
  // its equals does.
  std::vector<IndexEntry> result(entries_.rbegin(), entries_.rend());
  std::stable_sort(result.begin(), result.end(), [](const IndexEntry& a, const IndexEntry& b) {
    return a.message_id < b.message_id;
  });
  const uint32_t count = static_cast<uint32_t>(result.size());
  for (uint32_t rank = 0; rank < count; ++rank) {
    // The texts start right after the index; the entry ends 6 * (rank + 1)
    // bytes into it. Offsets are full 32-bit values and wrap like them.
    result[rank].text_offset += kIndexEntrySize * count - kIndexEntrySize * (rank + 1);
  }
  return result;
}

}  // namespace tolvane
