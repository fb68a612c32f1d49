// One line of a names header: the identifier a #define line gives a name,
// the line a run writes, and the name a #message line gives.
#ifndef TOLVANE_NAMES_DEFINE_LINE_H_
#define TOLVANE_NAMES_DEFINE_LINE_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tolvane {

// The identifier a names-header line defines: "#define", a name and a decimal
// number, separated by any blanks. Anything after the number is ignored.
// `name`, when given, receives the defined name.
std::optional<int64_t> parse_define(std::string_view line, std::string_view* name = nullptr);

// The symbolic name of a #message line: the token after the identifier, up to
// the next blank or the end of the line.
std::string_view message_name(std::string_view line);

// The line written for a new identifier, ended by a bare line feed.
void append_define(std::string* out, std::string_view name, int32_t id);

}  // namespace tolvane

#endif  // TOLVANE_NAMES_DEFINE_LINE_H_
