#include "msgfile/catalogue.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "driver/run.h"
#include "platform/fake_file_system.h"
#include "test_util/test_util.h"

namespace tolvane {
namespace {

using ::testing::HasSubstr;

// The damage found, as the build names it after the file's name.
std::optional<std::string> read_bytes(const std::string& bytes, Catalogue* catalogue) {
  FakeFileSystem fs;
  fs.set_file("app.msg", bytes);
  auto file = fs.open("app.msg", OpenMode::kRead);
  std::optional<Failure> damage = read_catalogue(*file, "APP.MSG", catalogue);
  if (!damage) return std::nullopt;
  EXPECT_EQ(damage->kind(), FailureKind::kInput);
  const std::string heading = "APP.MSG : ";
  EXPECT_EQ(damage->message().rfind(heading, 0), 0u) << damage->message();
  return damage->message().substr(heading.size());
}

// The build's plan, or the message of the failure refusing it.
std::optional<std::string> plan(const Catalogue& old, const std::string& language,
                                const TableRecord& record, HeaderArea* area) {
  try {
    plan_header_area(old, "APP.MSG", language, record, area);
    return std::nullopt;
  } catch (const Failure& failure) {
    return failure.message();
  }
}

// Runs the tool once on app.msg with a source of the given language.
void build_into(FakeFileSystem& fs, bool create, const std::string& language,
                const std::string& body, const std::string& coding = "ISO8859") {
  fs.set_file("src.h", testing::message_source(language, body, coding));
  testing::RecordingConsole console;
  std::vector<std::string> args;
  if (create) args.push_back("-c");
  args.insert(args.end(), {"-tsrc.h", "-hNames.h", "app.msg"});
  ASSERT_EQ(run_tolvane(args, fs, console), 0) << console.out << console.err;
}

std::string contents(const FakeFileSystem& fs, const std::string& path) {
  std::string content;
  EXPECT_TRUE(fs.get_file(path, &content)) << path;
  return content;
}

LanguageEntry entry_at(const std::string& bytes, size_t offset) {
  ByteReader in(bytes, offset);
  LanguageEntry entry;
  read_language_entry(in, &entry);
  return entry;
}

TableRecord record_at(const std::string& bytes, size_t offset) {
  ByteReader in(bytes, offset);
  TableRecord record;
  read_table_record(in, &record);
  return record;
}

MsgFileHeader header_of(const std::string& bytes) {
  ByteReader in(bytes);
  MsgFileHeader header;
  read_header(in, &header);
  return header;
}

#define EXPECT_ENTRY(bytes, offset, lang, count, table_at)                          \
  do {                                                                              \
    LanguageEntry entry_ = entry_at(bytes, offset);                                 \
    EXPECT_EQ(get_chars(entry_.language, kLanguageWidth), lang) << "at " << offset; \
    EXPECT_EQ(entry_.table_count, count) << "at " << offset;                        \
    EXPECT_EQ(entry_.table_offset, table_at) << "at " << offset;                    \
  } while (0)

TableRecord new_record() {
  TableRecord record;
  record.type_key = 0x00010002;
  set_chars(record.font_file, kFontFileWidth, "F");
  record.coding = 1;
  record.message_count = 77;    // a plan starts the count at 0
  record.index_offset = 12345;  // and sets the offset itself
  return record;
}

// A catalogue held in memory: `counts` tables per language, records laid out
// as the format wants them, blocks of `block_bytes` bytes each after them.
Catalogue make_catalogue(const std::vector<std::pair<std::string, uint16_t>>& counts,
                         uint64_t block_bytes = 8) {
  Catalogue catalogue;
  catalogue.header.language_count = static_cast<uint16_t>(counts.size());
  uint64_t tables = 0;
  for (const auto& [language, count] : counts) tables += count;
  const uint64_t directory_end = kHeaderSize + kLanguageEntrySize * counts.size();
  const uint64_t area_end = directory_end + kTableRecordSize * tables;
  uint64_t records_so_far = 0;
  for (const auto& [language, count] : counts) {
    LanguageEntry entry;
    set_chars(entry.language, kLanguageWidth, language);
    entry.table_count = count;
    entry.table_offset = static_cast<uint32_t>(directory_end + kTableRecordSize * records_so_far);
    records_so_far += count;
    catalogue.languages.push_back(entry);
  }
  for (uint64_t i = 0; i < tables; ++i) {
    TableRecord record;
    record.index_offset = static_cast<uint32_t>(area_end + block_bytes * i);
    catalogue.tables.push_back({.record = record});
  }
  catalogue.file_size = area_end + block_bytes * tables;
  return catalogue;
}

TEST(PlanHeaderArea, NewFile) {
  Catalogue old;
  set_chars(old.header.name, kNameWidth, "X.MSG");
  HeaderArea area;
  ASSERT_EQ(plan(old, "EN", new_record(), &area), std::nullopt);

  ASSERT_EQ(area.bytes.size(), 90u);
  MsgFileHeader header = header_of(area.bytes);
  EXPECT_EQ(header.file_id, kFileId);
  EXPECT_EQ(get_chars(header.name, kNameWidth), "X.MSG");
  EXPECT_EQ(header.language_count, 1);
  EXPECT_ENTRY(area.bytes, 38, "EN", 1, 46u);
  EXPECT_EQ(area.record_pos, 46u);
  EXPECT_EQ(area.data_start, 90u);
  EXPECT_EQ(area.old_blocks_begin, 0u);
  EXPECT_EQ(area.new_record.index_offset, 90u);
  EXPECT_EQ(area.new_record.message_count, 0);
  TableRecord written = record_at(area.bytes, 46);
  EXPECT_EQ(written.type_key, 0x00010002u);
  EXPECT_EQ(get_chars(written.font_file, kFontFileWidth), "F");
  EXPECT_EQ(written.coding, 1);
  EXPECT_EQ(written.message_count, 0);
  EXPECT_EQ(written.index_offset, 90u);
}

// The tool's runs EN, FR, EN on one file: each plan and each file built
// checked offset by offset, and the old blocks carried over unchanged.
TEST(PlanHeaderArea, NewLanguageThenExistingLanguage) {
  FakeFileSystem fs;
  build_into(fs, true, "EN", "#message 2 B \"b\"\n#message 1 A \"a\"\n");
  const std::string first = contents(fs, "app.msg");
  const uint64_t S = first.size();
  ASSERT_EQ(S, 106u);

  // Second run: FR is new.
  Catalogue old;
  ASSERT_EQ(read_bytes(first, &old), std::nullopt);
  HeaderArea area;
  ASSERT_EQ(plan(old, "FR", new_record(), &area), std::nullopt);
  ASSERT_EQ(area.bytes.size(), 142u);
  EXPECT_EQ(header_of(area.bytes).language_count, 2);
  EXPECT_ENTRY(area.bytes, 38, "EN", 1, 54u);
  EXPECT_ENTRY(area.bytes, 46, "FR", 1, 98u);
  EXPECT_EQ(record_at(area.bytes, 54).index_offset, 142u);
  EXPECT_EQ(record_at(area.bytes, 54).message_count, 2);  // the old record, unchanged otherwise
  EXPECT_EQ(area.record_pos, 98u);
  EXPECT_EQ(record_at(area.bytes, 98).index_offset, S + 52);
  EXPECT_EQ(area.data_start, S + 52);
  EXPECT_EQ(area.old_blocks_begin, 90u);

  build_into(fs, false, "FR", "#message 3 C \"cc\"\n");
  const std::string second = contents(fs, "app.msg");
  const uint64_t T = second.size();
  EXPECT_EQ(header_of(second).language_count, 2);
  EXPECT_ENTRY(second, 38, "EN", 1, 54u);
  EXPECT_ENTRY(second, 46, "FR", 1, 98u);
  EXPECT_EQ(record_at(second, 54).index_offset, 142u);
  EXPECT_EQ(record_at(second, 98).index_offset, S + 52);
  EXPECT_EQ(record_at(second, 98).message_count, 1);
  EXPECT_EQ(second.substr(142, S - 90), first.substr(90));

  // Third run: EN again, its new record after the old EN record.
  ASSERT_EQ(read_bytes(second, &old), std::nullopt);
  ASSERT_EQ(plan(old, "EN", new_record(), &area), std::nullopt);
  ASSERT_EQ(area.bytes.size(), 186u);
  EXPECT_EQ(header_of(area.bytes).language_count, 2);
  EXPECT_ENTRY(area.bytes, 38, "EN", 2, 54u);
  EXPECT_ENTRY(area.bytes, 46, "FR", 1, 142u);
  EXPECT_EQ(record_at(area.bytes, 54).index_offset, 142u + 44);
  EXPECT_EQ(area.record_pos, 98u);
  EXPECT_EQ(record_at(area.bytes, 98).index_offset, T + 44);
  EXPECT_EQ(record_at(area.bytes, 142).index_offset, S + 52 + 44);
  EXPECT_EQ(record_at(area.bytes, 142).message_count, 1);
  EXPECT_EQ(area.data_start, T + 44);
  EXPECT_EQ(area.old_blocks_begin, 142u);

  build_into(fs, false, "EN", "#message 4 D \"d\"\n#message 5 E \"e\"\n#message 6 F \"f\"\n");
  const std::string third = contents(fs, "app.msg");
  EXPECT_ENTRY(third, 38, "EN", 2, 54u);
  EXPECT_ENTRY(third, 46, "FR", 1, 142u);
  EXPECT_EQ(record_at(third, 54).index_offset, 186u);
  EXPECT_EQ(record_at(third, 98).index_offset, T + 44);
  EXPECT_EQ(record_at(third, 98).message_count, 3);
  EXPECT_EQ(record_at(third, 142).index_offset, S + 96);
  EXPECT_EQ(third.substr(186, T - 142), second.substr(142));
  EXPECT_EQ(read_bytes(third, &old), std::nullopt);
  EXPECT_EQ(old.tables.size(), 3u);
}

TEST(PlanHeaderArea, ExistingLanguageBetweenOthersShiftsOnlyLaterEntries) {
  Catalogue old = make_catalogue({{"AA", 2}, {"BB", 1}, {"CC", 3}});
  const uint64_t size = old.file_size;
  HeaderArea area;
  ASSERT_EQ(plan(old, "BB", new_record(), &area), std::nullopt);
  const uint64_t records = kHeaderSize + 3 * kLanguageEntrySize;  // 62
  EXPECT_ENTRY(area.bytes, 38, "AA", 2, records);
  EXPECT_ENTRY(area.bytes, 46, "BB", 2, records + 2 * 44);
  EXPECT_ENTRY(area.bytes, 54, "CC", 3, records + 4 * 44);
  EXPECT_EQ(area.record_pos, records + 3 * 44);
  ASSERT_EQ(area.bytes.size(), records + 7 * 44);
  for (size_t i = 0, old_i = 0; i < 7; ++i) {
    TableRecord record = record_at(area.bytes, records + 44 * i);
    if (i == 3) {
      EXPECT_EQ(record.index_offset, size + 44);
      continue;
    }
    EXPECT_EQ(record.index_offset, old.tables[old_i++].record.index_offset + 44u) << i;
  }
  EXPECT_EQ(area.old_blocks_begin, records + 6 * 44);
  EXPECT_EQ(area.data_start, size + 44);
}

TEST(PlanHeaderArea, LanguagesMatchOnTwoCharactersCaseSensitively) {
  Catalogue old = make_catalogue({{"E", 1}, {"EN", 1}});
  auto rank_and_count = [&](const std::string& language) {
    HeaderArea area;
    EXPECT_EQ(plan(old, language, new_record(), &area), std::nullopt);
    return std::make_pair(find_language(old, language), header_of(area.bytes).language_count);
  };
  EXPECT_EQ(rank_and_count("E"), std::make_pair(0, uint16_t{2}));
  EXPECT_EQ(rank_and_count("EN"), std::make_pair(1, uint16_t{2}));
  EXPECT_EQ(rank_and_count("ENGLISH"), std::make_pair(1, uint16_t{2}));
  EXPECT_EQ(rank_and_count("en"), std::make_pair(-1, uint16_t{3}));
  EXPECT_EQ(rank_and_count("EX"), std::make_pair(-1, uint16_t{3}));

  HeaderArea area;
  ASSERT_EQ(plan(old, "ENGLISH", new_record(), &area), std::nullopt);
  EXPECT_ENTRY(area.bytes, 46, "EN", 2, 54u + 44);
  ASSERT_EQ(plan(old, "en", new_record(), &area), std::nullopt);
  EXPECT_ENTRY(area.bytes, 54, "en", 1, 62u + 2 * 44);
}

TEST(PlanHeaderArea, ValidFileWithoutLanguages) {
  std::string bytes;
  MsgFileHeader header;
  set_chars(header.name, kNameWidth, "APP.MSG");
  write_header(&bytes, header);
  Catalogue old;
  ASSERT_EQ(read_bytes(bytes, &old), std::nullopt);
  HeaderArea area;
  ASSERT_EQ(plan(old, "EN", new_record(), &area), std::nullopt);
  EXPECT_EQ(header_of(area.bytes).language_count, 1);
  EXPECT_ENTRY(area.bytes, 38, "EN", 1, 38u + 8 * 1);
  EXPECT_EQ(area.record_pos, 46u);
  EXPECT_EQ(area.data_start, 90u);
  EXPECT_EQ(area.old_blocks_begin, 38u);

  // And the tool takes such a file as it is.
  FakeFileSystem fs;
  fs.set_file("app.msg", bytes);
  build_into(fs, false, "EN", "#message 1 A \"a\"\n");
  std::string built = contents(fs, "app.msg");
  EXPECT_EQ(get_chars(header_of(built).name, kNameWidth), "APP.MSG");
  EXPECT_ENTRY(built, 38, "EN", 1, 46u);
  EXPECT_EQ(record_at(built, 46).index_offset, 90u);
  EXPECT_EQ(read_bytes(built, &old), std::nullopt);
}

TEST(PlanHeaderArea, RefusesToPassTheFormatsLimits) {
  HeaderArea area;
  std::vector<std::pair<std::string, uint16_t>> languages;
  for (int i = 0; i < 32766; ++i) {
    languages.push_back(
        {std::string(1, static_cast<char>('A' + i % 26)) + static_cast<char>('A' + i / 26 % 26),
         0});
  }
  Catalogue old = make_catalogue(languages);
  ASSERT_EQ(plan(old, "zz", new_record(), &area), std::nullopt);
  EXPECT_EQ(header_of(area.bytes).language_count, 32767);
  old.languages.push_back(old.languages.back());
  set_chars(old.languages.back().language, kLanguageWidth, "yy");
  old.header.language_count = 32767;
  auto problem = plan(old, "zz", new_record(), &area);
  ASSERT_TRUE(problem.has_value());
  EXPECT_THAT(*problem, HasSubstr("32767"));
  // A known language still takes a table.
  EXPECT_EQ(plan(old, "yy", new_record(), &area), std::nullopt);

  old = make_catalogue({{"EN", 32766}, {"FR", 1}}, 0);
  ASSERT_EQ(plan(old, "EN", new_record(), &area), std::nullopt);
  EXPECT_ENTRY(area.bytes, 38, "EN", 32767, 54u);
  EXPECT_EQ(area.record_pos, 54u + 44 * 32766);
  old = make_catalogue({{"EN", 32767}, {"FR", 1}}, 0);
  problem = plan(old, "EN", new_record(), &area);
  ASSERT_TRUE(problem.has_value());
  EXPECT_THAT(*problem, HasSubstr("32767"));
  EXPECT_EQ(plan(old, "FR", new_record(), &area), std::nullopt);

  // Offsets are 32-bit: a file that would pass 4 GiB is refused.
  old = make_catalogue({{"EN", 1}});
  old.file_size = UINT32_MAX - 20;
  EXPECT_TRUE(plan(old, "EN", new_record(), &area).has_value());
  EXPECT_TRUE(plan(old, "FR", new_record(), &area).has_value());
  old.file_size = UINT32_MAX - 52;
  EXPECT_EQ(plan(old, "FR", new_record(), &area), std::nullopt);
}

void put_u16(std::string* bytes, size_t offset, uint32_t value) {
  encode_u16(bytes->data() + offset, value);
}
void put_u32(std::string* bytes, size_t offset, uint32_t value) {
  encode_u32(bytes->data() + offset, value);
}

// Every kind of damage is named before anything relies on the layout.
TEST(ReadCatalogue, NamesEachKindOfDamage) {
  FakeFileSystem fs;
  build_into(fs, true, "EN", "#message 2 B \"b\"\n#message 1 A \"a\"\n");
  build_into(fs, false, "FR", "#message 3 C \"cc\"\n");
  // Header 0-37; EN entry 38 (count 40, offset 42); FR entry 46 (count 48,
  // offset 50); records at 54 and 98 (message_count +38, index_offset +40).
  const std::string good = contents(fs, "app.msg");
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
TEST(ReadCatalogue, RefusesWhatTheCheckRefuses) {
  FakeFileSystem fs;
  build_into(fs, true, "EN", "#message 2 B \"b\"\n#message 1 A \"a\"\n");
  build_into(fs, false, "FR", "#message 3 C \"cc\"\n");
  // Records at 54 (EN) and 98 (FR); EN's block at 142: entries 1 and 2.
  const std::string good = contents(fs, "app.msg");
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

TEST(ReadCatalogue, FilesTheToolBuildsPass) {
  FakeFileSystem fs;
  // An empty table first: its block is empty and ends the file.
  build_into(fs, true, "EN", "#message 1 NO_TEXT\n");
  Catalogue catalogue;
  std::string bytes = contents(fs, "app.msg");
  ASSERT_EQ(read_bytes(bytes, &catalogue), std::nullopt);
  ASSERT_EQ(catalogue.tables.size(), 1u);
  EXPECT_EQ(catalogue.tables[0].record.message_count, 0);
  EXPECT_EQ(catalogue.tables[0].record.index_offset, bytes.size());

  build_into(fs, false, "FR", "#message 2 A \"une\"\n#message 1 B \"deux\"\n");
  build_into(fs, false, "DE", "#message 2 A \"0x00 0x41\"\n", "UNICODE");
  build_into(fs, false, "EN", "#message 7 S \"seven\"\n");
  build_into(fs, false, "FR", "#message 9 N \"neuf\"\n");
  bytes = contents(fs, "app.msg");
  ASSERT_EQ(read_bytes(bytes, &catalogue), std::nullopt);
  ASSERT_EQ(catalogue.languages.size(), 3u);
  EXPECT_EQ(get_chars(catalogue.languages[0].language, 2), "EN");
  EXPECT_EQ(catalogue.languages[0].table_count, 2);
  EXPECT_EQ(get_chars(catalogue.languages[1].language, 2), "FR");
  EXPECT_EQ(catalogue.languages[1].table_count, 2);
  EXPECT_EQ(get_chars(catalogue.languages[2].language, 2), "DE");
  EXPECT_EQ(catalogue.languages[2].table_count, 1);
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
