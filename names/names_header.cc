#include "names/names_header.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstring>

#include "source/decimal.h"

namespace tolvane {
namespace {

// ' ', '\t', '\v', '\f', '\r' and '\n': one look in a table, for scans
// that run over every #message line.
constexpr auto kSpaces = [] {
  std::array<bool, 256> spaces{};
  for (unsigned char c : {' ', '\t', '\v', '\f', '\r', '\n'}) spaces[c] = true;
  return spaces;
}();
bool is_space(char c) { return kSpaces[static_cast<unsigned char>(c)]; }

size_t skip_spaces(std::string_view line, size_t i) {
  while (i < line.size() && is_space(line[i])) ++i;
  return i;
}

// The end of the token starting at `i`: the next blank or the end of the
// line, a trailing carriage return excluded.
size_t token_end(std::string_view line, size_t i) {
  // Eight bytes at a time past those that are all above 0x20, so no space.
  constexpr uint64_t kOnes = 0x0101010101010101u, kHighs = 0x8080808080808080u;
  for (; i + 8 <= line.size(); i += 8) {
    uint64_t word;
    std::memcpy(&word, line.data() + i, 8);
    if (((word - 0x21 * kOnes) & ~word & kHighs) != 0) break;
  }
  while (i < line.size() && !is_space(line[i])) ++i;
  return i;
}

}  // namespace

std::optional<int64_t> parse_define(std::string_view line, std::string_view* name) {
  constexpr std::string_view kDefine = "#define";
  if (line.substr(0, kDefine.size()) != kDefine) return std::nullopt;
  size_t i = kDefine.size();
  if (i >= line.size() || !is_space(line[i])) return std::nullopt;
  i = skip_spaces(line, i);
  size_t name_end = token_end(line, i);
  if (name_end == i) return std::nullopt;
  if (name) *name = line.substr(i, name_end - i);
  i = skip_spaces(line, name_end);
  const Decimal d = scan_decimal(line, i);
  // Numbers past the 32-bit range can never equal an identifier.
  if (!d.found() || d.overflow) return std::nullopt;
  return d.value();
}

std::string_view message_name(std::string_view line) {
  size_t i = skip_spaces(line, 8);  // after "#message"
  i = skip_spaces(line, scan_decimal(line, i).end);
  return line.substr(i, token_end(line, i) - i);
}

void append_define(std::string* out, std::string_view name, int32_t id) {
  out->append("#define ");
  out->append(name);
  out->push_back(' ');
  char digits[16];
  auto result = std::to_chars(digits, digits + sizeof digits, id);
  out->append(digits, result.ptr);
  out->push_back('\n');
}

std::string names_header_problem(File& previous) {
  // Binary data shows in its first bytes, before a line is looked for: a
  // catalogue may run for megabytes without a line feed.
  char head[4096];
  const size_t got = previous.read_at(0, head, sizeof head);
  const std::string_view start(head, got);
  if (start.find('\0') != std::string_view::npos) {
    // The FILE ID 0x4D53, low byte first.
    return start.substr(0, 2) == "SM" ? "it is an MSG file" : "it is not text";
  }
  LineReader lines(&previous, false);
  std::string_view line;
  bool in_comment = false;  // inside a /* */ comment
  while (lines.read_line(&line)) {
    if (line.find('\0') != std::string_view::npos) {
      return "it is not text (line " + std::to_string(lines.line_number()) + ")";
    }
    if (!in_comment && std::memchr(line.data(), '/', line.size()) == nullptr) {
      // No comment opens or closes: the first non-space decides, as below.
      const size_t first = skip_spaces(line, 0);
      if (first == line.size() || line[first] == '#') continue;
      return "line " + std::to_string(lines.line_number()) +
             " is neither a preprocessor line (#define ...), a comment nor blank";
    }
    // Comments may open and close anywhere along the line; whatever is
    // outside them must be a preprocessor line (#define, or an include guard
    // a person added) or nothing.
    bool code_seen = false, directive = false;
    for (size_t i = 0; i < line.size();) {
      if (in_comment) {
        const size_t end = line.find("*/", i);
        if (end == std::string_view::npos) break;
        in_comment = false;
        i = end + 2;
      } else if (line.substr(i, 2) == "//") {
        break;
      } else if (line.substr(i, 2) == "/*") {
        in_comment = true;
        i += 2;
      } else if (is_space(line[i]) || code_seen) {
        ++i;
      } else {
        code_seen = true;
        // A person may keep the header in an include guard or under other
        // preprocessor lines; a run never reads them as definitions.
        directive = line[i] == '#';
        if (!directive) break;
        ++i;
      }
    }
    if (code_seen && !directive) {
      return "line " + std::to_string(lines.line_number()) +
             " is neither a preprocessor line (#define ...), a comment nor blank";
    }
  }
  return "";
}

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
    id_names_.resize(std::max<size_t>(id + 1, 2 * id_names_.size()));
  }
  IdName& known = id_names_[id];
  if (known.entry != 0) return;
  head_of(name, known.head);
  known.entry = static_cast<uint32_t>(before + 1);
  known.size = static_cast<uint32_t>(name.size());
}

void NamesHeader::check(int32_t id, std::string_view line, long number) {
  if (!to_remember_.empty()) {
    for (const auto& [line_before, added] : to_remember_) {
      long added_line = line_before;
      for (const auto& [added_name, added_id] : added) remember(added_name, added_id, ++added_line);
    }
    to_remember_.clear();
  }
  const std::string_view name = message_name(line);
  // The index holds one entry per name: when this identifier's first entry
  // is this name, the name's entry gives this identifier, and all is well.
  if (id >= 0 && static_cast<size_t>(id) < id_names_.size()) {
    const IdName& known = id_names_[id];
    uint64_t head[2];
    head_of(name, head, static_cast<size_t>(line.data() + line.size() - name.data()));
    if (known.entry != 0 && known.size == name.size() && known.head[0] == head[0] &&
        known.head[1] == head[1] &&
        (name.size() <= 16 ||
         previous_names_.name(previous_names_.entries()[known.entry - 1]) == name)) {
      return;
    }
  }
  const long column = static_cast<long>(name.data() - line.data()) + 1;
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
  if (merge_mode_ && diagnostics_) check(id, line, number);
  if (merge_mode_ && defines_id(id)) return;
  // A previous header whose last line has no line feed is copied as it is,
  // but a new line must not be glued onto that last line: the header would
  // no longer compile and the next run would not see the new identifier.
  if (line_open_) {
    out_->buffer()->push_back('\n');
    line_open_ = false;
  }
  const std::string_view name = message_name(line);
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
