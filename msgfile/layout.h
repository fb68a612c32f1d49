// Where each field of the MSG file lies, what the coding values mean and how a
// table's type_key is made: named once so that writers, checks and readers
// cannot drift apart.
#ifndef TOLVANE_MSGFILE_LAYOUT_H_
#define TOLVANE_MSGFILE_LAYOUT_H_

#include <cstdint>

namespace tolvane {

// Offsets of the fields that readers look at, from the start of their record.
constexpr uint32_t kHeaderLanguageCountAt = 36;  // in the 38-byte header
constexpr uint32_t kEntryTableCountAt = 2;       // in an 8-byte language entry
constexpr uint32_t kEntryTableOffsetAt = 4;
constexpr uint32_t kRecordFontFileAt = 4;  // in a 44-byte table record
constexpr uint32_t kRecordCodingAt = 36;
constexpr uint32_t kRecordMessageCountAt = 38;
constexpr uint32_t kRecordIndexOffsetAt = 40;
constexpr uint32_t kIndexTextOffsetAt = 2;  // in a 6-byte index entry

// The `coding` of a table record: UNICODE texts are 16-bit units spelled byte
// by byte and end with two 0x00; byte texts end with one.
constexpr uint16_t kUnicodeCoding = 0;
constexpr uint16_t kByteCoding = 1;

// Bytes of the terminator that ends each text of a table of that coding.
constexpr uint32_t terminator_size(uint16_t coding) { return coding == kUnicodeCoding ? 2 : 1; }

// type_key = FILETYPE x 65536 + APPLITYPE, modulo 2^32; on disk the
// application type is the low half and comes first.
constexpr uint32_t make_type_key(uint32_t file_type, uint32_t appli_type) {
  return file_type * 65536u + appli_type;
}
constexpr uint32_t file_type_of(uint32_t type_key) { return type_key >> 16; }
constexpr uint32_t appli_type_of(uint32_t type_key) { return type_key & 0xFFFF; }

}  // namespace tolvane

#endif  // TOLVANE_MSGFILE_LAYOUT_H_
