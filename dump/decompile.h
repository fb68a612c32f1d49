// Turns a table of a catalogue back into a message source that rebuilds it:
// the same record and a byte-identical block.
#ifndef TOLVANE_DUMP_DECOMPILE_H_
#define TOLVANE_DUMP_DECOMPILE_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "dump/model.h"
#include "dump/render.h"

namespace tolvane::dump {

// Symbolic names by identifier, read from a names header.
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

// Writes the message source of `table` to `out`: the five directive lines,
// then one #message line per message in the order the texts lie in the
// block, which is the order of the source it was built from. Throws Failure,
// before writing anything, when no source can rebuild the table exactly (a
// damaged block, or a record value that a directive line cannot express).
// Memory stays bounded by the longest text, whatever the size of the table.
// With `view`, a comment line above each #message line whose text decodes
// shows it in UTF-8; the source still rebuilds the table.
void decompile_table(const OpenCatalogue& catalogue, const TableLayout& table,
                     const NameTable& names, Output& out, const Utf8View* view = nullptr);
// The same, as a string.
std::string decompile_table(const OpenCatalogue& catalogue, const TableLayout& table,
                            const NameTable& names);

}  // namespace tolvane::dump

#endif  // TOLVANE_DUMP_DECOMPILE_H_
