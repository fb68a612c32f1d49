// The names header: the previous one copied unchanged, then one
// "#define NAME id" line for each identifier it does not define yet.
#ifndef TOLVANE_NAMES_NAMES_HEADER_H_
#define TOLVANE_NAMES_NAMES_HEADER_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/file_io.h"
#include "source/diagnostics.h"
#include "source/name_index.h"

namespace tolvane {

class NamesHeader {
 public:
  explicit NamesHeader(FileWriter* out) : out_(out) {}

  // From now on, reports to `diagnostics` a source name that the previous
  // names header `header_path` gives another identifier (an error: one name
  // would stand for two), and one it does not define because it names that
  // identifier otherwise (a warning). Call before copy_previous_header().
  void check_names(Diagnostics* diagnostics, std::string source_path, std::string header_path);
  // Copies the previous names header to the output unchanged and remembers
  // the identifiers it defines. Turns merge mode on.
  void copy_previous_header(LineReader& previous);
  // Called for every #message line of the source; `number` is its line
  // number, for what check_names() reports.
  void on_message_name(int32_t id, std::string_view line, long number = 0);
  // The same with the line's name found already (message_name()), a piece
  // of `line`.
  void on_message_name(int32_t id, std::string_view line, std::string_view name, long number);
  // The same for a name taken out of its line:
  // the name begins at `column` of its line, and `room` bytes, at least its
  // own, may be read from its start.
  void on_name(int32_t id, std::string_view name, size_t room, long column, long number);
  // Ends one source of a run that reads several: the next source sees what
  // the names header written so far defines, as the next run would; and so
  // do the checks, when asked for again with check_names().
  void end_source();
  // What on_name() looks at first for `id`, or null: a list of names in
  // hand gets those loads started ahead, as each is a likely cache miss.
  // The caller prefetches it: a prefetch in a function that has no other
  // effect is dropped by the compiler along with the call.
  const void* lookup_of(int32_t id) const {
    return id >= 0 && static_cast<size_t>(id) < id_names_.size() ? &id_names_[id] : nullptr;
  }
  bool defines_id(int32_t id) const {
    return id >= 0 && id < kDirectIds ? defined_direct_[id] : defined_other_.count(id) != 0;
  }

 private:
  // Identifiers below this are looked up in a bitmap: a hash set probe costs
  // cache misses on every #message line, and nearly all identifiers are there.
  static constexpr int64_t kDirectIds = 65536;
  void define(int64_t id);
  // Reports `name`, given as `id`, when the header gives it another
  // identifier, or gives `id` another name; names_its_id() is false.
  void check(int32_t id, std::string_view name, long column, long number);
  // Whether the header's first name of `id` is `name`: all is well.
  bool names_its_id(int32_t id, std::string_view name, size_t room) const;
  // Takes in what earlier sources of the run added (to_remember_).
  void take_in_added();
  void remember(std::string_view name, int64_t id, long line);

  FileWriter* out_;
  bool merge_mode_ = false;
  bool line_open_ = false;  // the copy ended in a line without a line feed
  std::vector<bool> defined_direct_ = std::vector<bool>(kDirectIds);
  std::unordered_set<int64_t> defined_other_;
  // The lines this source added that read back as defines, and the header's
  // lines so far.
  std::vector<std::pair<std::string, int32_t>> added_;
  long header_lines_ = 0;

  Diagnostics* diagnostics_ = nullptr;
  std::string source_path_, header_path_;
  // The previous header's definitions, kept only for check_names(); and the
  // first name of each identifier, made when a warning first needs it.
  NameIndex previous_names_;
  std::unordered_map<int64_t, NameIndex::Entry> previous_ids_;
  // For each identifier below kDirectIds, its first entry in previous_names_
  // with the entry's name's first bytes: a #message line giving a name its
  // own identifier again, the usual case, is told apart with one look at
  // memory and no hash lookup. Grown to the largest such identifier.
  struct IdName {
    uint64_t head[2] = {0, 0};  // the name's first 16 bytes, zero-padded
    uint32_t entry = 0;         // index + 1; 0 for no name
    uint32_t size = 0;
  };
  std::vector<IdName> id_names_;
  // What earlier sources of the run added, not yet in previous_names_: each
  // source's added_, after the header line before its first.
  std::vector<std::pair<long, std::vector<std::pair<std::string, int32_t>>>> to_remember_;
};

}  // namespace tolvane

#endif  // TOLVANE_NAMES_NAMES_HEADER_H_
