#include "dump/encoding.h"

#include <algorithm>
#include <cstdio>

#include "msgfile/escape.h"
#include "platform/utf8.h"

namespace tolvane::dump {
namespace {

using Kind = EncodingIssue::Kind;

bool zeros(std::string_view bytes) {
  for (char c : bytes) {
    if (c != '\0') return false;
  }
  return true;
}

// The size of a UNICODE text before its two-byte terminator, as the layout
// gives it: the text runs up to the next one, and the last text of a block
// may be followed by the block's fill byte. When both readings fit, the even
// one is taken, as --source does: an odd last text cannot be told from an
// even one whose last byte is 0x00. Nothing when the span ends in no
// terminator (texts that do not lie back to back).
std::optional<size_t> unicode_size(std::string_view span, bool last) {
  const size_t n = span.size();
  std::optional<size_t> no_fill, fill;
  if (n >= 2 && zeros(span.substr(n - 2))) no_fill = n - 2;
  if (last && n >= 3 && zeros(span.substr(n - 3))) fill = n - 3;
  if (no_fill && *no_fill % 2 == 0) return no_fill;
  if (fill && *fill % 2 == 0) return fill;
  return no_fill ? no_fill : fill;
}

std::string utf8(uint32_t c) {
  std::string out;
  if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | c >> 6));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | c >> 12));
    out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | c >> 18));
    out.push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
  }
  out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  return out;
}

}  // namespace

std::optional<EncodingIssue> check_byte_text(std::string_view text) {
  text = text.substr(0, std::min(text.size(), text.find('\0')));
  EncodingIssue issue;
  issue.kind = Kind::kUtf8;
  for (size_t i = 0; i < text.size();) {
    if (static_cast<unsigned char>(text[i]) < 0x80) {
      ++i;
      continue;
    }
    // Strict UTF-8: no overlong form, no surrogate, nothing above U+10FFFF.
    char32_t c;
    if (!next_utf8(text, &i, &c)) return std::nullopt;
    if (issue.count++ == 0) issue.value = c;
  }
  if (issue.count == 0) return std::nullopt;
  return issue;
}

std::optional<EncodingIssue> check_unicode_text(std::string_view span, bool last) {
  const std::optional<size_t> size = unicode_size(span, last);
  if (size && *size % 2 != 0)
    return EncodingIssue{Kind::kOddBytes, static_cast<uint32_t>(*size), 0};
  // The units a reader takes: up to the first 0x0000.
  const auto unit = [&](size_t k) {
    return static_cast<uint32_t>(static_cast<unsigned char>(span[2 * k]) << 8 |
                                 static_cast<unsigned char>(span[2 * k + 1]));
  };
  const size_t units = span.size() / 2;
  for (size_t k = 0; k < units && unit(k) != 0; ++k) {
    const uint32_t u = unit(k);
    if (u < 0xD800 || u > 0xDFFF) continue;
    const bool high = u <= 0xDBFF;
    if (high && k + 1 < units && unit(k + 1) >= 0xDC00 && unit(k + 1) <= 0xDFFF) {
      ++k;  // a pair
      continue;
    }
    return EncodingIssue{Kind::kSurrogate, u, static_cast<uint32_t>(k)};
  }
  return std::nullopt;
}

std::string encoding_detail(const EncodingIssue& issue) {
  switch (issue.kind) {
    case Kind::kOddBytes:
      return "its UNICODE text has an odd number of bytes (" + std::to_string(issue.value) +
             "): readers take 16-bit units and read past its terminator";
    case Kind::kSurrogate:
      return "its UNICODE text has an unpaired surrogate " + hex_number(issue.value, 4) +
             " at unit " + std::to_string(issue.count) + ": it stands for no character";
    case Kind::kUtf8:
      break;
  }
  char code[16];
  std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(issue.value));
  return "its byte text is well-formed UTF-8 with " + std::to_string(issue.count) +
         " multi-byte character" + (issue.count == 1 ? "" : "s") + " (the first " +
         std::string(code) + ", " + c_escape(utf8(issue.value)) +
         "): an 8-bit font shows each as two to four wrong characters";
}

}  // namespace tolvane::dump
