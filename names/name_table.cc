#include "names/name_table.h"

#include <optional>

#include "names/define_line.h"

namespace tolvane {
namespace {

// A name fits a #message line when it is one token of printable ASCII and
// holds no double quote, which would be taken for the start of the text.
bool usable_name(std::string_view name) {
  if (name.empty()) return false;
  for (char c : name) {
    if (c <= ' ' || c >= 0x7F || c == '"') return false;
  }
  return true;
}

}  // namespace

NameTable::NameTable(std::string_view header) {
  size_t start = 0;
  while (start < header.size()) {
    size_t end = header.find('\n', start);
    if (end == std::string_view::npos) end = header.size();
    std::string_view line = header.substr(start, end - start);
    start = end + 1;
    std::string_view name;
    std::optional<int64_t> value = parse_define(line, &name);
    if (!value || !usable_name(name)) continue;
    const uint16_t id = static_cast<uint16_t>(*value & 0xFFFF);
    if (*value >= 0 && *value <= 0xFFFF) exact_.emplace(id, name);
    low_bits_.emplace(id, name);
    defines_.push_back({std::string(name), *value});
  }
}

const std::string* NameTable::find(uint16_t id) const {
  if (auto it = exact_.find(id); it != exact_.end()) return &it->second;
  if (auto it = low_bits_.find(id); it != low_bits_.end()) return &it->second;
  return nullptr;
}

std::string NameTable::name(uint16_t id) const {
  if (const std::string* known = find(id)) return *known;
  return "MSG_" + std::to_string(id);
}

}  // namespace tolvane
