// One build: the new tables added to the MSG file (or put in the place of
// tables of their language and type) and the names header brought up to
// date, all or nothing.
#ifndef TOLVANE_DRIVER_BUILD_H_
#define TOLVANE_DRIVER_BUILD_H_

#include <functional>
#include <string>
#include <vector>

#include "driver/options.h"
#include "platform/file_system.h"
#include "source/diagnostics.h"
#include "transaction/work_files.h"

namespace tolvane {

// Builds from `options` (every source, in turn, all or nothing), with the
// run's work files at `paths`, while the run holds the files' locks. First
// the checks that touch nothing: no backup of an interrupted run in the way,
// the existing MSG file whole (unless -c), the previous names header one;
// then `starting` is called, and the sources are read. What a source holds
// that is wrong or doubtful goes to `diagnostics`; an error there (or a
// warning, with -W) stops the build before anything is replaced. Returns the
// warnings of a complete build about the tables it added, one line each
// without its line feed. Throws Failure after putting every file back as it
// was.
std::vector<std::string> build(FileSystem& fs, const BuildOptions& options,
                               const WorkFilePaths& paths, Diagnostics& diagnostics,
                               const std::function<void()>& starting);

}  // namespace tolvane

#endif  // TOLVANE_DRIVER_BUILD_H_
