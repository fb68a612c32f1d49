// Cross-language checks of a catalogue. Tables with the same type_key are
// translations of one another and form a group; each group is compared with
// its reference table, the first table added of the reference language.
#ifndef TOLVANE_DUMP_LINT_H_
#define TOLVANE_DUMP_LINT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dump/model.h"
#include "dump/render.h"
#include "names/name_table.h"

namespace tolvane::dump {

struct LintOptions {
  std::string reference;  // empty: the language of each group's first added table
  bool json = false;
  bool stats_only = false;           // --stats: the table statistics only
  const NameTable* names = nullptr;  // --names, when given
};

// Writes the findings (unless stats_only) and the statistics of every table
// to `out`, table by table as they are read. Returns the number of findings.
size_t lint_catalogue(const OpenCatalogue& catalogue, const LintOptions& options, Output& out);

// The characters of a stored text: its bytes, or in a UNICODE table its
// 16-bit units, high byte first (a last odd byte counts as a unit of its own).
std::vector<uint16_t> text_units(std::string_view text, bool unicode);

// What each argument of a printf format takes, by position (element 0 for
// the first argument), as the conversion that reads it: "%d" for d and i,
// "%u" for o, u, x and X, "%f" for the floating conversions, then "%c", "%s",
// "%p", "%n", each with its length modifier ("%ld", "%hhn"), and "*" for a
// width or precision read from an argument. Flags, widths and precisions do
// not matter. A position the format skips is "?", one read two ways
// "conflict", a conversion printf does not know "%?".
std::vector<std::string> printf_arguments(const std::vector<uint16_t>& units);

}  // namespace tolvane::dump

#endif  // TOLVANE_DUMP_LINT_H_
