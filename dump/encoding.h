// Texts whose bytes do not say what their table's coding says: the
// `encoding` findings of --lint, for catalogues built elsewhere or before
// their sources were checked.
#ifndef TOLVANE_DUMP_ENCODING_H_
#define TOLVANE_DUMP_ENCODING_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tolvane::dump {

struct EncodingIssue {
  enum class Kind : uint8_t {
    kOddBytes,   // a UNICODE text of an odd number of bytes
    kSurrogate,  // a UNICODE text with a surrogate that has no partner
    kUtf8,       // a byte text that is well-formed multi-byte UTF-8
  };
  Kind kind = Kind::kOddBytes;
  uint32_t value = 0;  // the byte count; the surrogate; the first multi-byte character
  uint32_t count = 0;  // where the surrogate is (in units); how many multi-byte characters
};

// A byte text, up to its first 0x00.
std::optional<EncodingIssue> check_byte_text(std::string_view text);

// A UNICODE text stored in `span`: from where it begins to where the next
// text begins or, for the `last` text of its block, to the block's end.
std::optional<EncodingIssue> check_unicode_text(std::string_view span, bool last);

// The finding's wording.
std::string encoding_detail(const EncodingIssue& issue);

}  // namespace tolvane::dump

#endif  // TOLVANE_DUMP_ENCODING_H_
