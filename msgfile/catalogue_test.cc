#include "msgfile/catalogue.h"

#include <gtest/gtest.h>

#include "test_util/catalogue_bytes.h"

namespace tolvane {
namespace {

using testing::add_table;
using testing::read_bytes;

// The header a build checks the FILE ID of comes whole from the start of the
// file, as far as the file holds it, even when the rest is refused.
TEST(ReadCatalogue, FillsTheHeaderAsFarAsTheFileHoldsIt) {
  auto header_of = [&](const std::string& bytes, bool accepted) {
    Catalogue catalogue;
    set_chars(catalogue.header.name, kNameWidth, "PREVIOUS NAME");
    EXPECT_EQ(read_bytes(bytes, &catalogue).has_value(), !accepted);
    return catalogue.header;
  };
  const std::string zeros(25, '\0');
  EXPECT_EQ(header_of("", false).file_id, 0);
  EXPECT_EQ(header_of("\x53", false).file_id, 0x0053);
  EXPECT_EQ(header_of("\x4D\x53", false).file_id, 0x534D);

  MsgFileHeader header = header_of(std::string("\x53\x4D\x07\x00", 4) + "ab", false);
  EXPECT_EQ(header.file_id, kFileId);
  EXPECT_EQ(header.version, 7);
  EXPECT_EQ(get_chars(header.name, kNameWidth), "ab");
  EXPECT_EQ(header.language_count, 0);  // read as zeros past the end

  header = header_of(
      "\x53\x4D\x01\x01"
      "APP.MSG" +
          zeros + std::string("\x03\x00", 2) + "more",
      false);
  EXPECT_EQ(header.version, kCreationVersion);
  EXPECT_EQ(get_chars(header.name, kNameWidth), "APP.MSG");
  EXPECT_EQ(header.language_count, 3);

  header = header_of(
      "\x53\x4D\x01\x01"
      "APP.MSG" +
          zeros + std::string("\0\0", 2),
      true);
  EXPECT_EQ(get_chars(header.name, kNameWidth), "APP.MSG");
}

TEST(ReadCatalogue, FilesLaidOutAsABuildDoesPass) {
  // An empty table first: its block is empty and ends the file.
  Catalogue catalogue;
  std::string bytes = add_table("", {"EN", {}});
  ASSERT_EQ(read_bytes(bytes, &catalogue), std::nullopt);
  ASSERT_EQ(catalogue.tables.size(), 1u);
  EXPECT_EQ(catalogue.tables[0].record.message_count, 0);
  EXPECT_EQ(catalogue.tables[0].record.index_offset, bytes.size());

  bytes = add_table(bytes, {"FR", {{2, "une"}, {1, "deux"}}});
  bytes = add_table(bytes, {"DE", {{2, std::string("\0A", 2)}}, kUnicodeCoding});
  bytes = add_table(bytes, {"EN", {{7, "seven"}}});
  bytes = add_table(bytes, {"FR", {{9, "neuf"}}});
  ASSERT_EQ(read_bytes(bytes, &catalogue), std::nullopt);
  ASSERT_EQ(catalogue.languages.size(), 3u);
  EXPECT_EQ(get_chars(catalogue.languages[0].entry.language, 2), "EN");
  EXPECT_EQ(catalogue.languages[0].entry.table_count, 2);
  EXPECT_EQ(get_chars(catalogue.languages[1].entry.language, 2), "FR");
  EXPECT_EQ(catalogue.languages[1].entry.table_count, 2);
  EXPECT_EQ(get_chars(catalogue.languages[2].entry.language, 2), "DE");
  EXPECT_EQ(catalogue.languages[2].entry.table_count, 1);
  ASSERT_EQ(catalogue.tables.size(), 5u);
  EXPECT_EQ(catalogue.header_area_size(), 38u + 3 * 8 + 5 * 44);
  // Record order: EN (empty, seven), FR (une/deux, neuf), DE.
  const uint16_t counts[] = {0, 1, 2, 1, 1};
  const uint16_t codings[] = {1, 1, 1, 1, 0};
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(catalogue.tables[i].record.message_count, counts[i]) << i;
    EXPECT_EQ(catalogue.tables[i].record.coding, codings[i]) << i;
    EXPECT_EQ(catalogue.tables[i].record.index_offset % 2, 0u) << i;
  }
  EXPECT_EQ(bytes.size() % 2, 0u);
}

}  // namespace
}  // namespace tolvane
