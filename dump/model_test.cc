#include "dump/model.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "base/failure.h"
#include "dump/all_modes.h"
#include "dump/check.h"
#include "dump/command.h"
#include "dump/dump_test_util.h"

namespace tolvane::dump {
namespace {

using testing::build_catalogue;
using testing::put16;
using testing::put32;
using tolvane::testing::message_source;
using tolvane::testing::TempDir;

TEST(InspectTest, ReadsTheWorkedExample) {
  TempDir dir;
  const std::string bytes = build_catalogue(
      dir, {message_source("EN", "#message 2 B \"b\"\n#message 1 A \"a\"\n")}, "x.msg");
  ASSERT_EQ(bytes.size(), 106u);
  const OpenCatalogue catalogue = inspect_catalogue(bytes);
  EXPECT_EQ(get_chars(catalogue.header.name, kNameWidth), "X.MSG");
  ASSERT_EQ(catalogue.languages.size(), 1u);
  EXPECT_EQ(catalogue.languages[0].records_offset, 46u);
  ASSERT_EQ(catalogue.tables.size(), 1u);
  const TableLayout& table = catalogue.tables[0];
  EXPECT_EQ(table.record_offset, 46u);
  EXPECT_EQ(table.record.type_key, 0x00010002u);
  EXPECT_EQ(table.block_begin, 90u);
  EXPECT_EQ(table.index_end, 102u);
  EXPECT_EQ(table.block_end, 106u);
  const TableContent content = read_table(catalogue, table);
  EXPECT_TRUE(content.exact) << content.inexact_reason;
  EXPECT_EQ(content.texts_end, 106u);
  ASSERT_EQ(content.messages.size(), 2u);
  EXPECT_EQ(content.messages[0].id, 1);
  EXPECT_EQ(content.messages[0].text_offset, 8u);
  EXPECT_EQ(content.messages[0].position, 104u);
  EXPECT_EQ(read_text(catalogue, table, content.messages[0]), "a");
  EXPECT_EQ(content.messages[1].position, 102u);
  EXPECT_EQ(read_text(catalogue, table, content.messages[1]), "b");
}

TEST(InspectTest, TextsEndWhereTheNextTextBegins) {
  TempDir dir;
  // An empty table first: its block is empty and shares its offset with the
  // next one. Then texts holding terminator bytes of their own.
  const std::string bytes = build_catalogue(
      dir, {message_source("EN", ""),
            message_source("EN", "#message 3 C \"ab\\0cd\"\n#message 1 A \"\"\n"),
            message_source("JA", "#message 1 A \"\\x41\\x00\\x00\\x00\\x42\\x00\"\n", "UNICODE")});
  const OpenCatalogue catalogue = inspect_catalogue(bytes);
  ASSERT_EQ(catalogue.tables.size(), 3u);
  EXPECT_EQ(catalogue.tables[0].block_begin, catalogue.tables[1].block_begin);
  EXPECT_EQ(catalogue.tables[0].block_end, catalogue.tables[0].block_begin);

  TableContent en = read_table(catalogue, catalogue.tables[1]);
  ASSERT_TRUE(en.exact) << en.inexact_reason;
  EXPECT_EQ(read_text(catalogue, catalogue.tables[1], en.messages[0]), "");
  EXPECT_EQ(read_text(catalogue, catalogue.tables[1], en.messages[1]), std::string("ab\0cd", 5));
  // Texts "ab\0cd\0" and "\0" are odd in total: a fill byte follows.
  EXPECT_EQ(en.texts_end, catalogue.tables[1].block_end - 1);

  TableContent ja = read_table(catalogue, catalogue.tables[2]);
  ASSERT_TRUE(ja.exact) << ja.inexact_reason;
  EXPECT_EQ(read_text(catalogue, catalogue.tables[2], ja.messages[0]),
            std::string("A\0\0\0B\0", 6));

  // Once the texts no longer lie back to back, a text ends at its first
  // terminator: the first 0x00, or for UNICODE the first two in a row.
  std::string damaged = bytes + "!";  // the last block now has an odd length
  put32(&damaged, catalogue.tables[1].block_begin + 2, 99);
  const OpenCatalogue view = inspect_catalogue(damaged);
  ja = read_table(view, view.tables[2]);
  EXPECT_FALSE(ja.exact);
  EXPECT_EQ(read_text(view, view.tables[2], ja.messages[0]), "\x41");
  en = read_table(view, view.tables[1]);
  EXPECT_FALSE(en.exact);
  EXPECT_EQ(read_text(view, view.tables[1], en.messages[1]), "ab");
}

class RobustnessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bytes_ = build_catalogue(
        dir_, {message_source("EN", "#message 2 B \"bb\"\n#message 1 A \"a\\0b\"\n"),
               message_source("JA", "#message 5 E \"\\x00\\x41\"\n#message 5 F \"\"\n", "UNICODE"),
               message_source("EN", "#message 9 Z \"z\"\n")});
  }
  // What the modes that show texts print, or how they refuse.
  static std::string shown_by_every_mode(const std::string& bytes, BlockWindows windows = {}) {
    std::vector<DumpOptions> runs(2);
    runs[0].mode = runs[1].mode = Mode::kMessages;
    runs[1].json = true;
    for (const char* language : {"EN", "JA"}) {
      for (unsigned rank : {1, 2}) {
        runs.emplace_back();
        runs.back().mode = Mode::kSource;
        runs.back().source_language = language;
        runs.back().source_rank = rank;
      }
    }
    std::string shown;
    for (DumpOptions& options : runs) {
      options.windows = windows;
      try {
        shown += run_dump(options, bytes, "").out;
      } catch (const Failure& failure) {
        shown += "refused: " + failure.message();
      }
      shown += "\n--\n";
    }
    return shown;
  }
  // Every mode, and a memory bound: no table reads more entries than the
  // file can hold, whatever its counts claim. Large blocks are read through
  // a window rather than whole: a tiny window, splitting every text and
  // every UNICODE terminator at each place, must show the same.
  void survives(const std::string& bytes) {
    run_all_modes(bytes);
    if (!not_msg_file_reason(bytes).empty()) return;
    const OpenCatalogue catalogue = inspect_catalogue(bytes);
    for (const TableLayout& table : catalogue.tables) {
      ASSERT_LE(read_table(catalogue, table).messages.size(), bytes.size() / 6);
    }
    const std::string whole = shown_by_every_mode(bytes);
    ASSERT_EQ(shown_by_every_mode(bytes, {.whole_block = 0, .large_block_window = 3}), whole);
  }
  TempDir dir_;
  std::string bytes_;
};

TEST_F(RobustnessTest, EveryTruncationIsRefusedOrFoundDamaged) {
  for (size_t size = 0; size < bytes_.size(); ++size) {
    SCOPED_TRACE(size);
    const std::string cut = bytes_.substr(0, size);
    survives(cut);
    if (size < 38) {
      EXPECT_THROW(inspect_catalogue(cut), Failure);
    } else {
      EXPECT_FALSE(check_catalogue(inspect_catalogue(cut)).empty());
    }
  }
}

TEST_F(RobustnessTest, ExtremeFieldValues) {
  const OpenCatalogue catalogue = inspect_catalogue(bytes_);
  std::vector<std::pair<uint64_t, int>> fields = {{2, 2}, {36, 2}};
  for (const LanguageLayout& language : catalogue.languages) {
    fields.push_back({language.entry_offset + 2, 2});
    fields.push_back({language.entry_offset + 4, 4});
  }
  for (const TableLayout& table : catalogue.tables) {
    for (uint64_t at : {0, 36, 38}) fields.push_back({table.record_offset + at, at ? 2 : 4});
    fields.push_back({table.record_offset + 40, 4});
    for (uint64_t entry = table.block_begin; entry < table.index_end; entry += 6) {
      fields.push_back({entry, 2});
      fields.push_back({entry + 2, 4});
    }
  }
  for (auto [offset, width] : fields) {
    for (uint32_t value : {0u, 1u, 5u, 0x7FFFu, 0x8000u, 0xFFFFu, 0x7FFFFFFFu, 0xFFFFFFFFu,
                           0xFFFFFFFAu, static_cast<uint32_t>(bytes_.size())}) {
      SCOPED_TRACE(std::to_string(offset) + " = " + std::to_string(value));
      std::string bytes = bytes_;
      if (width == 2) {
        put16(&bytes, offset, value);
      } else {
        put32(&bytes, offset, value);
      }
      survives(bytes);
    }
  }
}

TEST_F(RobustnessTest, RandomDamage) {
  std::mt19937 rng(11);
  for (int i = 0; i < 600; ++i) {
    std::string bytes = bytes_;
    for (int k = rng() % 6 + 1; k > 0; --k) {
      bytes[rng() % bytes.size()] = static_cast<char>(rng() % 4 == 0 ? 0 : rng());
    }
    if (rng() % 4 == 0) bytes.resize(rng() % bytes.size());
    survives(bytes);
  }
}

}  // namespace
}  // namespace tolvane::dump
