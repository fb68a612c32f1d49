#include "test_util/catalogue_bytes.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "msgfile/catalogue.h"
#include "msgfile/catalogue_plan.h"
#include "msgfile/memory_file.h"
#include "msgfile/records.h"
#include "msgfile/table_block.h"

namespace tolvane::testing {

std::string add_table(const std::string& catalogue, const TestTable& table,
                      const std::string& name) {
  Catalogue old;
  if (catalogue.empty()) {
    set_chars(old.header.name, kNameWidth, name);
  } else {
    MemoryFile file(catalogue);
    if (auto damage = read_catalogue(file, name, &old)) throw *damage;
  }
  CataloguePlan plan(old, name);
  if (!plan.add_step(table.language, table.type_key, false)) throw *plan.step(0).refusal;
  plan.finish_planning();

  TableBlockBuilder block;
  std::string texts;
  const std::string terminator(terminator_size(table.coding), '\0');
  for (const auto& [id, text] : table.texts) {
    texts += text + terminator;
    block.add(id, static_cast<uint32_t>(text.size() + terminator.size()));
  }
  texts.append(block.fill());
  const std::string block_bytes = block.index_bytes() + texts;

  TableRecord record;
  record.type_key = table.type_key;
  set_chars(record.font_file, kFontFileWidth, table.font);
  record.coding = table.coding;
  record.message_count = static_cast<uint16_t>(block.count());
  plan.set_block(0, record, block_bytes.size());

  std::string out = plan.header_area();
  for (size_t i : plan.order()) {
    const BlockSlot& slot = plan.slot(i);
    if (!slot.placed || slot.position != out.size()) throw std::logic_error("a block out of place");
    out += slot.carried ? catalogue.substr(slot.old_begin, slot.old_end - slot.old_begin)
                        : block_bytes;
  }
  return out;
}

std::optional<std::string> read_bytes(const std::string& bytes, Catalogue* catalogue) {
  MemoryFile file(bytes);
  std::optional<Failure> damage = read_catalogue(file, "APP.MSG", catalogue);
  if (!damage) return std::nullopt;
  EXPECT_EQ(damage->kind(), FailureKind::kInput);
  const std::string heading = "APP.MSG : ";
  EXPECT_EQ(damage->message().rfind(heading, 0), 0u) << damage->message();
  return damage->message().substr(heading.size());
}

}  // namespace tolvane::testing
