#include "source/message_line.h"

#include <bit>
#include <cstdint>
#include <cstring>

namespace tolvane {
namespace {

// White space as "%d" and "%s" skip it.
bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// The first white space at or after `i`, or the end of the line.
size_t token_end(std::string_view line, size_t i) {
  // Eight bytes at a time past those that are all above 0x20, so no space;
  // the first byte below 0x21 is where the closer look starts (the lowest
  // flag of the test below is always a true one).
  constexpr uint64_t kOnes = 0x0101010101010101u, kHighs = 0x8080808080808080u;
  for (; i + 8 <= line.size(); i += 8) {
    uint64_t word;
    std::memcpy(&word, line.data() + i, 8);
    const uint64_t low = (word - 0x21 * kOnes) & ~word & kHighs;
    if (low != 0) {
      if constexpr (std::endian::native == std::endian::little) i += std::countr_zero(low) / 8;
      break;
    }
  }
  while (i < line.size() && !is_space(line[i])) ++i;
  return i;
}

}  // namespace

std::string_view name_after_identifier(std::string_view line, size_t id_end) {
  size_t i = id_end;
  while (i < line.size() && is_space(line[i])) ++i;
  return line.substr(i, token_end(line, i) - i);
}

constinit thread_local const HandingOn* HandingOn::current_ = nullptr;

std::optional<std::string_view> name_being_handed_on(std::string_view line) {
  const HandingOn* const current = HandingOn::current_;
  if (current == nullptr || current->line_.data() != line.data() ||
      current->line_.size() != line.size()) {
    return std::nullopt;
  }
  return current->name_;
}

}  // namespace tolvane
