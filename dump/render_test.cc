#include "dump/render.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <random>
#include <string>

#include "base/failure.h"
#include "dump/dump_test_util.h"
#include "dump/model.h"
#include "msgfile/escape.h"
#include "source/text_encoder.h"

namespace tolvane::dump {
namespace {

using testing::build_catalogue;
using testing::put32;
using tolvane::testing::message_source;
using tolvane::testing::TempDir;

// A strict JSON syntax check: enough to know a script can parse the output.
class JsonChecker {
 public:
  explicit JsonChecker(const std::string& text) : s_(text) {}
  bool document() {
    space();
    if (!value()) return false;
    space();
    return i_ == s_.size();
  }

 private:
  void space() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\n')) ++i_;
  }
  bool eat(char c) {
    space();
    if (i_ < s_.size() && s_[i_] == c) {
      ++i_;
      return true;
    }
    return false;
  }
  bool string() {
    if (!eat('"')) return false;
    while (i_ < s_.size() && s_[i_] != '"') {
      unsigned char c = static_cast<unsigned char>(s_[i_++]);
      if (c < 0x20 || c >= 0x7F) return false;  // the output promises ASCII
      if (c == '\\') {
        if (i_ >= s_.size()) return false;
        char e = s_[i_++];
        if (e == 'u') {
          i_ += 4;
        } else if (std::string("\"\\/bfnrt").find(e) == std::string::npos) {
          return false;
        }
      }
    }
    return eat('"');
  }
  bool value() {
    space();
    if (i_ >= s_.size()) return false;
    char c = s_[i_];
    if (c == '"') return string();
    if (c == '{' || c == '[') {
      const char close = c == '{' ? '}' : ']';
      ++i_;
      if (eat(close)) return true;
      do {
        if (c == '{' && (!string() || !eat(':'))) return false;
        if (!value()) return false;
      } while (eat(','));
      return eat(close);
    }
    for (const char* word : {"true", "false"}) {
      if (s_.compare(i_, std::strlen(word), word) == 0) {
        i_ += std::strlen(word);
        return true;
      }
    }
    size_t start = i_;
    while (i_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[i_]))) ++i_;
    return i_ > start;
  }
  const std::string& s_;
  size_t i_ = 0;
};

TEST(EscapeTest, EveryByteReencodesExactly) {
  // Each byte, followed by characters an escape could swallow.
  for (int b = 0; b < 256; ++b) {
    for (const char* after : {"", "0", "7", "8", "x", "f", "\\"}) {
      const std::string bytes = std::string(1, static_cast<char>(b)) + after;
      std::string encoded;
      encode_byte_text(c_escape(bytes), &encoded);
      EXPECT_EQ(encoded, bytes + '\0') << b << " + " << after << " as " << c_escape(bytes);
      encoded.clear();
      encode_unicode_text(byte_notation(bytes), &encoded);
      EXPECT_EQ(encoded, bytes + std::string(2, '\0')) << b;
    }
  }
  EXPECT_EQ(c_escape(std::string("a\"b\\c\n\t\0"
                                 "1\xe9",
                                 10)),
            "a\\\"b\\\\c\\n\\t\\0001\\351");
  EXPECT_EQ(byte_notation(std::string("\0A\xff", 3)), "\\x00\\x41\\xFF");
}

class RenderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bytes_ = build_catalogue(
        dir_, {message_source("EN", "#message 2 B \"b\\n\"\n#message 1 A \"\\\"a\\\"\\0x\"\n",
                              "ISO8859", "FONT_EN", "1", "2a"),
               message_source("JA", "#message 7 G \"\\x30\\x42\"\n", "UNICODE", "FONT_JA")});
    catalogue_ = inspect_catalogue(bytes_);
  }
  TempDir dir_;
  std::string bytes_;
  OpenCatalogue catalogue_;
};

TEST_F(RenderTest, SummaryShowsEveryLanguageAndTable) {
  EXPECT_EQ(render_summary(catalogue_, select_tables(catalogue_, {})),
            "MSG file of 174 bytes\n"
            "Header: name \"APP.MSG\", version 0x0101, 2 languages\n"
            "Language EN: 1 table, entry at 38, records at 54\n"
            "  Table EN:1, record at 54\n"
            "    file type 0x1, application type 0x2A (type_key 0x0001002A)\n"
            "    font file \"FONT_EN\", coding byte (1)\n"
            "    2 messages, block 142..164: index 142..154, texts from 154\n"
            "Language JA: 1 table, entry at 46, records at 98\n"
            "  Table JA:1, record at 98\n"
            "    file type 0x1, application type 0x2 (type_key 0x00010002)\n"
            "    font file \"FONT_JA\", coding UNICODE (0)\n"
            "    1 message, block 164..174: index 164..170, texts from 170\n");
}

TEST_F(RenderTest, MessagesShowTheStoredTexts) {
  EXPECT_EQ(render_messages(catalogue_, select_tables(catalogue_, {})),
            "Table EN:1: 2 messages, coding byte\n"
            "      1  at 157  \"\\\"a\\\"\\000x\"\n"
            "      2  at 154  \"b\\n\"\n"
            "Table JA:1: 1 message, coding UNICODE\n"
            "      7  at 170  \"\\x30\\x42\"\n");
  // A damaged table shows what it can.
  std::string bytes = bytes_;
  put32(&bytes, 144, 99999);
  bytes[163] = 'y';  // the fill byte: "b\n" lies no longer back to back with the rest
  bytes[162] = 'z';
  OpenCatalogue damaged = inspect_catalogue(bytes);
  Selection en;
  en.all_languages = false;
  en.language = "EN";
  EXPECT_EQ(render_messages(damaged, select_tables(damaged, en)),
            "Table EN:1: 2 messages, coding byte\n"
            "      1  text offset 99999 points to byte 100147, outside the block\n"
            "      2  at 154  \"b\\n\"\n");
  bytes[155] = 'q';
  bytes[156] = 'q';
  bytes[160] = 'w';
  damaged = inspect_catalogue(bytes);
  EXPECT_EQ(render_messages(damaged, select_tables(damaged, en)),
            "Table EN:1: 2 messages, coding byte\n"
            "      1  text offset 99999 points to byte 100147, outside the block\n"
            "      2  at 154  \"bqq\\\"a\\\"wxzy\" (not terminated)\n");
}

TEST_F(RenderTest, SelectsLanguagesAndTables) {
  Selection selection;
  selection.all_languages = false;
  selection.language = "JAPANESE";  // compared on two characters, as a build does
  Shown shown = select_tables(catalogue_, selection);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].language, 1u);
  EXPECT_EQ(shown[0].tables, std::vector<size_t>{1});
  selection.rank = 2;
  EXPECT_THROW(select_tables(catalogue_, selection), Failure);
  selection.language = "FR";
  selection.rank = 0;
  EXPECT_THROW(select_tables(catalogue_, selection), Failure);
  Selection first;
  first.rank = 1;
  EXPECT_EQ(select_tables(catalogue_, first).size(), 2u);
}

TEST_F(RenderTest, JsonIsOneValidDocumentEvenForDamagedFiles) {
  const std::string json = render_json(catalogue_, select_tables(catalogue_, {}), true, nullptr);
  EXPECT_TRUE(JsonChecker(json).document()) << json;
  EXPECT_NE(json.find("\"text\": \"\\\\\\\"a\\\\\\\"\\\\000x\", \"bytes\": \"2261220078\"}"),
            std::string::npos)
      << json;
  EXPECT_NE(json.find("\"type_key\": 65578, \"file_type\": 1, \"application_type\": 42"),
            std::string::npos);
  // Random damage anywhere never breaks the document.
  std::mt19937 rng(3);
  for (int i = 0; i < 300; ++i) {
    std::string bytes = bytes_;
    for (int k = 0; k < 4; ++k) bytes[38 + rng() % (bytes.size() - 38)] = static_cast<char>(rng());
    OpenCatalogue damaged = inspect_catalogue(bytes);
    std::vector<Problem> problems = check_catalogue(damaged);
    const std::string doc = render_json(damaged, select_tables(damaged, {}), true, &problems);
    ASSERT_TRUE(JsonChecker(doc).document()) << doc;
  }
}

}  // namespace
}  // namespace tolvane::dump
