#include "msgfile/records.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "msgfile/catalogue.h"
#include "msgfile/table_block.h"
#include "test_util/catalogue_bytes.h"

namespace tolvane {
namespace {

// Bytes written out by hand: pairs of hexadecimal digits, blanks ignored.
std::string hex(const char* digits) {
  std::string bytes;
  std::string pair;
  for (const char* p = digits; *p; ++p) {
    if (*p == ' ') continue;
    pair += *p;
    if (pair.size() == 2) {
      bytes.push_back(static_cast<char>(std::stoi(pair, nullptr, 16)));
      pair.clear();
    }
  }
  return bytes;
}

std::string zeros(size_t n) { return std::string(n, '\0'); }

TEST(Coding, WritesLowByteFirst) {
  std::string out;
  write_u16(&out, 0x4D53);
  EXPECT_EQ(out, hex("53 4D"));
  out.clear();
  write_u32(&out, 0x00010002);
  EXPECT_EQ(out, hex("02 00 01 00"));
  out.clear();
  // Only the bits of the width are written.
  write_u8(&out, 0x1234);
  write_u16(&out, 0xABCDEF);
  write_u32(&out, 0xFFFFFFFF);
  EXPECT_EQ(out, hex("34 EF CD FF FF FF FF"));
}

TEST(Coding, ShortReadsYieldZeros) {
  ByteReader empty("");
  EXPECT_EQ(empty.read_u16(), 0);
  EXPECT_EQ(empty.read_u32(), 0u);

  std::string one = hex("53");
  ByteReader low_only(one);
  EXPECT_EQ(low_only.read_u16(), 0x0053);

  std::string three = hex("01 02 03");
  ByteReader partial(three);
  EXPECT_EQ(partial.read_u32(), 0x00030201u);
  // The position moves on past the end, and stays consistent there.
  EXPECT_EQ(partial.position(), 4u);
  EXPECT_EQ(partial.read_u8(), 0);

  std::string chars = "AB";
  ByteReader in(chars);
  char field[4] = {'w', 'x', 'y', 'z'};
  in.read_chars(field, 4);
  EXPECT_EQ(std::string(field, 4), "AByz");
}

TEST(CharFields, FillWithZerosAndTakeNoTerminatorWhenFull) {
  char field[kNameWidth];
  std::memset(field, 'q', sizeof field);
  set_chars(field, kNameWidth, "F.F");
  EXPECT_EQ(std::string(field, kNameWidth), "F.F" + zeros(29));

  std::string long_name = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";  // 36 characters
  set_chars(field, kNameWidth, long_name);
  EXPECT_EQ(std::string(field, kNameWidth), long_name.substr(0, 32));
  EXPECT_EQ(get_chars(field, kNameWidth), long_name.substr(0, 32));

  set_chars(field, kNameWidth, long_name.substr(0, 32));
  EXPECT_EQ(std::string(field, kNameWidth), long_name.substr(0, 32));

  // A C string ends at its first 0x00.
  set_chars(field, kNameWidth, std::string("AB\0CD", 5));
  EXPECT_EQ(std::string(field, kNameWidth), "AB" + zeros(30));

  MsgFileHeader header;
  set_chars(header.name, kNameWidth, long_name);
  header.language_count = 0x0102;
  std::string out;
  write_header(&out, header);
  EXPECT_EQ(out, hex("53 4D 01 01") + long_name.substr(0, 32) + hex("02 01"));
}

// A small complete catalogue: a new file X.MSG with one EN table
// (FONFILE F, byte coding, FILETYPE 1, APPLITYPE 2) holding the messages 2 "b"
// and 1 "a", in that source order.
std::string small_catalogue_by_hand() {
  return hex("53 4D 01 01") + "X.MSG" + zeros(27) + hex("01 00") +  // header
         "EN" + hex("01 00 2E 00 00 00") +                          // directory
         hex("02 00 01 00") + "F" + zeros(31) +                     // record
         hex("01 00 02 00 5A 00 00 00") +                           //
         hex("01 00 08 00 00 00 02 00 00 00 00 00") +               // index
         std::string("b\0a\0", 4);                                  // texts
}

TEST(SmallCatalogue, WrittenFieldByFieldMatchesTheLayoutByteForByte) {
  MsgFileHeader header;
  set_chars(header.name, kNameWidth, "X.MSG");
  header.language_count = 1;
  LanguageEntry entry;
  set_chars(entry.language, kLanguageWidth, "EN");
  entry.table_count = 1;
  entry.table_offset = 46;
  TableRecord record;
  record.type_key = 1 * 65536 + 2;
  set_chars(record.font_file, kFontFileWidth, "F");
  record.coding = 1;
  record.message_count = 2;
  record.index_offset = 90;
  MessageIndex index;
  index.add(2, 2);  // "b" and its terminator
  index.add(1, 2);  // "a"

  std::string file;
  write_header(&file, header);
  EXPECT_EQ(file.size(), 38u);
  write_language_entry(&file, entry);
  EXPECT_EQ(file.size(), 46u);
  write_table_record(&file, record);
  EXPECT_EQ(file.size(), 90u);
  std::vector<IndexEntry> sorted = index.sorted();
  ASSERT_EQ(sorted.size(), 2u);
  EXPECT_EQ(sorted[0].message_id, 1);
  EXPECT_EQ(sorted[0].text_offset, 8u);
  EXPECT_EQ(sorted[1].message_id, 2);
  EXPECT_EQ(sorted[1].text_offset, 0u);
  for (const IndexEntry& e : sorted) write_index_entry(&file, e);
  EXPECT_EQ(file.size(), 102u);
  file.append("b\0a\0", 4);

  EXPECT_EQ(file.size(), 106u);
  EXPECT_EQ(file, small_catalogue_by_hand());
}

// The test helper lays the catalogue out as the build does: the tests of the
// whole run compare the tool's bytes with the helper's.
TEST(SmallCatalogue, TheTestHelperLaysOutTheSameBytes) {
  EXPECT_EQ(testing::add_table("", {"EN", {{2, "b"}, {1, "a"}}}, "X.MSG"),
            small_catalogue_by_hand());
}

TEST(Records, ReadInvertsWrite) {
  std::mt19937 random(7);
  auto u16 = [&] { return static_cast<uint16_t>(random()); };
  auto chars = [&](char* field, size_t width) {
    for (size_t i = 0; i < width; ++i) field[i] = static_cast<char>(random());
  };
  for (int round = 0; round < 100; ++round) {
    MsgFileHeader header;
    header.file_id = u16();
    header.version = u16();
    chars(header.name, kNameWidth);
    header.language_count = u16();
    LanguageEntry entry;
    chars(entry.language, kLanguageWidth);
    entry.table_count = u16();
    entry.table_offset = random();
    TableRecord record;
    record.type_key = random();
    chars(record.font_file, kFontFileWidth);
    record.coding = u16();
    record.message_count = u16();
    record.index_offset = random();
    IndexEntry index_entry{u16(), static_cast<uint32_t>(random())};

    std::string bytes;
    write_header(&bytes, header);
    write_language_entry(&bytes, entry);
    write_table_record(&bytes, record);
    write_index_entry(&bytes, index_entry);
    ASSERT_EQ(bytes.size(), kHeaderSize + kLanguageEntrySize + kTableRecordSize + kIndexEntrySize);

    ByteReader in(bytes);
    MsgFileHeader header2;
    LanguageEntry entry2;
    TableRecord record2;
    IndexEntry index_entry2;
    read_header(in, &header2);
    read_language_entry(in, &entry2);
    read_table_record(in, &record2);
    read_index_entry(in, &index_entry2);
    EXPECT_EQ(in.position(), bytes.size());

    EXPECT_EQ(header2.file_id, header.file_id);
    EXPECT_EQ(header2.version, header.version);
    EXPECT_EQ(0, std::memcmp(header2.name, header.name, kNameWidth));
    EXPECT_EQ(header2.language_count, header.language_count);
    EXPECT_EQ(0, std::memcmp(entry2.language, entry.language, kLanguageWidth));
    EXPECT_EQ(entry2.table_count, entry.table_count);
    EXPECT_EQ(entry2.table_offset, entry.table_offset);
    EXPECT_EQ(record2.type_key, record.type_key);
    EXPECT_EQ(0, std::memcmp(record2.font_file, record.font_file, kFontFileWidth));
    EXPECT_EQ(record2.coding, record.coding);
    EXPECT_EQ(record2.message_count, record.message_count);
    EXPECT_EQ(record2.index_offset, record.index_offset);
    EXPECT_EQ(index_entry2.message_id, index_entry.message_id);
    EXPECT_EQ(index_entry2.text_offset, index_entry.text_offset);
  }
}

TEST(Records, FieldsSitAtTheirOffsets) {
  // type_key's APPLITYPE half comes first on disk; message_count and
  // index_offset close the record.
  TableRecord record;
  record.type_key = 0x00030004;
  record.coding = 0;
  record.message_count = 0x0506;
  record.index_offset = 0x0708090A;
  std::string bytes;
  write_table_record(&bytes, record);
  ASSERT_EQ(bytes.size(), kTableRecordSize);
  EXPECT_EQ(bytes.substr(0, 4), hex("04 00 03 00"));
  EXPECT_EQ(bytes.substr(36), hex("00 00 06 05 0A 09 08 07"));

  LanguageEntry entry;
  set_chars(entry.language, kLanguageWidth, "F");
  entry.table_count = 2;
  entry.table_offset = 0x01020304;
  bytes.clear();
  write_language_entry(&bytes, entry);
  EXPECT_EQ(bytes, hex("46 00 02 00 04 03 02 01"));
}

}  // namespace
}  // namespace tolvane
