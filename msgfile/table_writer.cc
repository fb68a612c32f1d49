#include "msgfile/table_writer.h"

#include <algorithm>

#include "msgfile/records.h"
#include "platform/interrupt.h"

namespace tolvane {
TableWriter::TableWriter(CataloguePlan& plan, File& out, std::string name)
    : plan_(plan), out_(out), name_(std::move(name)), counts_(plan.steps()) {}

Failure TableWriter::too_large() const {
  return input_failure(name_ + " : the file would grow past 4 GiB");
}

void TableWriter::check_room(size_t step) const {
  if (plan_.file_size_after(step, 0) > UINT32_MAX) throw too_large();
}

BlockTurn TableWriter::add_table(size_t step, const NewTable& table) {
  const uint64_t size = block_size(table.count, table.text_bytes);
  if (plan_.file_size_after(step, size) > UINT32_MAX) throw too_large();
  TableRecord record;
  record.type_key = table.type_key;
  set_chars(record.font_file, kFontFileWidth, table.font_file);
  record.coding = table.coding;
  record.message_count = static_cast<uint16_t>(table.count);
  plan_.set_block(step, record, size);
  counts_[step] = table.count;

  const BlockSlot& slot = plan_.slot(plan_.step(step).slot);
  if (slot.step != static_cast<int>(step)) return BlockTurn::kNever;
  return slot.placed ? BlockTurn::kNow : BlockTurn::kLater;
}

void TableWriter::write_block(size_t step, const TableBlockBuilder& block, std::string& texts) {
  write_block(step, block.index_bytes(), block.fill(), texts);
}

void TableWriter::write_block(size_t step, std::string_view index, std::string_view fill,
                              std::string& texts) {
  const uint64_t position = plan_.slot(plan_.step(step).slot).position;
  out_.write_at(position, index.data(), index.size());
  texts.append(fill);
  out_.write_at(position + index.size(), texts.data(), texts.size());
}

uint64_t TableWriter::texts_position(size_t step) const {
  return plan_.slot(plan_.step(step).slot).position + uint64_t{kIndexEntrySize} * counts_[step];
}

void TableWriter::finish_block(size_t step, const TableBlockBuilder& block, FileWriter& texts) {
  texts.append(block.fill());
  texts.flush();
  const std::string index = block.index_bytes();
  out_.write_at(plan_.slot(plan_.step(step).slot).position, index.data(), index.size());
}

void TableWriter::carry_old_blocks(File* old) {
  constexpr uint64_t kSlice = 16 << 20;
  for (size_t i : plan_.order()) {
    const BlockSlot& slot = plan_.slot(i);
    if (!slot.carried || !old) continue;
    for (uint64_t from = slot.old_begin; from < slot.old_end; from += kSlice) {
      stop_if_interrupted();
      const uint64_t end = std::min(slot.old_end, from + kSlice);
      copy_range(*old, from, out_, slot.position + (from - slot.old_begin), end);
    }
  }
  stop_if_interrupted();
}

void TableWriter::write_header_area() {
  const std::string area = plan_.header_area();
  out_.write_at(0, area.data(), area.size());
}

}  // namespace tolvane
