// One build: the new tables added to the MSG file (or put in the place of
// tables of their language and type) and the names header brought up to
// date, all or nothing.
#ifndef TOLVANE_DRIVER_BUILD_H_
#define TOLVANE_DRIVER_BUILD_H_

#include <memory>
#include <string>
#include <vector>

#include "driver/options.h"
#include "msgfile/catalogue.h"
#include "msgfile/work_files.h"
#include "platform/file_system.h"
#include "source/diagnostics.h"

namespace tolvane {

// The catalogue a run adds its table to. For -c, an empty one carrying the new
// file's header and no file; otherwise the existing file as the driver's
// checks read and validated it, still open, so that the build copies from
// the very file that was checked.
struct BaseCatalogue {
  Catalogue catalogue;
  std::unique_ptr<File> file;
};

// Builds from `options` onto `base` (every source, in turn, all or nothing),
// with the run's work files at `paths`. What a source holds that is wrong or
// doubtful goes to `diagnostics`; an error there (or a warning, with -W)
// stops the build before anything is replaced. Returns the warnings of a
// complete build about the tables it added, one line each without its line
// feed. Throws Failure after putting every file back as it was.
std::vector<std::string> build(FileSystem& fs, const BuildOptions& options,
                               const WorkFilePaths& paths, BaseCatalogue base,
                               Diagnostics& diagnostics);

}  // namespace tolvane

#endif  // TOLVANE_DRIVER_BUILD_H_
