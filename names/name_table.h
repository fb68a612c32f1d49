// Symbolic names by identifier, read from a names header, for the programs
// that show a catalogue's messages by name.
#ifndef TOLVANE_NAMES_NAME_TABLE_H_
#define TOLVANE_NAMES_NAME_TABLE_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tolvane {

class NameTable {
 public:
  NameTable() = default;
  // Reads every "#define NAME number" line. An identifier's name is the first
  // that defines exactly it; failing that, the first whose number has it as
  // its low 16 bits (the index keeps no more of an identifier). Names that
  // could not stand in a #message line are skipped.
  explicit NameTable(std::string_view header);
  // The name of `id`, or MSG_<id> when the header has none.
  std::string name(uint16_t id) const;
  // The name of `id`, or null when the header has none.
  const std::string* find(uint16_t id) const;

  struct Define {
    std::string name;
    int64_t value;
  };
  // Every usable #define, in the header's order.
  const std::vector<Define>& defines() const { return defines_; }

 private:
  std::vector<Define> defines_;
  std::unordered_map<uint16_t, std::string> exact_;
  std::unordered_map<uint16_t, std::string> low_bits_;
};

}  // namespace tolvane

#endif  // TOLVANE_NAMES_NAME_TABLE_H_
