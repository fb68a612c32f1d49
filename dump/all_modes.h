// Every mode of the inspector on one in-memory file, for fuzzing and for the
// inspector's robustness tests; never part of tolvane-dump itself.
#ifndef TOLVANE_DUMP_ALL_MODES_H_
#define TOLVANE_DUMP_ALL_MODES_H_

#include <string_view>

#include "dump/model.h"

namespace tolvane::dump {

// Runs every mode, with and without --json, --lint with a names header made
// of the same bytes, and --source for every table the file has, discarding
// the output. A mode that refuses the file is fine: only crashes and
// sanitizer reports count. Never throws a Failure.
void run_all_modes(std::string_view bytes, BlockWindows windows = {});

}  // namespace tolvane::dump

#endif  // TOLVANE_DUMP_ALL_MODES_H_
