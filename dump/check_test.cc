#include "dump/check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/failure.h"
#include "dump/dump_test_util.h"
#include "dump/model.h"

namespace tolvane::dump {
namespace {

using testing::build_catalogue;
using testing::put16;
using testing::put32;
using tolvane::testing::message_source;
using tolvane::testing::TempDir;

std::string listing(const std::vector<Problem>& problems) {
  std::string out;
  for (const Problem& p : problems) out += std::to_string(p.offset) + ": " + p.text + "\n";
  return out;
}

std::vector<Problem> check(const std::string& bytes) {
  return check_catalogue(inspect_catalogue(bytes));
}

// Expects a problem at `offset` whose text holds `text`.
void expect_problem(const std::string& bytes, uint64_t offset, const std::string& text) {
  std::vector<Problem> problems = check(bytes);
  for (const Problem& p : problems) {
    if (p.offset == offset && p.text.find(text) != std::string::npos) return;
  }
  ADD_FAILURE() << "no problem \"" << text << "\" at " << offset << " in:\n" << listing(problems);
}

// Three runs: EN (byte), FR (UNICODE), EN again. Layout: header 38, entries
// EN at 38 and FR at 46, records EN:1 at 54, EN:2 at 98, FR:1 at 142; blocks
// from 186 in the order the tables were added: EN:1, FR:1, EN:2.
class CheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    good_ = build_catalogue(
        dir_,
        {message_source("EN", "#message 2 B \"bb\"\n#message 1 A \"a\"\n#message 3 C \"c\"\n"),
         message_source("FR", "#message 1 A \"\\x00\\x41\"\n", "UNICODE"),
         message_source("EN", "#message 9 Z \"z\"\n")});
    catalogue_ = inspect_catalogue(good_);
    ASSERT_EQ(catalogue_.tables.size(), 3u);
    ASSERT_EQ(catalogue_.tables[0].record_offset, 54u);
    ASSERT_EQ(catalogue_.tables[0].block_begin, 186u);
  }
  const TableLayout& en1() const { return catalogue_.tables[0]; }
  const TableLayout& en2() const { return catalogue_.tables[1]; }
  const TableLayout& fr1() const { return catalogue_.tables[2]; }

  TempDir dir_;
  std::string good_;
  OpenCatalogue catalogue_;
};

TEST_F(CheckTest, FilesTheToolBuildsPass) {
  EXPECT_EQ(listing(check(good_)), "");
  TempDir other;
  // Empty tables share their offset with the next block; odd text lengths
  // need fill bytes; UNICODE texts of odd length; embedded NULs.
  const std::string bytes = build_catalogue(
      other, {message_source("EN", "#message 1 A none\n"),
              message_source("JA", "#message 1 A \"\\x41\"\n#message 2 B \"\\x42\"\n", "UNICODE"),
              message_source("EN", "#message 65535 C \"\\0x\"\n#message 0 D \"\"\n"),
              message_source("DE", "#message 4 E none\n")});
  EXPECT_EQ(listing(check(bytes)), "");
}

TEST_F(CheckTest, FindsDamageInTheHeaderArea) {
  std::string bytes = good_;
  put16(&bytes, 36, 40);
  expect_problem(bytes, 36, "calls for a directory up to byte 358");
  put16(&bytes, 36, 40000);
  expect_problem(bytes, 36, "the language count 40000 is over 32767");

  bytes = good_;
  put32(&bytes, 46 + 4, 99);  // FR's records are at 142
  expect_problem(bytes, 50, "disagrees with where its records are, byte 142");
  bytes[46] = 'E';
  bytes[47] = 'N';
  expect_problem(bytes, 46, "language \"EN\" appears again (first at byte 38)");

  bytes = good_;
  put16(&bytes, 46 + 2, 1000);  // FR claims 1000 tables
  expect_problem(bytes, 230, "call for 1002 records");
  put16(&bytes, 46 + 2, 33000);
  expect_problem(bytes, 48, "the table count 33000 is over 32767");

  bytes = good_;
  put16(&bytes, fr1().record_offset + 36, 7);
  expect_problem(bytes, fr1().record_offset + 36, "the coding 7 is neither");
}

TEST_F(CheckTest, FindsBlocksOutOfPlace) {
  const uint64_t field = en2().record_offset + 40;
  std::string bytes = good_;
  put32(&bytes, field, 100);
  expect_problem(bytes, field, "inside the header area, which ends at 186");
  put32(&bytes, field, good_.size() + 10);
  expect_problem(bytes, field, "past the end of the file");
  put32(&bytes, field, en2().block_begin + 1);
  expect_problem(bytes, field, "begins at the odd offset");
  put32(&bytes, field, en1().block_begin);
  expect_problem(bytes, field, "is also the block of table EN:1");

  bytes = good_;
  put16(&bytes, en2().record_offset + 38, 40000);
  expect_problem(bytes, en2().record_offset + 38, "the message count 40000 is over 32767");
  expect_problem(bytes, field, "its index of 40000 entries runs to byte");

  // EN:1's index growing by two entries runs into FR:1's block.
  bytes = good_;
  put16(&bytes, en1().record_offset + 38, 5);
  expect_problem(bytes, fr1().block_begin, "its index runs to byte");

  // One byte more at the end leaves the last block ending at an odd offset.
  expect_problem(good_ + "x", good_.size() + 1, "ends at the odd offset");

  // Two bytes that belong to no table between the records and the blocks.
  bytes = good_.substr(0, 186) + "??" + good_.substr(186);
  for (const TableLayout& table : catalogue_.tables) {
    put32(&bytes, table.record_offset + 40, table.block_begin + 2);
  }
  expect_problem(bytes, 186, "2 bytes after the table records belong to no table");
}

TEST_F(CheckTest, FindsDamageInsideBlocks) {
  // EN:1's entries: 1 at 186, 2 at 192, 3 at 198.
  std::string bytes = good_;
  put16(&bytes, 192, 7);
  expect_problem(bytes, 198, "message 3 follows message 7: the index is not in ascending order");

  bytes = good_;
  put32(&bytes, 194, 100000);
  expect_problem(bytes, 194, "its text offset 100000 points to byte 100198, outside");
  put32(&bytes, 194, static_cast<uint32_t>(-12));  // back into its own index
  expect_problem(bytes, 194, "points to byte 186, outside");

  // The last text of a block loses its terminator.
  bytes = good_;
  const uint64_t end = en2().block_end;
  ASSERT_EQ(bytes.substr(end - 2), std::string("z\0", 2));
  bytes[end - 1] = '!';
  expect_problem(bytes, end - 2,
                 "is not terminated before the block ends at " + std::to_string(end));
  // UNICODE texts end with two 0x00 bytes only: one is not enough.
  bytes = good_;
  const uint64_t fr_end = fr1().block_end;
  ASSERT_EQ(bytes.substr(fr1().index_end, fr_end - fr1().index_end), std::string("\0A\0\0", 4));
  bytes[fr_end - 1] = 'B';
  expect_problem(bytes, fr1().index_end, "is not terminated");
}

TEST(CheckNotMsgFileTest, RefusesFilesWithoutAnMsgHeader) {
  EXPECT_THROW(inspect_catalogue(""), Failure);
  EXPECT_EQ(not_msg_file_reason(std::string(37, '\0')),
            "the file is cut short: 37 bytes, but the header alone takes 38");
  std::string header(38, '\0');
  header[0] = 'M';
  header[1] = 'S';
  EXPECT_EQ(not_msg_file_reason(header), "not an MSG file: its FILE ID is 0x534D, not 0x4D53");
  header[0] = 'S';
  header[1] = 'M';
  EXPECT_EQ(not_msg_file_reason(header), "");
  // A bare header with no language is a valid, empty catalogue.
  EXPECT_EQ(listing(check(header)), "");
}

}  // namespace
}  // namespace tolvane::dump
