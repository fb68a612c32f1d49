#include "names/names_header.h"

#include <charconv>

#include "source/decimal.h"

namespace tolvane {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }
bool is_space(char c) { return is_blank(c) || c == '\r' || c == '\n'; }

size_t skip_spaces(std::string_view line, size_t i) {
  while (i < line.size() && is_space(line[i])) ++i;
  return i;
}

// The end of the token starting at `i`: the next blank or the end of the
// line, a trailing carriage return excluded.
size_t token_end(std::string_view line, size_t i) {
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
  std::string_view line;
  bool newline = false;
  std::string_view name;
  while (previous.read_line(&line, &newline)) {
    if (auto id = parse_define(line, &name)) {
      define(*id);
      if (diagnostics_) previous_names_.add(name, *id, previous.line_number());
    }
    out_->buffer()->append(line);
    if (newline) out_->buffer()->push_back('\n');
    line_open_ = !newline;
    out_->maybe_flush();
  }
  header_lines_ = previous.line_number();
}

void NamesHeader::check(int32_t id, std::string_view line, long number) {
  const std::string_view name = message_name(line);
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
  long line = header_lines_ - static_cast<long>(added_.size());
  for (const auto& [name, id] : added_) {
    define(id);
    if (diagnostics_) previous_names_.add(name, id, ++line);
  }
  added_.clear();
  previous_ids_.clear();
  merge_mode_ = true;
}

}  // namespace tolvane
