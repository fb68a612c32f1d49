// Turns the raw text between the quotes of a #message line into the bytes
// stored in the MSG file.
#ifndef TOLVANE_SOURCE_TEXT_ENCODER_H_
#define TOLVANE_SOURCE_TEXT_ENCODER_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "msgfile/layout.h"

namespace tolvane {

// 0-9, a-f and A-F give 0..15; anything else 255.
uint8_t hex_digit_value(char c);

// Reads an octal escape from the characters after a backslash. Returns the
// byte and sets `consumed` to the digits used (1 to 3), or 0 when there is no
// octal escape there.
uint8_t octal_escape(std::string_view rest, int* consumed);

// What an encoder writes that the author likely did not mean, at `offset`
// in the text. It never changes what is written.
struct TextFinding {
  size_t offset = 0;
  std::string text;  // plain ASCII, no line feed
};

// Appends the encoded text to `out` and returns the bytes appended, the
// terminator included. Byte coding decodes C escapes and ends with one 0x00;
// UNICODE coding writes only the \xHH and 0xHH byte notations and ends with
// two. Throws Failure for a \x escape without a hexadecimal digit. With
// `findings`, also says what in the text is written other than it reads.
uint32_t encode_text(std::string_view text, uint16_t coding, std::string* out,
                     std::vector<TextFinding>* findings = nullptr);
uint32_t encode_byte_text(std::string_view text, std::string* out,
                          std::vector<TextFinding>* findings = nullptr);
uint32_t encode_unicode_text(std::string_view text, std::string* out,
                             std::vector<TextFinding>* findings = nullptr);

}  // namespace tolvane

#endif  // TOLVANE_SOURCE_TEXT_ENCODER_H_
