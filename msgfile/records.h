// The records of the MSG file, as they are laid out on disk:
//
//   header (38 bytes) | language directory (8 bytes each) |
//   table records (44 bytes each, grouped by language) | table blocks
//
// A table block holds the index (6 bytes an entry, ascending identifiers),
// then the texts back to back, then a 0x00 when needed for an even end.
#ifndef TOLVANE_MSGFILE_RECORDS_H_
#define TOLVANE_MSGFILE_RECORDS_H_

#include <cstdint>
#include <string>

#include "msgfile/coding.h"
#include "msgfile/layout.h"
#include "platform/file_system.h"

namespace tolvane {

constexpr uint16_t kFileId = 0x4D53;
constexpr uint16_t kCreationVersion = 0x0101;
constexpr uint32_t kHeaderSize = 38;
constexpr uint32_t kLanguageEntrySize = 8;
constexpr uint32_t kTableRecordSize = 44;
constexpr uint32_t kIndexEntrySize = 6;
constexpr size_t kNameWidth = 32;
constexpr size_t kFontFileWidth = 32;
constexpr size_t kLanguageWidth = 2;
// Counts are used as signed 16-bit values by readers of the format.
constexpr uint32_t kMaxCount = 32767;

struct MsgFileHeader {
  uint16_t file_id = kFileId;
  uint16_t version = kCreationVersion;
  char name[kNameWidth] = {};
  uint16_t language_count = 0;
};

struct LanguageEntry {
  char language[kLanguageWidth] = {};
  uint16_t table_count = 0;
  uint32_t table_offset = 0;
};

struct TableRecord {
  uint32_t type_key = 0;
  char font_file[kFontFileWidth] = {};
  uint16_t coding = kByteCoding;
  uint16_t message_count = 0;
  uint32_t index_offset = 0;
};

struct IndexEntry {
  uint16_t message_id = 0;
  uint32_t text_offset = 0;
};

void write_header(std::string* out, const MsgFileHeader& header);
void write_language_entry(std::string* out, const LanguageEntry& entry);
void write_table_record(std::string* out, const TableRecord& record);
void write_index_entry(std::string* out, const IndexEntry& entry);

void read_header(ByteReader& in, MsgFileHeader* header);
void read_language_entry(ByteReader& in, LanguageEntry* entry);
void read_table_record(ByteReader& in, TableRecord* record);
void read_index_entry(ByteReader& in, IndexEntry* entry);
// The entry whose 6 bytes start at `p`, for walking whole indexes quickly.
inline IndexEntry decode_index_entry(const char* p) {
  return {decode_u16(p), decode_u32(p + kIndexTextOffsetAt)};
}

// Copies a text into a fixed-width field: at most `width` characters, the rest
// 0x00, no terminator when the text is that long.
void set_chars(char* field, size_t width, const std::string& text);
// A fixed-width field as text, up to its first 0x00.
std::string get_chars(const char* field, size_t width);

}  // namespace tolvane

#endif  // TOLVANE_MSGFILE_RECORDS_H_
