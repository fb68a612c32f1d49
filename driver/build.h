// One build: the new table added to the MSG file and the names header brought
// up to date, all or nothing.
#ifndef TOLVANE_DRIVER_BUILD_H_
#define TOLVANE_DRIVER_BUILD_H_

#include "driver/options.h"
#include "msgfile/records.h"
#include "platform/file_system.h"

namespace tolvane {

// Builds from `options`; `header` is the run's header (for -c, the new file's).
// Throws Failure after putting every file back as it was.
void build(FileSystem& fs, const BuildOptions& options, const MsgFileHeader& header);

}  // namespace tolvane

#endif  // TOLVANE_DRIVER_BUILD_H_
