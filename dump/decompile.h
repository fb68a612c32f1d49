// Turns a table of a catalogue back into a message source that rebuilds it:
// the same record and a byte-identical block.
#ifndef TOLVANE_DUMP_DECOMPILE_H_
#define TOLVANE_DUMP_DECOMPILE_H_

#include <string>

#include "dump/model.h"
#include "dump/render.h"
#include "names/name_table.h"

namespace tolvane::dump {

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
