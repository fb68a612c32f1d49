#include "msgfile/catalogue.h"

#include <utility>

#include "msgfile/catalogue_layout.h"

namespace tolvane {
namespace {

Failure refusal(const std::string& name, const std::string& problem) {
  return input_failure(name + " : " + problem);
}

}  // namespace

std::optional<Failure> read_catalogue(File& file, const std::string& name, Catalogue* catalogue) {
  CatalogueLayout layout = read_layout(file);
  catalogue->header = layout.header;
  catalogue->file_size = layout.file_size;
  catalogue->languages.clear();
  catalogue->tables.clear();
  if (!layout.header_complete) {
    return refusal(name,
                   "the header is cut short (" + std::to_string(layout.file_size) + " bytes)");
  }
  std::optional<Failure> problem;
  find_damage(file, layout, [&](const Damage& damage) {
    problem = refusal(name, damage.refusal);
    return false;
  });
  if (problem) return problem;
  catalogue->languages.reserve(layout.languages.size());
  for (const LanguageLayout& language : layout.languages) {
    catalogue->languages.push_back(language.entry);
  }
  catalogue->tables = std::move(layout.tables);
  return std::nullopt;
}

int find_language(const Catalogue& catalogue, const std::string& language) {
  return find_language(catalogue.languages, language);
}

void plan_header_area(const Catalogue& old, const std::string& name, const std::string& language,
                      const TableRecord& new_record, HeaderArea* area) {
  const bool empty = old.file_size == 0;
  const int rank = empty ? -1 : find_language(old, language);
  const bool new_language = rank < 0;

  MsgFileHeader header = old.header;
  std::vector<LanguageEntry> entries = old.languages;
  if (new_language) {
    if (entries.size() + 1 > kMaxCount) {
      throw refusal(name, "a file holds at most " + std::to_string(kMaxCount) + " languages");
    }
    LanguageEntry entry;
    set_chars(entry.language, kLanguageWidth, language);
    entries.push_back(entry);
  } else if (entries[rank].table_count + 1u > kMaxCount) {
    throw refusal(name, "a language holds at most " + std::to_string(kMaxCount) + " tables");
  }
  header.language_count = static_cast<uint16_t>(entries.size());

  // Records of the languages before the new record, and the insertion sizes.
  size_t before = 0;
  for (int i = 0; i < (new_language ? static_cast<int>(old.languages.size()) : rank + 1); ++i) {
    before += old.languages[i].table_count;
  }
  const uint32_t entry_growth = new_language ? kLanguageEntrySize : 0;
  const uint32_t growth = entry_growth + kTableRecordSize;

  const uint64_t old_area = empty ? 0 : old.header_area_size();
  const uint64_t new_area = kHeaderSize + uint64_t{kLanguageEntrySize} * entries.size() +
                            uint64_t{kTableRecordSize} * (old.tables.size() + 1);
  area->data_start = old.file_size - old_area + new_area;
  area->old_blocks_begin = old_area;
  if (area->data_start > UINT32_MAX) throw refusal(name, "the file would grow past 4 GiB");

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

}  // namespace tolvane
