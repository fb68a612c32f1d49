// The name a #message line gives: the token after its identifier. The
// reader finds it for its checks, and the names header asks for it again,
// up to twice per line; while the reader hands a line on, it says where that
// line's name is, so that asking costs a comparison instead of a scan.
#ifndef TOLVANE_SOURCE_MESSAGE_LINE_H_
#define TOLVANE_SOURCE_MESSAGE_LINE_H_

#include <cstddef>
#include <optional>
#include <string_view>

namespace tolvane {

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

// The name of `line` when it is the very line (same bytes in memory) that
// the reader on this thread is handing on, as the reader found it.
std::optional<std::string_view> name_being_handed_on(std::string_view line);

// Says, for as long as it lives, that `line`, whose name is `name`, is being
// handed on; the line must not change meanwhile. Set for every #message
// line, so it costs no call.
class HandingOn {
 public:
  HandingOn(std::string_view line, std::string_view name)
      : outer_(current_), line_(line), name_(name) {
    current_ = this;
  }
  ~HandingOn() { current_ = outer_; }
  HandingOn(const HandingOn&) = delete;
  HandingOn& operator=(const HandingOn&) = delete;

 private:
  // The line being handed on by the reader on this thread, if any.
  static constinit thread_local const HandingOn* current_;
  const HandingOn* outer_;  // restored when this one ends
  std::string_view line_, name_;
  friend std::optional<std::string_view> name_being_handed_on(std::string_view line);
};

}  // namespace tolvane

#endif  // TOLVANE_SOURCE_MESSAGE_LINE_H_
