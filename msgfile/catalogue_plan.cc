#include "msgfile/catalogue_plan.h"

#include <algorithm>
#include <cstring>

namespace tolvane {
namespace {

Failure refusal(const std::string& name, const std::string& problem) {
  return input_failure(name + " : " + problem);
}

}  // namespace

CataloguePlan::CataloguePlan(const Catalogue& old, std::string name)
    : old_(old), name_(std::move(name)) {
  old_area_ = old.file_size == 0 ? 0 : old.header_area_size();
  languages_.resize(old.languages.size());
  for (size_t i = 0; i < old.languages.size(); ++i) {
    std::memcpy(languages_[i].code, old.languages[i].entry.language, kLanguageWidth);
  }
  for (size_t i = 0; i < old.tables.size(); ++i) {
    languages_[old.tables[i].language].tables.push_back({static_cast<int>(i), 0, 0});
    languages_[old.tables[i].language].tables.back().type_key = old.tables[i].record.type_key;
  }
  table_total_ = old.tables.size();
}

bool CataloguePlan::add_step(const std::string& language, uint32_t type_key, bool replace) {
  char code[kLanguageWidth];
  set_chars(code, kLanguageWidth, language);
  int rank = -1;
  for (size_t i = 0; i < languages_.size() && rank < 0; ++i) {
    if (std::strncmp(languages_[i].code, code, kLanguageWidth) == 0) rank = static_cast<int>(i);
  }
  auto name_of = [&](size_t table_rank) {
    return get_chars(code, kLanguageWidth) + ":" + std::to_string(table_rank + 1);
  };
  const size_t step = steps_.size();
  steps_.emplace_back();
  PlannedStep& planned = steps_.back();
  int twin = -1;
  if (rank >= 0) {
    const std::vector<Table>& tables = languages_[rank].tables;
    for (size_t i = 0; i < tables.size() && twin < 0; ++i) {
      if (tables[i].type_key == type_key) twin = static_cast<int>(i);
    }
  }

  if (replace && twin >= 0) {
    Table& table = languages_[rank].tables[twin];
    planned.replaces = true;
    planned.table = name_of(twin);
    if (table.old_table >= 0) {
      const TableLayout& layout = old_.tables[table.old_table];
      BlockSlot cut;
      cut.old_begin = layout.block_begin;
      cut.old_end = layout.block_end;
      cut.step = static_cast<int>(step);
      planned.previous_size = cut.old_end - cut.old_begin;
      table.old_table = -1;
      table.slot = slots_.size();
      cuts_.push_back(slots_.size());
      slots_.push_back(cut);
    } else {
      planned.previous_step = slots_[table.slot].step;
      slots_[table.slot].step = static_cast<int>(step);
    }
    planned.slot = table.slot;
  } else {
    if (rank < 0 && languages_.size() + 1 > kMaxCount) {
      planned.refusal =
          refusal(name_, "a file holds at most " + std::to_string(kMaxCount) + " languages");
      return false;
    }
    if (rank >= 0 && languages_[rank].tables.size() + 1 > kMaxCount) {
      planned.refusal =
          refusal(name_, "a language holds at most " + std::to_string(kMaxCount) + " tables");
      return false;
    }
    if (rank < 0) {
      rank = static_cast<int>(languages_.size());
      languages_.emplace_back();
      std::memcpy(languages_.back().code, code, kLanguageWidth);
    }
    if (twin >= 0) planned.same_as = name_of(twin);
    BlockSlot slot;
    slot.step = static_cast<int>(step);
    planned.slot = slots_.size();
    new_slots_.push_back(slots_.size());
    slots_.push_back(slot);
    languages_[rank].tables.push_back({-1, planned.slot, type_key});
    planned.table = name_of(languages_[rank].tables.size() - 1);
    ++table_total_;
  }
  planned.header_area = header_area_size();
  return true;
}

uint64_t CataloguePlan::header_area_size() const {
  return kHeaderSize + uint64_t{kLanguageEntrySize} * languages_.size() +
         uint64_t{kTableRecordSize} * table_total_;
}

void CataloguePlan::finish_planning() {
  // Replaced old blocks in file order. An empty block shares its offset with
  // the block added after it, so at one offset the empty ones come first;
  // a run that fills an empty table puts its block after the empty tables
  // there and before the others, so among empty ones the later comes first.
  std::vector<size_t> cuts = cuts_;
  std::stable_sort(cuts.begin(), cuts.end(), [&](size_t a, size_t b) {
    const BlockSlot& x = slots_[a];
    const BlockSlot& y = slots_[b];
    if (x.old_begin != y.old_begin) return x.old_begin < y.old_begin;
    const bool x_empty = x.old_end == x.old_begin, y_empty = y.old_end == y.old_begin;
    if (x_empty != y_empty) return x_empty;
    return x_empty && a > b;
  });
  order_.clear();
  pieces_.clear();
  uint64_t cursor = old_area_;
  auto carry = [&](uint64_t end) {
    BlockSlot piece;
    piece.carried = true;
    piece.old_begin = cursor;
    piece.old_end = std::max(cursor, end);
    piece.size_known = true;
    piece.size = piece.old_end - piece.old_begin;
    pieces_.push_back(slots_.size());
    order_.push_back(slots_.size());
    slots_.push_back(piece);
  };
  for (size_t cut : cuts) {
    carry(slots_[cut].old_begin);
    order_.push_back(cut);
    cursor = std::max(cursor, slots_[cut].old_end);
  }
  carry(old_.file_size);
  order_.insert(order_.end(), new_slots_.begin(), new_slots_.end());
  placed_until_ = 0;
  next_position_ = header_area_size();
  step_sizes_.assign(steps_.size(), 0);
  records_.assign(steps_.size(), TableRecord{});
  blocks_total_ = old_.file_size - old_area_;
  place();
}

uint64_t CataloguePlan::file_size_after(size_t step, uint64_t block_size) const {
  const PlannedStep& planned = steps_[step];
  uint64_t previous = 0;
  if (planned.replaces) {
    previous =
        planned.previous_step >= 0 ? step_sizes_[planned.previous_step] : planned.previous_size;
  }
  return planned.header_area + blocks_total_ - previous + block_size;
}

void CataloguePlan::set_block(size_t step, const TableRecord& record, uint64_t block_size) {
  blocks_total_ = file_size_after(step, block_size) - steps_[step].header_area;
  step_sizes_[step] = block_size;
  records_[step] = record;
  BlockSlot& slot = slots_[steps_[step].slot];
  if (slot.step == static_cast<int>(step)) {
    slot.size = block_size;
    slot.size_known = true;
  }
  place();
}

void CataloguePlan::place() {
  while (placed_until_ < order_.size() && slots_[order_[placed_until_]].size_known) {
    BlockSlot& slot = slots_[order_[placed_until_++]];
    slot.placed = true;
    slot.position = next_position_;
    next_position_ += slot.size;
  }
}

uint64_t CataloguePlan::old_table_position(size_t old_table) const {
  const TableLayout& table = old_.tables[old_table];
  const uint64_t at = table.block_begin;
  // The carried piece that holds the block; an empty block lies where the
  // next block added after it begins, so it goes with the piece that ends
  // there, ahead of any block put in that place.
  auto holds = [&](const BlockSlot& piece) {
    if (table.record.message_count == 0) return at <= piece.old_end;
    return at < piece.old_end;
  };
  for (size_t i : pieces_) {
    const BlockSlot& piece = slots_[i];
    if (holds(piece) || i == pieces_.back()) {
      return piece.position + (at > piece.old_begin ? at - piece.old_begin : 0);
    }
  }
  return next_position_;
}

std::string CataloguePlan::header_area() const {
  std::string out;
  out.reserve(static_cast<size_t>(header_area_size()));
  MsgFileHeader header = old_.header;
  header.language_count = static_cast<uint16_t>(languages_.size());
  write_header(&out, header);
  uint64_t records_before = 0;
  for (const Language& language : languages_) {
    LanguageEntry entry;
    std::memcpy(entry.language, language.code, kLanguageWidth);
    entry.table_count = static_cast<uint16_t>(language.tables.size());
    entry.table_offset =
        static_cast<uint32_t>(kHeaderSize + uint64_t{kLanguageEntrySize} * languages_.size() +
                              uint64_t{kTableRecordSize} * records_before);
    records_before += language.tables.size();
    write_language_entry(&out, entry);
  }
  for (const Language& language : languages_) {
    for (const Table& table : language.tables) {
      TableRecord record;
      if (table.old_table >= 0) {
        record = old_.tables[table.old_table].record;
        record.index_offset = static_cast<uint32_t>(old_table_position(table.old_table));
      } else {
        const BlockSlot& slot = slots_[table.slot];
        record = records_[slot.step];
        record.index_offset = static_cast<uint32_t>(slot.position);
      }
      write_table_record(&out, record);
    }
  }
  return out;
}

}  // namespace tolvane
