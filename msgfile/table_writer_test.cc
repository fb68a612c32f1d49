#include "msgfile/table_writer.h"

#include <gtest/gtest.h>

#include <string>

#include "msgfile/catalogue.h"
#include "msgfile/memory_file.h"
#include "platform/fake_file_system.h"

namespace tolvane {
namespace {

// A new catalogue with one table of two texts, 5 bytes in all, written by
// `write`; returns the file's bytes.
template <typename Write>
std::string one_table(Write write) {
  Catalogue empty;
  set_chars(empty.header.name, kNameWidth, "APP.MSG");
  CataloguePlan plan(empty, "APP.MSG");
  EXPECT_TRUE(plan.add_step("EN", 0x10002, false));
  plan.finish_planning();
  FakeFileSystem fs;
  auto out = fs.open("app.msg", OpenMode::kCreate);
  TableWriter writer(plan, *out, "APP.MSG");
  writer.check_room(0);
  TableBlockBuilder block;
  block.add(7, 2);  // "a"
  block.add(3, 3);  // "bc"
  std::string texts("a\0bc\0", 5);
  EXPECT_EQ(writer.add_table(0, NewTable{0x10002, "FONT", kByteCoding, 2, 5}), BlockTurn::kNow);
  write(writer, block, texts, *out);
  writer.carry_old_blocks(nullptr);
  writer.write_header_area();
  std::string bytes;
  fs.get_file("app.msg", &bytes);
  return bytes;
}

// The whole block (index, texts, the fill an odd length needs) and the
// record land where the header area says, whether the texts were kept or
// are encoded again at their place: the file passes every damage rule.
TEST(TableWriter, WritesAWholeTableEitherWay) {
  const std::string kept =
      one_table([](TableWriter& writer, TableBlockBuilder& block, std::string& texts, File&) {
        writer.write_block(0, block, texts);
      });
  const std::string again =
      one_table([](TableWriter& writer, TableBlockBuilder& block, std::string& texts, File& out) {
        FileWriter at(&out, writer.texts_position(0));
        at.append(texts);
        writer.finish_block(0, block, at);
      });
  EXPECT_EQ(kept, again);
  const uint64_t area = kHeaderSize + kLanguageEntrySize + kTableRecordSize;
  ASSERT_EQ(kept.size(), area + 2 * kIndexEntrySize + 5 + 1);
  EXPECT_EQ(kept.back(), '\0');
  MemoryFile file(kept);
  Catalogue read;
  EXPECT_EQ(read_catalogue(file, "APP.MSG", &read), std::nullopt);
  ASSERT_EQ(read.tables.size(), 1u);
  const TableRecord& record = read.tables[0].record;
  EXPECT_EQ(record.message_count, 2);
  EXPECT_EQ(record.type_key, 0x10002u);
  EXPECT_EQ(get_chars(record.font_file, kFontFileWidth), "FONT");
  EXPECT_EQ(record.index_offset, area);
}

// The offsets of the format reach 4 GiB: a table that would take the file
// past that, its fill included, is refused before anything of it is
// written, as is one whose earlier tables already do.
TEST(TableWriter, RefusesAFilePast4GiB) {
  Catalogue empty;
  CataloguePlan plan(empty, "APP.MSG");
  ASSERT_TRUE(plan.add_step("EN", 1, false));
  ASSERT_TRUE(plan.add_step("FR", 1, false));
  plan.finish_planning();
  FakeFileSystem fs;
  auto out = fs.open("app.msg", OpenMode::kCreate);
  TableWriter writer(plan, *out, "APP.MSG");
  // The bytes left after the first step's header area; an odd number, so
  // that texts of that size take one more for their fill.
  const uint64_t room = UINT32_MAX - (kHeaderSize + kLanguageEntrySize + kTableRecordSize);
  ASSERT_EQ(room % 2, 1u);
  for (uint64_t text_bytes : {room + 1, room}) {
    try {
      writer.add_table(0, NewTable{1, "F", kByteCoding, 0, text_bytes});
      ADD_FAILURE() << text_bytes << " bytes fit";
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.kind(), FailureKind::kInput);
      EXPECT_EQ(failure.message(), "APP.MSG : the file would grow past 4 GiB");
    }
  }
  // A file of 4 GiB less two bytes fits; then no second table does.
  EXPECT_EQ(writer.add_table(0, NewTable{1, "F", kByteCoding, 0, room - 1}), BlockTurn::kNow);
  EXPECT_THROW(writer.check_room(1), Failure);
}

}  // namespace
}  // namespace tolvane
