// How stored bytes are spelled for people: the notations a message source
// uses, so that what is shown can be pasted into a source unchanged.
#ifndef TOLVANE_MSGFILE_ESCAPE_H_
#define TOLVANE_MSGFILE_ESCAPE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tolvane {

// Printable ASCII as is, except `"` and `\` which are escaped; the control
// characters with a letter escape (\n, \t, ...) by it; every other byte as a
// three-digit octal escape, which never takes in a digit that follows it.
// A byte text encoder turns the result back into exactly `bytes`.
std::string c_escape(std::string_view bytes);

// Every byte as \xHH, the notation of UNICODE texts.
std::string byte_notation(std::string_view bytes);

// A fixed-width character field as text, up to its first 0x00, escaped.
std::string field_text(const char* field, size_t width);

// "0x" and at least `digits` upper-case hexadecimal digits: 0x4D53.
std::string hex_number(uint32_t value, int digits = 1);
// Lower-case hexadecimal digits without a prefix, as "%x" reads them: "2a".
std::string hex_digits(uint32_t value);
// Lower-case hexadecimal digits, two per byte: "3053".
std::string hex_bytes(std::string_view bytes);

}  // namespace tolvane

#endif  // TOLVANE_MSGFILE_ESCAPE_H_
