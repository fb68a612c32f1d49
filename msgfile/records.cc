#include "msgfile/records.h"

#include <cstring>

namespace tolvane {

void write_header(std::string* out, const MsgFileHeader& header) {
  write_u16(out, header.file_id);
  write_u16(out, header.version);
  out->append(header.name, kNameWidth);
  write_u16(out, header.language_count);
}

void write_language_entry(std::string* out, const LanguageEntry& entry) {
  out->append(entry.language, kLanguageWidth);
  write_u16(out, entry.table_count);
  write_u32(out, entry.table_offset);
}

void write_table_record(std::string* out, const TableRecord& record) {
  // Encoded in place and appended at once: a catalogue may hold tens of
  // thousands of records, rewritten on every run.
  char bytes[kTableRecordSize];
  encode_u32(bytes, record.type_key);
  std::memcpy(bytes + kRecordFontFileAt, record.font_file, kFontFileWidth);
  encode_u16(bytes + kRecordCodingAt, record.coding);
  encode_u16(bytes + kRecordMessageCountAt, record.message_count);
  encode_u32(bytes + kRecordIndexOffsetAt, record.index_offset);
  out->append(bytes, kTableRecordSize);
}

void write_index_entry(std::string* out, const IndexEntry& entry) {
  write_u16(out, entry.message_id);
  write_u32(out, entry.text_offset);
}

void read_header(ByteReader& in, MsgFileHeader* header) {
  header->file_id = in.read_u16();
  header->version = in.read_u16();
  in.read_chars(header->name, kNameWidth);
  header->language_count = in.read_u16();
}

void read_language_entry(ByteReader& in, LanguageEntry* entry) {
  in.read_chars(entry->language, kLanguageWidth);
  entry->table_count = in.read_u16();
  entry->table_offset = in.read_u32();
}

void read_table_record(ByteReader& in, TableRecord* record) {
  record->type_key = in.read_u32();
  in.read_chars(record->font_file, kFontFileWidth);
  record->coding = in.read_u16();
  record->message_count = in.read_u16();
  record->index_offset = in.read_u32();
}

void read_index_entry(ByteReader& in, IndexEntry* entry) {
  entry->message_id = in.read_u16();
  entry->text_offset = in.read_u32();
}

void set_chars(char* field, size_t width, const std::string& text) {
  size_t n = 0;
  while (n < width && n < text.size() && text[n] != '\0') ++n;
  std::memcpy(field, text.data(), n);
  std::memset(field + n, 0, width - n);
}

std::string get_chars(const char* field, size_t width) {
  size_t n = 0;
  while (n < width && field[n] != '\0') ++n;
  return std::string(field, n);
}

}  // namespace tolvane
