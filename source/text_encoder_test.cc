#include "source/text_encoder.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "base/failure.h"
#include "test_util/test_util.h"

namespace tolvane {
namespace {

using ::tolvane::testing::catch_failure;
using namespace std::string_literals;

// Encodes into an output that already holds bytes, as the build's text
// buffer does, and checks that those bytes stay and that the count returned
// is exactly what was appended.
std::string encode(std::string_view text, uint16_t coding) {
  const std::string before = "\x01prefix\xFF"s;
  std::string out = before;
  uint32_t count = encode_text(text, coding, &out);
  EXPECT_EQ(out.substr(0, before.size()), before) << "earlier bytes changed";
  EXPECT_EQ(count, out.size() - before.size()) << "count differs from bytes appended";
  return out.substr(before.size());
}

std::string Bytes(std::string_view text) { return encode(text, kByteCoding); }
std::string unicode(std::string_view text) { return encode(text, kUnicodeCoding); }

// ---------------------------------------------------------------------------
// Byte coding

TEST(ByteText, PlainTextGetsOneTerminator) {
  EXPECT_EQ(Bytes(""), "\0"s);
  EXPECT_EQ(Bytes("Hello"), "Hello\0"s);
  EXPECT_EQ(Bytes("A\\tB"), "A\tB\0"s);
  EXPECT_EQ(Bytes("x\\\"y"), "x\"y\0"s);
  // Bytes outside ASCII and quotes left in the raw text pass unchanged.
  EXPECT_EQ(Bytes("caf\xC3\xA9 \x80\xFF"), "caf\xC3\xA9 \x80\xFF\0"s);
  EXPECT_EQ(Bytes("a\"b"), "a\"b\0"s);
}

TEST(ByteText, EveryEscapeOfTheTable) {
  struct Row {
    char after;
    char byte;
  };
  const Row rows[] = {{'"', 0x22}, {'\'', 0x27}, {'?', 0x3F}, {'\\', 0x5C},
                      {'a', 0x07}, {'b', 0x08},  {'f', 0x0C}, {'n', 0x0A},
                      {'r', 0x0D}, {'t', 0x09},  {'v', 0x0B}};
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string("\\") + row.after);
    const std::string text = std::string("a\\") + row.after + "b";
    EXPECT_EQ(Bytes(text), std::string("a") + row.byte + "b" + '\0');
    // At the very end of the text too.
    EXPECT_EQ(Bytes(std::string("\\") + row.after), std::string(1, row.byte) + '\0');
  }
  // Escapes back to back, and a backslash escape followed by what would
  // otherwise start another escape.
  EXPECT_EQ(Bytes("\\n\\r\\t"), "\n\r\t\0"s);
  EXPECT_EQ(Bytes("\\\\n"), "\\n\0"s);
  EXPECT_EQ(Bytes("\\\\x41"), "\\x41\0"s);
}

TEST(ByteText, HexEscapesTakeOneOrTwoDigits) {
  EXPECT_EQ(Bytes("\\x41"), "A\0"s);
  EXPECT_EQ(Bytes("\\xaF"), "\xAF\0"s);
  EXPECT_EQ(Bytes("\\xFF\\x00"), "\xFF\0\0"s);
  EXPECT_EQ(Bytes("\\x4g"), "\x04g\0"s);
  EXPECT_EQ(Bytes("\\x414"), "A4\0"s);
  EXPECT_EQ(Bytes("\\x4"), "\x04\0"s);
  EXPECT_EQ(Bytes("\\x4\\n"), "\x04\n\0"s);
  // The x is lower case only; \X is an unknown escape.
  EXPECT_EQ(Bytes("\\X41"), "X41\0"s);
}

TEST(ByteText, HexEscapeWithoutDigitFails) {
  auto expect_failure = [](std::string_view text, const std::string& message) {
    SCOPED_TRACE(std::string(text));
    std::string out;
    Failure failure = catch_failure([&] { encode_text(text, kByteCoding, &out); });
    // The program shows it under its heading for errors.
    EXPECT_EQ(failure.message(), message);
    EXPECT_FALSE(failure.self_contained());
    EXPECT_EQ(failure.kind(), FailureKind::kInput);
  };
  expect_failure("\\xg1", "\\xg: hex constants must have at least one hex digit");
  expect_failure("ok \\x \\x41", "\\x : hex constants must have at least one hex digit");
  // At the very end there is no character to show, and no NUL byte either.
  expect_failure("\\x", "\\x: hex constants must have at least one hex digit");
  expect_failure("abc\\x", "\\x: hex constants must have at least one hex digit");
  // The text ends before the digits that follow it in memory.
  const std::string memory = "a\\x41";
  expect_failure(std::string_view(memory).substr(0, 3),
                 "\\x: hex constants must have at least one hex digit");
}

TEST(ByteText, OctalEscapes) {
  EXPECT_EQ(Bytes("\\101"), "A\0"s);
  EXPECT_EQ(Bytes("\\12x"), "\nx\0"s);
  EXPECT_EQ(Bytes("a\\0b"), "a\0b\0"s);
  EXPECT_EQ(Bytes("\\0"), "\0\0"s);
  EXPECT_EQ(Bytes("\\08"),
            "\0"s
            "8\0"s);
  EXPECT_EQ(Bytes("\\7"), "\x07\0"s);
  EXPECT_EQ(Bytes("\\47"), "'\0"s);
  EXPECT_EQ(Bytes("\\377"), "\xFF\0"s);
  EXPECT_EQ(Bytes("\\1234"), "S4\0"s);
  // Three digits starting with 4 to 7 are no escape: the digits stay text.
  EXPECT_EQ(Bytes("\\400"), "400\0"s);
  EXPECT_EQ(Bytes("\\477"), "477\0"s);
  EXPECT_EQ(Bytes("\\777x"), "777x\0"s);
  // 8 and 9 are not octal digits.
  EXPECT_EQ(Bytes("\\8"), "8\0"s);
  EXPECT_EQ(Bytes("\\19"),
            "\x01"s
            "9\0"s);
}

TEST(ByteText, OctalEscapeReportsDigitsUsed) {
  struct Case {
    std::string_view rest;
    int consumed;
    uint8_t value;
  };
  const Case cases[] = {{"101", 3, 0x41}, {"12x", 2, 10},   {"0", 1, 0},   {"08", 1, 0},
                        {"377", 3, 255},  {"3777", 3, 255}, {"400", 0, 0}, {"47", 2, 39},
                        {"8", 0, 0},      {"", 0, 0},       {"x1", 0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.rest));
    int consumed = -1;
    uint8_t value = octal_escape(c.rest, &consumed);
    EXPECT_EQ(consumed, c.consumed);
    if (c.consumed > 0) {
      EXPECT_EQ(value, c.value);
    }
  }
}

TEST(ByteText, UnknownEscapesDropOnlyTheBackslash) {
  EXPECT_EQ(Bytes("\\q"), "q\0"s);
  EXPECT_EQ(Bytes("a\\zb"), "azb\0"s);
  EXPECT_EQ(Bytes("\\ "), " \0"s);
  EXPECT_EQ(Bytes("\\e"), "e\0"s);
  EXPECT_EQ(Bytes("end\\"), "end\0"s);
  EXPECT_EQ(Bytes("\\"), "\0"s);
  // The character after a dropped backslash is handled as usual.
  EXPECT_EQ(Bytes("\\q\\n"), "q\n\0"s);
}

TEST(ByteText, ReadsNothingPastTheEndOfTheText) {
  const std::string memory = "a\\x41\\101\\n";
  const std::string_view view(memory);
  EXPECT_EQ(Bytes(view.substr(0, 4)), "a\x04\0"s);  // a\x4
  EXPECT_EQ(Bytes(view.substr(0, 2)), "a\0"s);      // a\ .
  EXPECT_EQ(Bytes(view.substr(5, 2)), "\x01\0"s);   // \1
  EXPECT_EQ(Bytes(view.substr(5, 3)), "\x08\0"s);   // \10
  EXPECT_EQ(Bytes(view.substr(9, 1)), "\0"s);       // a lone backslash
}

// Plain bytes are copied many at a time up to the next backslash: escapes
// at every place of texts longer than several such steps read as they do
// in a short text.
TEST(ByteText, EscapesAtEveryPlaceOfLongTexts) {
  auto plain = [](size_t count) {
    std::string out;
    for (size_t k = 0; k < count; ++k) out += static_cast<char>('a' + k % 26);
    return out;
  };
  for (size_t length = 0; length <= 50; ++length) {
    for (size_t at = 0; at <= length; ++at) {
      const std::string rest = plain(length - at), tail = plain(length % 19);
      const std::string text = plain(at) + "\\n" + rest + "\\\\" + tail;
      EXPECT_EQ(Bytes(text), plain(at) + "\n" + rest + "\\" + tail + "\0"s) << text;
    }
  }
}

TEST(HexDigitValue, DigitsAndEverythingElse) {
  EXPECT_EQ(hex_digit_value('0'), 0);
  EXPECT_EQ(hex_digit_value('9'), 9);
  EXPECT_EQ(hex_digit_value('a'), 10);
  EXPECT_EQ(hex_digit_value('f'), 15);
  EXPECT_EQ(hex_digit_value('A'), 10);
  EXPECT_EQ(hex_digit_value('F'), 15);
  for (char c : {'/', ':', '@', 'G', '`', 'g', 'x', ' ', '\0', '\xFF', '\x80'}) {
    EXPECT_EQ(hex_digit_value(c), 255) << static_cast<int>(c);
  }
}

// ---------------------------------------------------------------------------
// UNICODE coding

TEST(UnicodeText, WritesOnlyByteNotations) {
  EXPECT_EQ(unicode("\\x00\\x41 0x00 0x42"), "\0A\0B\0\0"s);
  EXPECT_EQ(unicode("Hello"), "\0\0"s);
  EXPECT_EQ(unicode(""), "\0\0"s);
  EXPECT_EQ(unicode("0x41,0x42;\\x43"), "ABC\0\0"s);
  EXPECT_EQ(unicode("\\x410x42"), "AB\0\0"s);
  EXPECT_EQ(unicode("text \\xfF then \\xFf"), "\xFF\xFF\0\0"s);
  // Upper-case X is not a notation.
  EXPECT_EQ(unicode("0X41 \\X42"), "\0\0"s);
  // An escape of byte text means nothing here.
  EXPECT_EQ(unicode("\\n\\101"), "\0\0"s);
}

TEST(UnicodeText, NonHexDigitsCountAs255) {
  EXPECT_EQ(unicode("\\xg1"), "\xF1\0\0"s);  // 16 * 255 + 1
  EXPECT_EQ(unicode("0x1g"), "\x0F\0\0"s);   // 16 + 255
  EXPECT_EQ(unicode("\\xzz"), "\xEF\0\0"s);  // 16 * 255 + 255
}

TEST(UnicodeText, NotationCutShortWritesNothing) {
  EXPECT_EQ(unicode("\\x4"), "\0\0"s);
  EXPECT_EQ(unicode("\\x"), "\0\0"s);
  EXPECT_EQ(unicode("0x4"), "\0\0"s);
  EXPECT_EQ(unicode("0x"), "\0\0"s);
  EXPECT_EQ(unicode("\\x41\\x4"), "A\0\0"s);
  EXPECT_EQ(unicode("0x41 0x"), "A\0\0"s);
  // The digits after the end of the text are not read.
  const std::string memory = "0x41\\x42";
  EXPECT_EQ(unicode(std::string_view(memory).substr(0, 3)), "\0\0"s);
  EXPECT_EQ(unicode(std::string_view(memory).substr(0, 7)), "A\0\0"s);
}

// Long texts are read thirty-two or sixteen bytes at a time: every byte
// value, each spelling of a notation, and a break (a bad digit, a
// separator, a stray character) at every place of runs of every length must
// read as one notation at a time does.
TEST(UnicodeText, LongRunsReadAsNotationsOneByOne) {
  const char* const kHex = "0123456789abcdef0123456789ABCDEF";
  for (size_t count = 0; count <= 21; ++count) {
    for (size_t at = 0; at <= count; ++at) {
      for (const char* brk : {"", "g", ",", " ", "q"}) {
        std::string text;
        std::string expected;
        for (size_t k = 0; k < count; ++k) {
          const unsigned byte = (k * 73 + count * 11 + at) & 0xFF;
          const unsigned high = byte >> 4, low = byte & 15;
          const size_t upper = (k + at) % 3 == 0 ? 16 : 0;
          std::string notation = k % 2 == 0 ? "\\x" : "0x";
          notation += kHex[high + upper];
          notation += kHex[low + (k % 5 == 0 ? 16 - upper : upper)];
          unsigned written = byte;
          if (k == at && std::string(brk) == "g") {
            notation[3] = 'g';  // a digit that is none: it counts as 255
            written = (16 * high + 255) & 0xFF;
          } else if (k == at) {
            text += brk;
          }
          text += notation;
          expected += static_cast<char>(written);
        }
        std::string out;
        std::vector<TextFinding> findings;
        const uint32_t length = encode_text(text, kUnicodeCoding, &out, &findings);
        const bool odd = count % 2 != 0, bad_digit = at < count && std::string(brk) == "g",
                   stray = at < count && std::string(brk) == "q";
        EXPECT_EQ(out, expected + "\0\0"s) << text;
        EXPECT_EQ(length, out.size()) << text;
        EXPECT_EQ(findings.size(), size_t{odd} + bad_digit + stray) << text;
      }
    }
  }
}

TEST(EncodeText, AppendsAfterEarlierTexts) {
  std::string out;
  EXPECT_EQ(encode_text("ab", kByteCoding, &out), 3u);
  EXPECT_EQ(encode_text("\\x41", kUnicodeCoding, &out), 3u);
  EXPECT_EQ(encode_text("", kByteCoding, &out), 1u);
  EXPECT_EQ(encode_text("c\\n", kByteCoding, &out), 3u);
  EXPECT_EQ(out, "ab\0A\0\0\0c\n\0"s);
}

}  // namespace
}  // namespace tolvane
