// The check a previous names header passes before a run appends to it.
#ifndef TOLVANE_NAMES_PREVIOUS_HEADER_H_
#define TOLVANE_NAMES_PREVIOUS_HEADER_H_

#include <string>

#include "platform/file_system.h"

namespace tolvane {

// Why the previous names header is no names header a run could
// have written or a person kept in step (a catalogue, binary data, C code or
// other text): appending #define lines to it would damage another file.
// Empty when every line is a preprocessor line (#define lines, and the
// include guard a person may add), a comment or blank.
std::string names_header_problem(File& previous);

}  // namespace tolvane

#endif  // TOLVANE_NAMES_PREVIOUS_HEADER_H_
