#include "names/define_line.h"

#include <charconv>
#include <cstdint>
#include <cstring>

#include "source/decimal.h"
#include "source/message_line.h"

namespace tolvane {

std::optional<int64_t> parse_define(std::string_view line, std::string_view* name) {
  constexpr std::string_view kDefine = "#define";
  if (line.size() < kDefine.size() ||
      std::memcmp(line.data(), kDefine.data(), kDefine.size()) != 0) {
    return std::nullopt;
  }
  size_t i = kDefine.size();
  if (i >= line.size() || !is_space(line[i])) return std::nullopt;
  i = skip_spaces(line, i);
  size_t name_end = token_end(line, i);
  if (name_end == i) return std::nullopt;
  if (name) *name = line.substr(i, name_end - i);
  i = skip_spaces(line, name_end);
  const Decimal d = scan_decimal(line, i);
  // Numbers past the 32-bit range can never equal an identifier.
  if (!d.found() || d.overflow) return std::nullopt;
  return d.value();
}

std::string_view message_name(std::string_view line) {
  const size_t i = skip_spaces(line, 8);  // after "#message"
  return name_after_identifier(line, scan_decimal(line, i).end);
}

void append_define(std::string* out, std::string_view name, int32_t id) {
  out->append("#define ");
  out->append(name);
  out->push_back(' ');
  char digits[16];
  auto result = std::to_chars(digits, digits + sizeof digits, id);
  out->append(digits, result.ptr);
  out->push_back('\n');
}

}  // namespace tolvane
