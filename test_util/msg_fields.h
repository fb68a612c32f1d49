// The fields of an MSG file spelled out by hand, independently of the
// product's encoders, for tests that pin the bytes a build writes.
#ifndef TOLVANE_TEST_UTIL_MSG_FIELDS_H_
#define TOLVANE_TEST_UTIL_MSG_FIELDS_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace tolvane::testing::fields {

// Little-endian integers.
inline std::string U16(uint32_t v) {
  return std::string{static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)};
}
inline std::string U32(uint32_t v) { return U16(v & 0xFFFF) + U16(v >> 16); }
inline uint32_t read_u16(const std::string& bytes, size_t at) {
  return static_cast<uint8_t>(bytes.at(at)) | static_cast<uint8_t>(bytes.at(at + 1)) << 8;
}
inline uint32_t read_u32(const std::string& bytes, size_t at) {
  return read_u16(bytes, at) | read_u16(bytes, at + 2) << 16;
}

// A fixed-width text field: cut, or padded with 0x00.
inline std::string chars(std::string text, size_t width) {
  text.resize(width, '\0');
  return text;
}

// The header, a language entry, a table record and an index entry.
inline std::string header(const std::string& name, uint32_t language_count) {
  return U16(0x4D53) + U16(0x0101) + chars(name, 32) + U16(language_count);
}
inline std::string entry(const std::string& language, uint32_t tables, uint32_t table_offset) {
  return chars(language, 2) + U16(tables) + U32(table_offset);
}
inline std::string record(uint32_t type_key, const std::string& font, uint32_t coding,
                          uint32_t count, uint32_t index_offset) {
  return U32(type_key) + chars(font, 32) + U16(coding) + U16(count) + U32(index_offset);
}
inline std::string index(uint32_t id, uint32_t text_offset) { return U16(id) + U32(text_offset); }

}  // namespace tolvane::testing::fields

#endif  // TOLVANE_TEST_UTIL_MSG_FIELDS_H_
