#include "msgfile/catalogue_plan.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>

#include "msgfile/memory_file.h"
#include "test_util/catalogue_bytes.h"

namespace tolvane {
namespace {

using testing::add_table;
using ::testing::HasSubstr;
using testing::TestTable;

// The header area of a run that adds one table, laid out the plain way, one
// field after another: the reference a plan of one step must match.
struct HeaderArea {
  std::string bytes;              // header, directory and records, new one included
  uint64_t record_pos = 0;        // where the new table record sits
  TableRecord new_record;         // message_count still 0
  uint64_t old_blocks_begin = 0;  // old blocks to carry over: [begin, old size)
  uint64_t data_start = 0;        // where the new table's block begins
};

// A new language's entry and record come last; a new table of a known
// language follows that language's records. Every offset pointing past an
// insertion moves by its size. Throws the refusal of a file that would
// break the format's limits.
void reference_header_area(const Catalogue& old, const std::string& language,
                           const TableRecord& new_record, HeaderArea* area) {
  auto refusal = [](const std::string& problem) { return input_failure("APP.MSG : " + problem); };
  const bool empty = old.file_size == 0;
  const int rank = empty ? -1 : find_language(old, language);
  const bool new_language = rank < 0;

  MsgFileHeader header = old.header;
  std::vector<LanguageEntry> entries;
  for (const LanguageLayout& l : old.languages) entries.push_back(l.entry);
  if (new_language) {
    if (entries.size() + 1 > kMaxCount) {
      throw refusal("a file holds at most " + std::to_string(kMaxCount) + " languages");
    }
    LanguageEntry entry;
    set_chars(entry.language, kLanguageWidth, language);
    entries.push_back(entry);
  } else if (entries[rank].table_count + 1u > kMaxCount) {
    throw refusal("a language holds at most " + std::to_string(kMaxCount) + " tables");
  }
  header.language_count = static_cast<uint16_t>(entries.size());

  // Records of the languages before the new record, and the insertion sizes.
  size_t before = 0;
  for (int i = 0; i < (new_language ? static_cast<int>(old.languages.size()) : rank + 1); ++i) {
    before += old.languages[i].entry.table_count;
  }
  const uint32_t entry_growth = new_language ? kLanguageEntrySize : 0;
  const uint32_t growth = entry_growth + kTableRecordSize;

  const uint64_t old_area = empty ? 0 : old.header_area_size();
  const uint64_t new_area = kHeaderSize + uint64_t{kLanguageEntrySize} * entries.size() +
                            uint64_t{kTableRecordSize} * (old.tables.size() + 1);
  area->data_start = old.file_size - old_area + new_area;
  area->old_blocks_begin = old_area;
  if (area->data_start > UINT32_MAX) throw refusal("the file would grow past 4 GiB");

  std::string& out = area->bytes;
  out.clear();
  out.reserve(static_cast<size_t>(new_area));
  write_header(&out, header);
  for (size_t i = 0; i < entries.size(); ++i) {
    LanguageEntry entry = entries[i];
    if (new_language && i + 1 == entries.size()) {
      entry.table_count = 1;
      entry.table_offset = static_cast<uint32_t>(new_area - kTableRecordSize);
    } else {
      entry.table_offset += entry_growth;
      if (!new_language && static_cast<int>(i) == rank) ++entry.table_count;
      if (!new_language && static_cast<int>(i) > rank) entry.table_offset += kTableRecordSize;
    }
    write_language_entry(&out, entry);
  }
  area->new_record = new_record;
  area->new_record.message_count = 0;
  area->new_record.index_offset = static_cast<uint32_t>(area->data_start);
  for (size_t i = 0; i <= old.tables.size(); ++i) {
    if (i == before) {
      area->record_pos = out.size();
      write_table_record(&out, area->new_record);
    }
    if (i == old.tables.size()) break;
    TableRecord record = old.tables[i].record;
    record.index_offset += growth;
    write_table_record(&out, record);
  }
}

// The reference's header area, or the message of the failure refusing it;
// the plan of one step gives the same bytes and refuses the same steps.
std::optional<std::string> plan(const Catalogue& old, const std::string& language,
                                const TableRecord& record, HeaderArea* area) {
  std::optional<std::string> refused;
  try {
    reference_header_area(old, language, record, area);
  } catch (const Failure& failure) {
    refused = failure.message();
  }
  CataloguePlan plan(old, "APP.MSG");
  if (!plan.add_step(language, record.type_key, false)) {
    EXPECT_EQ(plan.step(0).refusal->message(), refused.value_or("(none)"));
    return refused;
  }
  plan.finish_planning();
  if (plan.file_size_after(0, 0) > UINT32_MAX) {
    EXPECT_THAT(refused.value_or("(none)"), HasSubstr("4 GiB"));
    return refused;
  }
  EXPECT_EQ(refused, std::nullopt);
  if (refused) return refused;
  TableRecord empty = record;
  empty.message_count = 0;
  plan.set_block(0, empty, 0);
  EXPECT_EQ(plan.header_area(), area->bytes);
  EXPECT_EQ(plan.slot(plan.step(0).slot).position, area->data_start);
  return std::nullopt;
}

Catalogue read_bytes(const std::string& bytes) {
  MemoryFile file(bytes);
  Catalogue catalogue;
  std::optional<Failure> damage = read_catalogue(file, "APP.MSG", &catalogue);
  EXPECT_FALSE(damage.has_value()) << damage->message();
  return catalogue;
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
// as the format wants them, blocks of `block_bytes` bytes each after them
// (the tables themselves empty).
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
    for (uint32_t rank = 1; rank <= count; ++rank) {
      TableLayout table;
      table.language = static_cast<uint32_t>(catalogue.languages.size());
      table.rank = rank;
      table.record.index_offset = static_cast<uint32_t>(area_end + block_bytes * records_so_far++);
      table.block_begin = table.index_end = table.block_end = table.record.index_offset;
      catalogue.tables.push_back(table);
    }
    catalogue.languages.push_back(
        {.entry = entry, .first_table = catalogue.tables.size() - count, .tables_in_file = count});
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

// Runs EN, FR, EN on one file: each plan and each file built checked
// offset by offset, and the old blocks carried over unchanged.
TEST(PlanHeaderArea, NewLanguageThenExistingLanguage) {
  const std::string first = add_table("", {"EN", {{2, "b"}, {1, "a"}}});
  const uint64_t S = first.size();
  ASSERT_EQ(S, 106u);

  // Second run: FR is new.
  Catalogue old = read_bytes(first);
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

  const std::string second = add_table(first, {"FR", {{3, "cc"}}});
  const uint64_t T = second.size();
  EXPECT_EQ(header_of(second).language_count, 2);
  EXPECT_ENTRY(second, 38, "EN", 1, 54u);
  EXPECT_ENTRY(second, 46, "FR", 1, 98u);
  EXPECT_EQ(record_at(second, 54).index_offset, 142u);
  EXPECT_EQ(record_at(second, 98).index_offset, S + 52);
  EXPECT_EQ(record_at(second, 98).message_count, 1);
  EXPECT_EQ(second.substr(142, S - 90), first.substr(90));

  // Third run: EN again, its new record after the old EN record.
  old = read_bytes(second);
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

  const std::string third = add_table(second, {"EN", {{4, "d"}, {5, "e"}, {6, "f"}}});
  EXPECT_ENTRY(third, 38, "EN", 2, 54u);
  EXPECT_ENTRY(third, 46, "FR", 1, 142u);
  EXPECT_EQ(record_at(third, 54).index_offset, 186u);
  EXPECT_EQ(record_at(third, 98).index_offset, T + 44);
  EXPECT_EQ(record_at(third, 98).message_count, 3);
  EXPECT_EQ(record_at(third, 142).index_offset, S + 96);
  EXPECT_EQ(third.substr(186, T - 142), second.substr(142));
  EXPECT_EQ(read_bytes(third).tables.size(), 3u);
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
  Catalogue old = read_bytes(bytes);
  HeaderArea area;
  ASSERT_EQ(plan(old, "EN", new_record(), &area), std::nullopt);
  EXPECT_EQ(header_of(area.bytes).language_count, 1);
  EXPECT_ENTRY(area.bytes, 38, "EN", 1, 38u + 8 * 1);
  EXPECT_EQ(area.record_pos, 46u);
  EXPECT_EQ(area.data_start, 90u);
  EXPECT_EQ(area.old_blocks_begin, 38u);

  // And a table is added to such a file as it is.
  std::string built = add_table(bytes, {"EN", {{1, "a"}}});
  EXPECT_EQ(get_chars(header_of(built).name, kNameWidth), "APP.MSG");
  EXPECT_ENTRY(built, 38, "EN", 1, 46u);
  EXPECT_EQ(record_at(built, 46).index_offset, 90u);
  EXPECT_EQ(read_bytes(built).tables.size(), 1u);
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
  languages.push_back({"yy", 0});
  old = make_catalogue(languages);
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

// One step added to a catalogue lays out the header area exactly as the
// single-table rebuild does, and places the new block after the old ones;
// random catalogues of a few languages, tables of no or some messages.
TEST(CataloguePlan, OneAddedTableIsTheSingleRunsHeaderArea) {
  std::mt19937 random(5);
  const char* const languages[] = {"EN", "FR", "JA"};
  for (int scenario = 0; scenario < 60; ++scenario) {
    SCOPED_TRACE("scenario " + std::to_string(scenario));
    std::string bytes;
    const int runs = static_cast<int>(random() % 6);
    for (int i = 0; i < runs; ++i) {
      TestTable table;
      for (int n = static_cast<int>(random() % 4); n > 0; --n) {
        const int32_t id = static_cast<int32_t>(random() % 9);
        table.texts.emplace_back(id, std::string(random() % 5, 'x'));
      }
      table.language = languages[random() % 3];
      bytes = add_table(bytes, table);
    }
    Catalogue old;
    if (runs > 0) {
      old = read_bytes(bytes);
    } else {
      set_chars(old.header.name, kNameWidth, "APP.MSG");
    }
    const std::string language = languages[random() % 3];
    TableRecord record;
    record.type_key = 0x1002a;
    set_chars(record.font_file, kFontFileWidth, "FONT");
    const uint64_t block_size = 2 * (random() % 20);
    record.message_count = static_cast<uint16_t>(block_size / 10);

    HeaderArea area;
    reference_header_area(old, language, record, &area);
    std::string want = area.bytes;
    std::string final_record;
    TableRecord placed = area.new_record;
    placed.message_count = record.message_count;
    write_table_record(&final_record, placed);
    want.replace(area.record_pos, final_record.size(), final_record);

    CataloguePlan plan(old, "APP.MSG");
    ASSERT_TRUE(plan.add_step(language, record.type_key, false));
    plan.finish_planning();
    EXPECT_EQ(plan.file_size_after(0, block_size), area.data_start + block_size);
    plan.set_block(0, record, block_size);
    EXPECT_EQ(plan.header_area(), want);
    const BlockSlot& slot = plan.slot(plan.step(0).slot);
    EXPECT_TRUE(slot.placed);
    EXPECT_EQ(slot.position, area.data_start);
  }
}

}  // namespace
}  // namespace tolvane
