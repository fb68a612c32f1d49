// Little-endian encoding of the MSG file's integers, low byte first.
#ifndef TOLVANE_MSGFILE_CODING_H_
#define TOLVANE_MSGFILE_CODING_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace tolvane {

inline void write_u8(std::string* out, uint32_t value) {
  out->push_back(static_cast<char>(value & 0xFF));
}
inline void write_u16(std::string* out, uint32_t value) {
  write_u8(out, value);
  write_u8(out, value >> 8);
}
inline void write_u32(std::string* out, uint32_t value) {
  write_u16(out, value & 0xFFFF);
  write_u16(out, value >> 16);
}

inline void encode_u16(char* p, uint32_t value) {
  p[0] = static_cast<char>(value & 0xFF);
  p[1] = static_cast<char>((value >> 8) & 0xFF);
}
inline void encode_u32(char* p, uint32_t value) {
  encode_u16(p, value & 0xFFFF);
  encode_u16(p + 2, value >> 16);
}

inline uint16_t decode_u16(const char* p) {
  return static_cast<uint16_t>(static_cast<uint8_t>(p[0]) | static_cast<uint8_t>(p[1]) << 8);
}
inline uint32_t decode_u32(const char* p) {
  return decode_u16(p) | static_cast<uint32_t>(decode_u16(p + 2)) << 16;
}

// Reads from a byte range; bytes past its end count as 0x00, so a short file
// reads as zeros, never as an error. overran() tells afterwards whether any
// read went past the end.
class ByteReader {
 public:
  explicit ByteReader(std::string_view bytes, size_t position = 0)
      : bytes_(bytes), position_(position) {}
  uint8_t read_u8() {
    if (position_ >= bytes_.size()) {
      overran_ = true;
      ++position_;
      return 0;
    }
    return static_cast<uint8_t>(bytes_[position_++]);
  }
  uint16_t read_u16() {
    if (fits(2)) {
      position_ += 2;
      return decode_u16(bytes_.data() + position_ - 2);
    }
    uint16_t low = read_u8();
    return static_cast<uint16_t>(low | (read_u8() << 8));
  }
  uint32_t read_u32() {
    if (fits(4)) {
      position_ += 4;
      return decode_u32(bytes_.data() + position_ - 4);
    }
    uint32_t low = read_u16();
    return low | (static_cast<uint32_t>(read_u16()) << 16);
  }
  // Fills `width` bytes; those past the end keep their previous content.
  void read_chars(char* out, size_t width) {
    if (fits(width)) {
      std::memcpy(out, bytes_.data() + position_, width);
      position_ += width;
      return;
    }
    for (size_t i = 0; i < width; ++i, ++position_) {
      if (position_ < bytes_.size()) {
        out[i] = bytes_[position_];
      } else {
        overran_ = true;
      }
    }
  }
  size_t position() const { return position_; }
  // Whether a read so far asked for bytes past the end of the range.
  bool overran() const { return overran_; }

 private:
  // Whether the next `n` bytes all lie in the range (the common case, read
  // without a check per byte).
  bool fits(size_t n) const { return position_ <= bytes_.size() && bytes_.size() - position_ >= n; }

  std::string_view bytes_;
  size_t position_;
  bool overran_ = false;
};

}  // namespace tolvane

#endif  // TOLVANE_MSGFILE_CODING_H_
