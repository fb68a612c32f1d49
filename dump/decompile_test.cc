#include "dump/decompile.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "base/failure.h"
#include "dump/dump_test_util.h"
#include "dump/model.h"

namespace tolvane::dump {
namespace {

using testing::build_catalogue;
using testing::put32;
using testing::table_block;
using tolvane::testing::message_source;
using tolvane::testing::read_file;
using tolvane::testing::TempDir;

std::string decompile(const std::string& bytes, size_t record, const NameTable& names = {}) {
  OpenCatalogue catalogue = inspect_catalogue(bytes);
  return decompile_table(catalogue, catalogue.tables.at(record), names);
}

// Raw texts as an author writes them, drawn from every kind of escape the
// byte encoder knows, the quirks of text extraction included.
std::string random_byte_text(std::mt19937& rng) {
  static const std::vector<std::string> kPieces = {
      "a",     "Z",   " ",    "7",     "x",     "?",     "'",     "\\n",    "\\t",  "\\a",
      "\\b",   "\\f", "\\r",  "\\v",   "\\'",   "\\?",   "\\\\",  "\\\"",   "\\x4", "\\x41",
      "\\xfF", "\\1", "\\12", "\\101", "\\377", "\\0",   "\\477", "\\8",    "\\q",  "\"",
      "\t",    "\r",  "\x80", "\xe9",  "\xff",  "\\001", "0x41",  "\\x414", "5"};
  std::uniform_int_distribution<size_t> length(0, 12);
  std::uniform_int_distribution<size_t> piece(0, kPieces.size() - 1);
  std::string text;
  for (size_t n = length(rng); n > 0; --n) text += kPieces[piece(rng)];
  // A lone backslash can only end a text: the encoder drops it.
  if (rng() % 10 == 0) text += "\\";
  return text;
}

// UNICODE texts: byte notations with separators and text the encoder skips.
std::string random_unicode_text(std::mt19937& rng) {
  static const std::vector<std::string> kPieces = {
      "\\x00", "\\x41", "\\xFF", "\\xe9", "0x00", "0x30", "0xab",      " ",
      ",",     "Hi",    "0xZZ",  "\\x0",  "\\",   "x",    "\\x00\\x00"};
  std::uniform_int_distribution<size_t> length(0, 10);
  std::uniform_int_distribution<size_t> piece(0, kPieces.size() - 1);
  std::string text;
  for (size_t n = length(rng); n > 0; --n) text += kPieces[piece(rng)];
  // A notation cut short by the end of the text writes nothing.
  if (rng() % 8 == 0) text += rng() % 2 ? "\\x4" : "0x";
  return text;
}

std::string random_body(std::mt19937& rng, bool unicode) {
  static const std::vector<long> kIds = {0, 1, 2, 5, 5, 7, 300, 65535, -1, 70000, 65536};
  std::string body;
  std::uniform_int_distribution<size_t> count(0, 50);
  for (size_t n = count(rng); n > 0; --n) {
    long id = kIds[rng() % kIds.size()];
    std::string line = "#message " + std::to_string(id) + " NAME_" + std::to_string(n);
    switch (rng() % 12) {
      case 0:  // no text: a name but no entry
        body += line + " none\n";
        continue;
      case 1:  // not a message line at all
        body += "// a comment \"with quotes\"\n";
        continue;
      case 2:
        body += line + " \"\"\n";
        continue;
      default:
        break;
    }
    body += line + " \"" + (unicode ? random_unicode_text(rng) : random_byte_text(rng)) + "\"\n";
  }
  return body;
}

// Builds `source`, decompiles its table, builds the result and compares the
// blocks and records byte for byte.
void expect_round_trip(const std::string& source) {
  TempDir original_dir;
  const std::string original = build_catalogue(original_dir, {source});
  ASSERT_GT(original.size(), 0u) << source;
  const std::string decompiled = decompile(original, 0);

  TempDir rebuilt_dir;
  const std::string rebuilt = build_catalogue(rebuilt_dir, {decompiled});
  ASSERT_EQ(table_block(rebuilt, 0), table_block(original, 0)) << "source:\n"
                                                               << source << "\ndecompiled:\n"
                                                               << decompiled;
  // The record and the header come out the same too.
  EXPECT_EQ(rebuilt, original) << decompiled;
  // Decompiling the rebuilt table gives the same source again.
  EXPECT_EQ(decompile(rebuilt, 0), decompiled);
}

TEST(DecompileTest, RoundTripOfGeneratedByteTables) {
  std::mt19937 rng(20240611);
  for (int i = 0; i < 40; ++i) {
    SCOPED_TRACE(i);
    expect_round_trip(message_source("EN", random_body(rng, false), "ISO8859", "FONT_EN",
                                     std::to_string(i % 3), "1f"));
    if (::testing::Test::HasFatalFailure()) return;
  }
}

TEST(DecompileTest, RoundTripOfGeneratedUnicodeTables) {
  std::mt19937 rng(7);
  for (int i = 0; i < 40; ++i) {
    SCOPED_TRACE(i);
    expect_round_trip(
        message_source("JA", random_body(rng, true), "UNICODE", "FONT_JA", "0x12345", "ffff"));
    if (::testing::Test::HasFatalFailure()) return;
  }
}

TEST(DecompileTest, RoundTripOfEdgeTables) {
  // No message with a text; one empty text; a last text whose fill byte could
  // pass for a terminator; embedded NULs at the end of a text.
  expect_round_trip(message_source("EN", "#message 1 A none\n"));
  expect_round_trip(message_source("EN", "#message 1 A \"\"\n"));
  expect_round_trip(message_source("EN", "#message 1 A \"ab\"\n#message 2 B \"c\\0\"\n"));
  expect_round_trip(message_source("EN", "#message 1 A \"abc\\0\\0\"\n"));
  expect_round_trip(message_source("EN", "#message 1 A \"\\0\"\n#message 1 A \"\"\n"));
  expect_round_trip(message_source("JA", "#message 1 A \"\\x41\\x00\"\n", "UNICODE"));
  expect_round_trip(message_source("JA", "#message 1 A \"\\x41\"\n#message 2 B \"\"\n", "UNICODE"));
  expect_round_trip(message_source("E", "#message 1 A \"x\"\n", "ISO", "F", "0", "0"));
  expect_round_trip(message_source("EN", "#message 1 A \"x\"\n", "ISO",
                                   "FONT_NAME_OF_THIRTY_TWO_LETTERS_", "ffff", "ffff"));
}

TEST(DecompileTest, KeepsSourceOrderAndEqualIdentifiers) {
  TempDir dir;
  const std::string bytes = build_catalogue(
      dir, {message_source("EN",
                           "#message 5 X \"x\"\n#message 2 B \"b\"\n#message 5 Y \"y\"\n"
                           "#message -1 M \"m\"\n#message 70000 BIG \"big\"\n")});
  EXPECT_EQ(decompile(bytes, 0),
            "// #LANGUAGE EN\n// #FONFILE F\n// #MSGCODING BYTE\n// #FILETYPE 1\n"
            "// #APPLITYPE 2\n"
            "#message 5 MSG_5 \"x\"\n#message 2 MSG_2 \"b\"\n#message 5 MSG_5 \"y\"\n"
            "#message 65535 MSG_65535 \"m\"\n#message 4464 MSG_4464 \"big\"\n");
}

TEST(DecompileTest, TakesNamesFromTheNamesHeader) {
  TempDir dir;
  const std::string bytes =
      build_catalogue(dir, {message_source("EN",
                                           "#message 1 HELLO \"h\"\n#message 70000 BIG \"b\"\n"
                                           "#message 9 NINE \"n\"\n")});
  // Names as the tool wrote them, plus names no #message line could carry.
  NameTable names(read_file(dir / "names.h") + "#define BAD\"NAME 9\n#define 1 1\n");
  const std::string source = decompile(bytes, 0, names);
  EXPECT_NE(source.find("#message 1 HELLO \"h\"\n"), std::string::npos) << source;
  EXPECT_NE(source.find("#message 4464 BIG \"b\"\n"), std::string::npos) << source;
  EXPECT_NE(source.find("#message 9 NINE \"n\"\n"), std::string::npos) << source;
}

TEST(DecompileTest, RefusesTablesNoSourceRebuilds) {
  TempDir dir;
  const std::string good =
      build_catalogue(dir, {message_source("EN", "#message 1 A \"a\"\n#message 1 B \"bc\"\n")});
  // Header 38, one entry, record at 46, block at 90: entries at 90 and 96,
  // texts "a" at 102 and "bc" at 104; the index holds the later text first.
  ASSERT_EQ(good.size(), 108u);
  auto refuses = [](const std::string& bytes, const std::string& why) {
    try {
      decompile(bytes, 0);
      ADD_FAILURE() << "no refusal, expected: " << why;
    } catch (const Failure& failure) {
      EXPECT_NE(failure.message().find(why), std::string::npos) << failure.message();
    }
  };
  std::string shared = good;
  put32(&shared, 92, 6);  // both entries point at the text at 102
  refuses(shared, "share the text");
  std::string reordered = good;  // equal identifiers in source order
  put32(&reordered, 92, 6);
  put32(&reordered, 98, 2);
  refuses(reordered, "not in the order a build gives");
  std::string unterminated = good;
  unterminated[106] = 'x';  // the last text loses its terminator and fill
  unterminated[107] = 'y';
  refuses(unterminated, "does not end in its terminator");
  std::string odd = good + "z";
  refuses(odd, "odd length");
  std::string font = good;
  font[46 + 4 + 1] = ' ';  // a blank in the font file
  refuses(font, "font file");
}

}  // namespace
}  // namespace tolvane::dump
