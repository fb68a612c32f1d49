// The 8-bit character set of a byte table's font, which the table itself
// does not record: converts its texts to and from UTF-8 through the system's
// converter (iconv), so that any character set it knows can be named.
#ifndef TOLVANE_PLATFORM_CHARSET_H_
#define TOLVANE_PLATFORM_CHARSET_H_

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace tolvane {

class Charset {
 public:
  // An empty name is plain ASCII: bytes from 0x80 on are no characters.
  // Throws a usage Failure when the system knows no character set `name`
  // (or, where there is no converter, for any name but ASCII).
  explicit Charset(const std::string& name);
  ~Charset();
  Charset(const Charset&) = delete;
  Charset& operator=(const Charset&) = delete;

  // The name as given; "ASCII" for the empty one.
  const std::string& name() const { return name_; }

  // Bytes of the character set to UTF-8. False, with `*bad` at the byte
  // offset where it stops, when the bytes are no text of the character set.
  bool decode(std::string_view bytes, std::string* utf8, size_t* bad) const;
  // UTF-8 to bytes of the character set. False, with `*bad` at the offset of
  // the first character it cannot hold (or that is no UTF-8).
  bool encode(std::string_view utf8, std::string* bytes, size_t* bad) const;

 private:
  struct Converters;
  std::string name_;
  std::unique_ptr<Converters> converters_;  // null for ASCII
};

// Plain ASCII, the character set every build knows: copies `text` to `out`,
// or returns false with `*bad` at the first byte from 0x80 on.
bool ascii_only(std::string_view text, std::string* out, size_t* bad);

}  // namespace tolvane

#endif  // TOLVANE_PLATFORM_CHARSET_H_
