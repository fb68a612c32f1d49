// Where everything in a catalogue lies, and the one set of rules that says
// whether that layout can be trusted.
//
// read_layout() reads the header area of any file, damaged or not, as far as
// the file holds it. find_damage() then walks the rules in the order a reader
// meets the fields: header, language directory, table records, how the
// blocks share the data area, and inside each block its index and texts. A
// build stops at the first problem; the inspector lists them all. Both read
// the file in large sequential pieces: the header area at once, then each
// block's index and the end of its texts through one moving window.
#ifndef TOLVANE_MSGFILE_CATALOGUE_LAYOUT_H_
#define TOLVANE_MSGFILE_CATALOGUE_LAYOUT_H_

#include <cstdint>
#include <functional>
#include <string>

#include "msgfile/catalogue.h"
#include "platform/file_system.h"

namespace tolvane {

// Reads the header area in large reads. Never fails on content: a field the
// file does not hold is left out (see header_complete, languages, tables).
Catalogue read_layout(File& file);

// One way in which a catalogue breaks the format.
struct Damage {
  uint64_t offset = 0;  // the byte (usually a field) where the problem shows
  std::string text;     // how the inspector lists it
  std::string refusal;  // how a build names it when it refuses the file
};

// Walks every rule over a layout read from `file` and hands each problem to
// `report`, in the order met; stops as soon as `report` returns false. The
// header must be complete. Files a build writes have no problem.
void find_damage(File& file, const Catalogue& layout,
                 const std::function<bool(const Damage&)>& report);

}  // namespace tolvane

#endif  // TOLVANE_MSGFILE_CATALOGUE_LAYOUT_H_
