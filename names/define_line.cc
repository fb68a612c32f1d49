#include "names/define_line.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>

#include "source/decimal.h"
#include "source/message_line.h"

namespace tolvane {
namespace {

// ' ', '\t', '\v', '\f', '\r' and '\n': one look in a table, for scans
// that run over every #message line.
constexpr auto kSpaces = [] {
  std::array<bool, 256> spaces{};
  for (unsigned char c : {' ', '\t', '\v', '\f', '\r', '\n'}) spaces[c] = true;
  return spaces;
}();
bool is_space(char c) { return kSpaces[static_cast<unsigned char>(c)]; }

size_t skip_spaces(std::string_view line, size_t i) {
  while (i < line.size() && is_space(line[i])) ++i;
  return i;
}

// The end of the token starting at `i`: the next blank or the end of the
// line, a trailing carriage return excluded.
size_t token_end(std::string_view line, size_t i) {
  // Eight bytes at a time past those that are all above 0x20, so no space.
  constexpr uint64_t kOnes = 0x0101010101010101u, kHighs = 0x8080808080808080u;
  for (; i + 8 <= line.size(); i += 8) {
    uint64_t word;
    std::memcpy(&word, line.data() + i, 8);
    if (((word - 0x21 * kOnes) & ~word & kHighs) != 0) break;
  }
  while (i < line.size() && !is_space(line[i])) ++i;
  return i;
}

}  // namespace

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
