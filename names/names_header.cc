#include "names/names_header.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "names/define_line.h"

namespace tolvane {

void NamesHeader::define(int64_t id) {
  if (id >= 0 && id < kDirectIds) {
    defined_direct_[id] = true;
  } else {
    defined_other_.insert(id);
  }
}

void NamesHeader::check_names(Diagnostics* diagnostics, std::string source_path,
                              std::string header_path) {
  diagnostics_ = diagnostics;
  source_path_ = std::move(source_path);
  header_path_ = std::move(header_path);
}

void NamesHeader::copy_previous_header(LineReader& previous) {
  merge_mode_ = true;
  // Sized once for as many names as the header can hold: a #define line
  // takes twelve bytes at the least. Past a bound the index grows instead.
  constexpr uint64_t kShortestDefine = 12, kMostReserved = 1 << 18;
  if (diagnostics_) {
    previous_names_.reserve(std::min(previous.file_size() / kShortestDefine, kMostReserved));
  }
  std::string_view line;
  bool newline = false;
  std::string_view name;
  while (previous.read_line(&line, &newline)) {
    if (auto id = parse_define(line, &name)) {
      define(*id);
      if (diagnostics_) remember(name, *id, previous.line_number());
    }
    out_->buffer()->append(line);
    if (newline) out_->buffer()->push_back('\n');
    line_open_ = !newline;
    out_->maybe_flush();
  }
  header_lines_ = previous.line_number();
}

namespace {

void head_of(std::string_view name, uint64_t head[2]) {
  head[0] = head[1] = 0;
  std::memcpy(head, name.data(), std::min<size_t>(name.size(), 16));
}

// The same for a name followed by at least `room - name.size()` more bytes
// that may be read: with sixteen in all, two whole words, the bytes past
// the name masked off.
void head_of(std::string_view name, uint64_t head[2], size_t room) {
  if constexpr (std::endian::native == std::endian::little) {
    const size_t n = name.size();
    if (room >= 16) {
      std::memcpy(head, name.data(), 16);
      const auto low_bytes = [](size_t k) {
        return k >= 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * k)) - 1;
      };
      head[0] &= low_bytes(n);
      head[1] &= n > 8 ? low_bytes(n - 8) : 0;
      return;
    }
  }
  head_of(name, head);
}

}  // namespace

void NamesHeader::remember(std::string_view name, int64_t id, long line) {
  const size_t before = previous_names_.entries().size();
  previous_names_.add(name, id, line);
  if (previous_names_.entries().size() == before || id < 0 || id >= kDirectIds) return;
  if (static_cast<size_t>(id) >= id_names_.size()) {
    // Room for every identifier it covers, taken once: entries are written
    // only up to the largest identifier, and never copied as it grows.
    id_names_.reserve(kDirectIds);
    id_names_.resize(id + 1);
  }
  IdName& known = id_names_[id];
  if (known.entry != 0) return;
  head_of(name, known.head);
  known.entry = static_cast<uint32_t>(before + 1);
  known.size = static_cast<uint32_t>(name.size());
}

// The index holds one entry per name: when this identifier's first entry
// is this name, the name's entry gives this identifier, and all is well.
inline bool NamesHeader::names_its_id(int32_t id, std::string_view name, size_t room) const {
  if (id < 0 || static_cast<size_t>(id) >= id_names_.size()) return false;
  const IdName& known = id_names_[id];
  uint64_t head[2];
  head_of(name, head, room);
  return known.entry != 0 && known.size == name.size() && known.head[0] == head[0] &&
         known.head[1] == head[1] &&
         (name.size() <= 16 ||
          previous_names_.name(previous_names_.entries()[known.entry - 1]) == name);
}

void NamesHeader::take_in_added() {
  for (const auto& [line_before, added] : to_remember_) {
    long added_line = line_before;
    for (const auto& [added_name, added_id] : added) remember(added_name, added_id, ++added_line);
  }
  to_remember_.clear();
}

void NamesHeader::check(int32_t id, std::string_view name, long column, long number) {
  const NameIndex::Entry* named = previous_names_.find(name);
  if (named != nullptr && named->id != id) {
    diagnostics_->error(source_path_, number, column,
                        "the name " + quoted(name, 63) + " is #defined as " +
                            std::to_string(named->id) + " in " + header_path_ +
                            ": one name cannot stand for identifier " + std::to_string(id) +
                            " as well");
  } else if (named == nullptr && defines_id(id)) {
    if (previous_ids_.empty()) {
      for (const NameIndex::Entry& entry : previous_names_.entries()) {
        previous_ids_.try_emplace(entry.id, entry);
      }
    }
    const auto first = previous_ids_.find(id);
    if (first == previous_ids_.end()) return;
    diagnostics_->warning(source_path_, number, column,
                          header_path_ + " already names " + std::to_string(id) + " " +
                              quoted(previous_names_.name(first->second), 63) + ", so " +
                              quoted(name, 63) + " is not defined");
  }
}

void NamesHeader::on_message_name(int32_t id, std::string_view line, long number) {
  on_message_name(id, line, message_name(line), number);
}

void NamesHeader::on_message_name(int32_t id, std::string_view line, std::string_view name,
                                  long number) {
  on_name(id, name, static_cast<size_t>(line.data() + line.size() - name.data()),
          static_cast<long>(name.data() - line.data()) + 1, number);
}

void NamesHeader::on_name(int32_t id, std::string_view name, size_t room, long column,
                          long number) {
  if (merge_mode_ && diagnostics_) {
    if (!to_remember_.empty()) take_in_added();
    // Nearly every name of a source after the first is one the header gives
    // its identifier already: told apart here, without the call to check().
    if (!names_its_id(id, name, room)) check(id, name, column, number);
  }
  if (merge_mode_ && defines_id(id)) return;
  // A previous header whose last line has no line feed is copied as it is,
  // but a new line must not be glued onto that last line: the header would
  // no longer compile and the next run would not see the new identifier.
  if (line_open_) {
    out_->buffer()->push_back('\n');
    line_open_ = false;
  }
  append_define(out_->buffer(), name, id);
  ++header_lines_;
  // A line with no name does not read back as a define (parse_define).
  if (!name.empty()) added_.emplace_back(name, id);
  out_->maybe_flush();
}

void NamesHeader::end_source() {
  for (const auto& [name, id] : added_) define(id);
  // Indexed only when a next source is checked: the last source of a run,
  // and the only one of most runs, never needs it.
  if (diagnostics_ && !added_.empty()) {
    to_remember_.push_back({header_lines_ - static_cast<long>(added_.size()), std::move(added_)});
  }
  added_.clear();
  previous_ids_.clear();
  merge_mode_ = true;
}

}  // namespace tolvane
