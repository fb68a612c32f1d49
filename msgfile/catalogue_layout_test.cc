#include "msgfile/catalogue_layout.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "msgfile/memory_file.h"
#include "test_util/catalogue_bytes.h"

namespace tolvane {
namespace {

using testing::add_table;
using ::testing::HasSubstr;
using testing::read_bytes;

void put_u16(std::string* bytes, size_t offset, uint32_t value) {
  encode_u16(bytes->data() + offset, value);
}
void put_u32(std::string* bytes, size_t offset, uint32_t value) {
  encode_u32(bytes->data() + offset, value);
}

Catalogue layout_of(const std::string& bytes) {
  MemoryFile file(bytes);
  return read_layout(file);
}

// Where each table and its block lie, read from what the file holds, cut
// short or not: a block runs to the next one's start or to the file's end.
TEST(ReadLayout, PlacesEveryTableAndBlockTheFileHolds) {
  // Header 0-37, entries at 38 and 46, records at 54 and 98; EN's block at
  // 142 (index 142-153, texts "b" "a"), FR's at 158 ("cc" and a fill byte).
  const std::string good =
      add_table(add_table("", {"EN", {{2, "b"}, {1, "a"}}}), {"FR", {{3, "cc"}}});
  Catalogue c = layout_of(good);
  ASSERT_TRUE(c.header_complete);
  EXPECT_EQ(c.file_size, 168u);
  EXPECT_EQ(c.directory_end, 54u);
  EXPECT_EQ(c.records_end, 142u);
  ASSERT_EQ(c.languages.size(), 2u);
  EXPECT_EQ(c.languages[1].entry_offset, 46u);
  EXPECT_EQ(c.languages[1].records_offset, 98u);
  EXPECT_EQ(c.languages[1].first_table, 1u);
  EXPECT_EQ(c.languages[1].tables_in_file, 1u);
  ASSERT_EQ(c.tables.size(), 2u);
  const TableLayout& en = c.tables[0];
  EXPECT_EQ(c.table_name(en), "EN:1");
  EXPECT_EQ(en.record_offset, 54u);
  EXPECT_EQ(en.block_begin, 142u);
  EXPECT_EQ(en.index_end, 154u);
  EXPECT_EQ(en.block_end, 158u);
  EXPECT_EQ(c.table_name(c.tables[1]), "FR:1");
  EXPECT_EQ(c.tables[1].block_end, 168u);

  // Cut inside FR's record: both entries, EN's record alone, and EN's block
  // reaching past the end it cannot be found in.
  c = layout_of(good.substr(0, 120));
  EXPECT_EQ(c.records_wanted, 2u);
  EXPECT_EQ(c.records_end, 142u);
  ASSERT_EQ(c.languages.size(), 2u);
  EXPECT_EQ(c.languages[1].tables_in_file, 0u);
  ASSERT_EQ(c.tables.size(), 1u);
  EXPECT_EQ(c.tables[0].block_begin, 142u);
  EXPECT_EQ(c.tables[0].block_end, 142u);

  // An empty table's block is empty, even where another block begins.
  c = layout_of(add_table(add_table("", {"EN", {}}), {"FR", {{3, "cc"}}}));
  ASSERT_EQ(c.tables.size(), 2u);
  EXPECT_EQ(c.tables[0].block_begin, c.tables[1].block_begin);
  EXPECT_EQ(c.tables[0].block_end, c.tables[0].block_begin);

  EXPECT_FALSE(layout_of(good.substr(0, kHeaderSize - 1)).header_complete);
}

// Every kind of damage is named before anything relies on the layout.
TEST(DamageRules, NamesEachKindOfDamage) {
  const std::string good =
      add_table(add_table("", {"EN", {{2, "b"}, {1, "a"}}}), {"FR", {{3, "cc"}}});
  // Header 0-37; EN entry 38 (count 40, offset 42); FR entry 46 (count 48,
  // offset 50); records at 54 and 98 (message_count +38, index_offset +40).
  const size_t size = good.size();
  Catalogue catalogue;
  ASSERT_EQ(read_bytes(good, &catalogue), std::nullopt);

  auto damage = [&](const std::string& bytes) {
    Catalogue c;
    std::optional<std::string> problem = read_bytes(bytes, &c);
    return problem.value_or("(none)");
  };
  std::string bytes;

  EXPECT_THAT(damage(good.substr(0, 37)), HasSubstr("header"));
  EXPECT_THAT(damage(""), HasSubstr("header"));
  EXPECT_THAT(damage(good.substr(0, 38)), HasSubstr("directory"));  // two languages announced

  bytes = good;
  put_u16(&bytes, 36, 40000);
  EXPECT_THAT(damage(bytes), HasSubstr("language count 40000"));
  put_u16(&bytes, 36, static_cast<uint32_t>((size - 38) / 8 + 1));
  EXPECT_THAT(damage(bytes), HasSubstr("directory"));

  bytes = good;
  put_u32(&bytes, 42, 56);
  EXPECT_THAT(damage(bytes), HasSubstr("table offset 56"));
  bytes = good;
  put_u32(&bytes, 50, 54);  // FR's records pointed at EN's
  EXPECT_THAT(damage(bytes), HasSubstr("table offset 54"));

  bytes = good;
  put_u16(&bytes, 48, static_cast<uint32_t>(size / 44 + 1));
  EXPECT_THAT(damage(bytes), HasSubstr("records"));
  EXPECT_THAT(damage(good.substr(0, 141)), HasSubstr("records"));

  bytes = good;
  put_u16(&bytes, 40, 40000);
  EXPECT_THAT(damage(bytes), HasSubstr("table count 40000"));

  bytes = good;
  put_u16(&bytes, 98 + 38, 32768);
  EXPECT_THAT(damage(bytes), HasSubstr("message count 32768"));

  bytes = good;
  put_u32(&bytes, 54 + 40, 100);  // inside the header area
  EXPECT_THAT(damage(bytes), HasSubstr("table block"));
  put_u32(&bytes, 54 + 40, static_cast<uint32_t>(size + 2));
  EXPECT_THAT(damage(bytes), HasSubstr("table block"));
  put_u32(&bytes, 54 + 40, static_cast<uint32_t>(size - 6));  // two entries, room for one
  EXPECT_THAT(damage(bytes), HasSubstr("table block"));
  put_u32(&bytes, 54 + 40, 0xFFFFFFFF);
  EXPECT_THAT(damage(bytes), HasSubstr("table block"));
  bytes = good;
  put_u16(&bytes, 98 + 38, static_cast<uint16_t>((size - (size_t{106} + 52)) / 6 + 1));
  EXPECT_THAT(damage(bytes), HasSubstr("table block"));

  // A damaged file read before does not leave its values behind.
  ASSERT_TRUE(read_bytes(good.substr(0, 141), &catalogue).has_value());
  ASSERT_EQ(read_bytes(good, &catalogue), std::nullopt);
  EXPECT_EQ(catalogue.languages.size(), 2u);
  EXPECT_EQ(catalogue.tables.size(), 2u);
  EXPECT_EQ(catalogue.file_size, size);
}

// The build and the inspector share one set of rules: what a build accepts
// also passes the inspector's check. These three a build once let through.
TEST(DamageRules, RefusesWhatTheCheckRefuses) {
  const std::string good =
      add_table(add_table("", {"EN", {{2, "b"}, {1, "a"}}}), {"FR", {{3, "cc"}}});
  // Records at 54 (EN) and 98 (FR); EN's block at 142: entries 1 and 2.
  auto damage = [&](const std::string& bytes) {
    Catalogue c;
    return read_bytes(bytes, &c).value_or("(none)");
  };
  std::string bytes = good;
  put_u16(&bytes, 54 + kRecordCodingAt, 2);
  EXPECT_EQ(damage(bytes),
            "table EN:1: the coding 2 is neither 0 (UNICODE) nor 1 (byte) at byte 90");
  bytes = good;
  put_u16(&bytes, 142, 5);  // identifiers 5, 2
  EXPECT_THAT(damage(bytes),
              HasSubstr("message 2 follows message 5: the index is not in ascending"));
  // EN's first text moved into FR's block, which is inside the file.
  bytes = good;
  put_u32(&bytes, 142 + kIndexTextOffsetAt, 8 + 6);
  EXPECT_THAT(damage(bytes), HasSubstr("outside the block's texts at 154..158 at byte 144"));
}

}  // namespace
}  // namespace tolvane
