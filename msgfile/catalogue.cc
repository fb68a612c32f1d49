#include "msgfile/catalogue.h"

#include <algorithm>
#include <cstring>

namespace tolvane {
namespace {

std::string at(uint64_t offset) { return " at byte " + std::to_string(offset); }

// Whether the text at `start` is ended inside the file: by a 0x00 byte, or in
// a UNICODE table by two.
bool text_ended(File& file, uint64_t size, uint64_t start, bool unicode) {
  std::string chunk;
  bool zero_before = false;  // the byte before the chunk was 0x00
  for (uint64_t pos = start; pos < size;) {
    chunk.resize(std::min<uint64_t>(64 * 1024, size - pos));
    chunk.resize(file.ReadAt(pos, chunk.data(), chunk.size()));
    if (chunk.empty()) return false;
    for (char c : chunk) {
      if (c == 0 && (!unicode || zero_before)) return true;
      zero_before = c == 0;
    }
    pos += chunk.size();
  }
  return false;
}

// Checks that every text of a table starts among the blocks and ends inside
// the file. A new table is appended behind the old blocks, so a text that
// pointed or ran past the old end would silently take the new bytes as its
// own. Only the last text needs reading: one before it runs into it at the
// latest.
std::optional<std::string> check_texts(File& file, uint64_t size, uint64_t blocks_begin,
                                       const TableRecord& record) {
  std::string index(uint64_t{kIndexEntrySize} * record.message_count, '\0');
  file.ReadAt(record.index_offset, index.data(), index.size());
  ByteReader in(index);
  std::optional<uint64_t> last, last_entry;
  for (uint32_t rank = 0; rank < record.message_count; ++rank) {
    const uint64_t entry_at = uint64_t{record.index_offset} + kIndexEntrySize * rank;
    IndexEntry entry;
    read_index_entry(in, &entry);
    // Offsets count from the end of their entry and wrap as 32-bit values.
    const uint32_t text = static_cast<uint32_t>(entry_at + kIndexEntrySize + entry.text_offset);
    if (text < blocks_begin || text >= size) {
      return "the text of message " + std::to_string(entry.message_id) +
             " lies outside the file's blocks" + at(entry_at + 2);
    }
    if (!last || text > *last) {
      last = text;
      last_entry = entry_at;
    }
  }
  if (last && !text_ended(file, size, *last, record.coding == 0)) {
    return "the text at " + std::to_string(*last) + " runs past the end of the file" +
           at(*last_entry + 2);
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> read_catalogue(File& file, Catalogue* catalogue) {
  const uint64_t size = file.Size();
  catalogue->file_size = size;
  catalogue->languages.clear();
  catalogue->records.clear();

  std::string bytes(kHeaderSize, '\0');
  bytes.resize(file.ReadAt(0, bytes.data(), bytes.size()));
  ByteReader header_in(bytes);
  read_header(header_in, &catalogue->header);
  if (size < kHeaderSize) return "the header is cut short (" + std::to_string(size) + " bytes)";
  const uint32_t languages = catalogue->header.language_count;
  if (languages > kMaxCount) {
    return "the language count " + std::to_string(languages) + " is over " +
           std::to_string(kMaxCount) + at(36);
  }
  uint64_t directory_end = kHeaderSize + uint64_t{kLanguageEntrySize} * languages;
  if (directory_end > size) return "the language directory does not fit in the file";

  bytes.resize(directory_end);
  file.ReadAt(0, bytes.data(), bytes.size());
  ByteReader in(bytes, kHeaderSize);
  uint64_t tables = 0;
  for (uint32_t i = 0; i < languages; ++i) {
    LanguageEntry entry;
    read_language_entry(in, &entry);
    if (entry.table_count > kMaxCount) {
      return "the table count " + std::to_string(entry.table_count) + " is over " +
             std::to_string(kMaxCount) + at(kHeaderSize + kLanguageEntrySize * i + 2);
    }
    uint64_t expected = directory_end + uint64_t{kTableRecordSize} * tables;
    if (entry.table_offset != expected) {
      return "the table offset " + std::to_string(entry.table_offset) +
             " disagrees with the records' place " + std::to_string(expected) +
             at(kHeaderSize + kLanguageEntrySize * i + 4);
    }
    tables += entry.table_count;
    catalogue->languages.push_back(entry);
  }
  uint64_t area_end = directory_end + uint64_t{kTableRecordSize} * tables;
  if (area_end > size) return "the table records do not fit in the file";

  std::string records(area_end - directory_end, '\0');
  file.ReadAt(directory_end, records.data(), records.size());
  ByteReader record_in(records);
  for (uint64_t i = 0; i < tables; ++i) {
    TableRecord record;
    read_table_record(record_in, &record);
    uint64_t record_at = directory_end + kTableRecordSize * i;
    if (record.message_count > kMaxCount) {
      return "the message count " + std::to_string(record.message_count) + " is over " +
             std::to_string(kMaxCount) + at(record_at + 38);
    }
    uint64_t block_end =
        uint64_t{record.index_offset} + uint64_t{kIndexEntrySize} * record.message_count;
    if (record.index_offset < area_end || block_end > size) {
      return "the table block at " + std::to_string(record.index_offset) +
             " lies outside the file's blocks" + at(record_at + 40);
    }
    catalogue->records.push_back(record);
  }
  for (const TableRecord& record : catalogue->records) {
    if (auto problem = check_texts(file, size, area_end, record)) return problem;
  }
  // The header area and every block have even sizes: an odd file has lost or
  // gained bytes, and a new block behind it would start at an odd offset.
  if (size % 2 != 0) return "the file's size " + std::to_string(size) + " is odd";
  return std::nullopt;
}

int find_language(const Catalogue& catalogue, const std::string& language) {
  char key[kLanguageWidth];
  set_chars(key, kLanguageWidth, language);
  for (size_t i = 0; i < catalogue.languages.size(); ++i) {
    const char* entry = catalogue.languages[i].language;
    // Compared as C strings over at most two characters.
    if (std::strncmp(entry, key, kLanguageWidth) == 0) return static_cast<int>(i);
  }
  return -1;
}

std::optional<std::string> plan_header_area(const Catalogue& old, const std::string& language,
                                            const TableRecord& new_record, HeaderArea* area) {
  const bool empty = old.file_size == 0;
  const int rank = empty ? -1 : find_language(old, language);
  const bool new_language = rank < 0;

  MsgFileHeader header = old.header;
  std::vector<LanguageEntry> entries = old.languages;
  if (new_language) {
    if (entries.size() + 1 > kMaxCount) {
      return "a file holds at most " + std::to_string(kMaxCount) + " languages";
    }
    LanguageEntry entry;
    set_chars(entry.language, kLanguageWidth, language);
    entries.push_back(entry);
  } else if (entries[rank].table_count + 1u > kMaxCount) {
    return "a language holds at most " + std::to_string(kMaxCount) + " tables";
  }
  header.language_count = static_cast<uint16_t>(entries.size());

  // Records of the languages before the new record, and the insertion sizes.
  size_t before = 0;
  for (int i = 0; i < (new_language ? static_cast<int>(old.languages.size()) : rank + 1); ++i) {
    before += old.languages[i].table_count;
  }
  const uint32_t entry_growth = new_language ? kLanguageEntrySize : 0;
  const uint32_t growth = entry_growth + kTableRecordSize;

  const uint64_t old_area = empty ? 0 : old.header_area_size();
  const uint64_t new_area = kHeaderSize + uint64_t{kLanguageEntrySize} * entries.size() +
                            uint64_t{kTableRecordSize} * (old.records.size() + 1);
  area->data_start = old.file_size - old_area + new_area;
  area->old_blocks_begin = old_area;
  if (area->data_start > UINT32_MAX) return "the file would grow past 4 GiB";

  std::string& out = area->bytes;
  out.clear();
  write_header(&out, header);
  for (size_t i = 0; i < entries.size(); ++i) {
    LanguageEntry entry = entries[i];
    if (new_language && i + 1 == entries.size()) {
      entry.table_count = 1;
      entry.table_offset = static_cast<uint32_t>(new_area - kTableRecordSize);
    } else {
      entry.table_offset += entry_growth;
      if (!new_language && static_cast<int>(i) == rank) ++entry.table_count;
      if (!new_language && static_cast<int>(i) > rank) entry.table_offset += kTableRecordSize;
    }
    write_language_entry(&out, entry);
  }
  area->new_record = new_record;
  area->new_record.message_count = 0;
  area->new_record.index_offset = static_cast<uint32_t>(area->data_start);
  for (size_t i = 0; i <= old.records.size(); ++i) {
    if (i == before) {
      area->record_pos = out.size();
      write_table_record(&out, area->new_record);
    }
    if (i == old.records.size()) break;
    TableRecord record = old.records[i];
    record.index_offset += growth;
    write_table_record(&out, record);
  }
  return std::nullopt;
}

}  // namespace tolvane
