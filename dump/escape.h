// How the inspector spells stored bytes: the notations a message source uses,
// so that what it shows can be pasted into a source unchanged.
#ifndef TOLVANE_DUMP_ESCAPE_H_
#define TOLVANE_DUMP_ESCAPE_H_

#include <string>
#include <string_view>

namespace tolvane::dump {

// Printable ASCII as is, except `"` and `\` which are escaped; the control
// characters with a letter escape (\n, \t, ...) by it; every other byte as a
// three-digit octal escape, which never takes in a digit that follows it.
// A byte text encoder turns the result back into exactly `bytes`.
std::string c_escape(std::string_view bytes);

// Every byte as \xHH, the notation of UNICODE texts.
std::string byte_notation(std::string_view bytes);

// A fixed-width character field as text, up to its first 0x00, escaped.
std::string field_text(const char* field, size_t width);

}  // namespace tolvane::dump

#endif  // TOLVANE_DUMP_ESCAPE_H_
