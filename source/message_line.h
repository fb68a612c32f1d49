// The name a #message line gives: the token after its identifier. The
// reader finds it once, for its checks and for the handler it hands the
// line to.
#ifndef TOLVANE_SOURCE_MESSAGE_LINE_H_
#define TOLVANE_SOURCE_MESSAGE_LINE_H_

#include <cstddef>
#include <string_view>

namespace tolvane {

// White space as "%d" and "%s" skip it, and as it ends a name.
inline bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}
inline size_t skip_spaces(std::string_view line, size_t i) {
  while (i < line.size() && is_space(line[i])) ++i;
  return i;
}
// The first white space at or after `i`, or the end of the line.
size_t token_end(std::string_view line, size_t i);

// The token after the identifier that ends at `id_end`: past any white
// space, up to the next white space or the end of the line.
std::string_view name_after_identifier(std::string_view line, size_t id_end);

// The same token, and whether it is made of identifier characters only
// (letters, digits and underscores; a C identifier when it does not start
// with a digit), both as the checks need them.
struct MessageName {
  std::string_view name;
  bool identifier_chars = false;
};
MessageName message_name_of(std::string_view line, size_t id_end);

}  // namespace tolvane

#endif  // TOLVANE_SOURCE_MESSAGE_LINE_H_
