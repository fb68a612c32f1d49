#include "platform/utf16.h"

#include "platform/utf8.h"

namespace tolvane {

std::string utf16_to_utf8(std::u16string_view wide) {
  std::string out;
  out.reserve(wide.size());
  for (size_t i = 0; i < wide.size(); ++i) {
    char32_t c = wide[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
        wide[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
      ++i;
    }
    append_utf8(c, &out);
  }
  return out;
}

bool utf8_to_utf16(std::string_view utf8, std::u16string* wide) {
  wide->clear();
  wide->reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    char32_t c;
    // Overlong forms would give one name two spellings.
    if (!next_utf8(utf8, &i, &c, true)) return false;
    if (c >= 0x10000) {
      c -= 0x10000;
      wide->push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      wide->push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      wide->push_back(static_cast<char16_t>(c));
    }
  }
  return true;
}

}  // namespace tolvane
