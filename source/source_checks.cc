#include "source/source_checks.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "msgfile/layout.h"
#include "msgfile/records.h"
#include "source/source_reader.h"
#include "source/text_encoder.h"

namespace tolvane {
namespace {

constexpr bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r';
}

size_t skip_blanks(std::string_view line, size_t i) {
  while (i < line.size() && is_blank(line[i])) ++i;
  return i;
}

std::string lower(std::string_view word) {
  std::string out(word);
  for (char& c : out) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c | 0x20) : c;
  return out;
}

// How many single-letter edits turn `a` into `b`.
size_t distance(std::string_view a, std::string_view b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t up = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
      diagonal = up;
    }
  }
  return row[b.size()];
}

const char* const kUnsetValues[] = {"the font file (empty)", "the coding (byte)",
                                    "the file type (0)", "the application type (0)"};

// "the font file (empty), the coding (byte), ..." from directive `first` on.
std::string unset_values(int first) {
  std::string out;
  for (int k = first; k <= 4; ++k) {
    if (!out.empty()) out += k == 4 ? " and " : ", ";
    out += kUnsetValues[k - 1];
  }
  return out;
}

std::string hex32(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

// The tables of sources checked before, empty. A run over many sources
// reuses their memory rather than have the system hand out and zero fresh
// pages for every source, which cost more than the checks themselves. Shared
// by the threads that check sources at once; not kept per thread, as a
// thread's own storage is freed at its end by means some systems' threads
// get wrong.
class SpareTables {
 public:
  std::unique_ptr<SourceChecks::Tables> take() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (spares_.empty()) return std::make_unique<SourceChecks::Tables>();
    std::unique_ptr<SourceChecks::Tables> tables = std::move(spares_.back());
    spares_.pop_back();
    return tables;
  }
  void give(std::unique_ptr<SourceChecks::Tables> tables) {
    constexpr size_t kMost = 8;
    std::lock_guard<std::mutex> lock(mutex_);
    if (spares_.size() < kMost) spares_.push_back(std::move(tables));
  }

 private:
  std::mutex mutex_;
  std::vector<std::unique_ptr<SourceChecks::Tables>> spares_;
};

SpareTables& spare_tables() {
  static SpareTables spares;
  return spares;
}

}  // namespace

SourceChecks::SourceChecks(std::string_view path, Diagnostics& diagnostics)
    : path_(path), diagnostics_(diagnostics), tables_(spare_tables().take()) {}

SourceChecks::~SourceChecks() {
  // id_lines is read only where id_seen has a bit, and each such place was
  // written first: it needs no clearing.
  std::fill(tables_->id_seen.begin(), tables_->id_seen.end(), 0);
  tables_->id_log.clear();
  tables_->id_lines_built = false;
  tables_->names.clear();
  spare_tables().give(std::move(tables_));
}

void SourceChecks::error(long number, size_t column, std::string text) {
  diagnostics_.error(path_, number, static_cast<long>(column), std::move(text));
}

void SourceChecks::warning(long number, size_t column, std::string text) {
  diagnostics_.warning(path_, number, static_cast<long>(column), std::move(text));
}

namespace {

// Controls other than the white space of C sources are no text in any
// character set a source is written in.
constexpr auto kBinary = [] {
  std::array<bool, 256> binary{};
  for (int c = 0; c < 0x20; ++c) binary[c] = !is_blank(static_cast<char>(c));
  binary[0x7F] = true;
  return binary;
}();

#if defined(__SSE2__)
__m128i load16(const char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

// The bytes below 0x20 and 0x7F among sixteen: blanks included.
__m128i controls(__m128i v) {
  return _mm_or_si128(_mm_cmpeq_epi8(_mm_min_epu8(v, _mm_set1_epi8(0x1F)), v),
                      _mm_cmpeq_epi8(v, _mm_set1_epi8(0x7F)));
}

// The bytes below 0x20, 0x7F and those above it among sixteen, told by
// one signed comparison once 1 is added: a quick look that text in ASCII
// passes, with a closer one where it does not.
__m128i maybe_controls(__m128i v) {
  return _mm_cmplt_epi8(_mm_add_epi8(v, _mm_set1_epi8(1)), _mm_set1_epi8(0x21));
}

// Whether the sixteen bytes at `p` are all printable ASCII, which the quick
// look of maybe_controls() passes.
bool printable16(const char* p) { return _mm_movemask_epi8(maybe_controls(load16(p))) == 0; }

// Whether any of the sixteen bytes at `p` is binary (kBinary).
bool binary_in(const char* p) {
  const __m128i v = load16(p);
  const __m128i from_tab = _mm_sub_epi8(v, _mm_set1_epi8(0x09));
  const __m128i blank =
      _mm_andnot_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(0x0A)),
                       _mm_cmpeq_epi8(_mm_min_epu8(from_tab, _mm_set1_epi8(4)), from_tab));
  return _mm_movemask_epi8(_mm_andnot_si128(blank, controls(v))) != 0;
}
#endif

}  // namespace

void SourceChecks::bytes(std::string_view line, long number) {
  if (binary_reported_) return;
  size_t i = 0;
#if defined(__SSE2__)
  // Sixty-four bytes at a time, then sixteen, past those that hold no
  // control at all; a blank or a byte above 0x7F among them costs a closer
  // look, and only a binary byte stops. `i` only ever passes bytes found
  // clean, so the byte by byte look below starts before the first binary
  // byte.
  const char* const p = line.data();
  const size_t n = line.size();
  for (; i + 64 <= n; i += 64) {
    const __m128i any = _mm_or_si128(
        _mm_or_si128(maybe_controls(load16(p + i)), maybe_controls(load16(p + i + 16))),
        _mm_or_si128(maybe_controls(load16(p + i + 32)), maybe_controls(load16(p + i + 48))));
    if (_mm_movemask_epi8(any) != 0 && (binary_in(p + i) || binary_in(p + i + 16) ||
                                        binary_in(p + i + 32) || binary_in(p + i + 48))) {
      break;
    }
  }
  for (; i + 16 <= n; i += 16) {
    if (!printable16(p + i) && binary_in(p + i)) break;
  }
  // The last bytes, sixteen that may overlap those seen.
  if (i + 16 > n && n >= 16 && (printable16(p + n - 16) || !binary_in(p + n - 16))) return;
#endif
  // Eight bytes at a time past those that hold no control character at all.
  constexpr uint64_t kOnes = 0x0101010101010101u, kHighs = 0x8080808080808080u;
  for (; i + 8 <= line.size(); i += 8) {
    uint64_t word;
    std::memcpy(&word, line.data() + i, 8);
    const uint64_t below_space = (word - 0x20 * kOnes) & ~word & kHighs;
    const uint64_t del = ((word ^ 0x7F * kOnes) - kOnes) & ~(word ^ 0x7F * kOnes) & kHighs;
    if ((below_space | del) != 0) break;
  }
  for (; i < line.size(); ++i) {
    const auto c = static_cast<unsigned char>(line[i]);
    if (kBinary[c]) {
      binary_reported_ = true;
      char what[64];
      std::snprintf(what, sizeof what, "the byte 0x%02X%s", c, c == 0 ? " (NUL)" : "");
      error(number, i + 1,
            std::string("binary data: ") + what +
                " is no text; a message source is a text file, and \\0 or \\xHH write such "
                "bytes into a text");
      return;
    }
  }
}

void SourceChecks::empty_source() {
  error(1, 0, "the source is empty: it must begin with the directive lines, // #LANGUAGE first");
}

void SourceChecks::byte_order_mark() {
  error(1, 1,
        "the source starts with a UTF-8 byte order mark (bytes EF BB BF) before // #LANGUAGE: "
        "save it without the mark");
}

void SourceChecks::language(std::string_view line, const std::string& value) {
  const size_t column = skip_blanks(line, kDirectiveKeywords[0].size()) + 1;
  if (value.empty()) {
    error(1, column, "no language after // #LANGUAGE: the table would have an empty language");
  } else if (value.size() > 2) {
    warning(1, column,
            "the language " + quoted(value) + " is stored on two characters, as " +
                quoted(value.substr(0, 2)));
  }
}

void SourceChecks::font_file(std::string_view line, const std::string& value, long number) {
  if (value.size() <= kFontFileWidth) return;
  warning(number, skip_blanks(line, kDirectiveKeywords[1].size()) + 1,
          "the font file name has " + std::to_string(value.size()) +
              " bytes: it is stored cut to its first " + std::to_string(kFontFileWidth) + ", " +
              quoted(value.substr(0, kFontFileWidth)));
}

void SourceChecks::coding(std::string_view line, const std::string& value, long number) {
  if (value == "UNICODE" || lower(value) != "unicode") return;
  warning(number, skip_blanks(line, kDirectiveKeywords[2].size()) + 1,
          "the coding " + quoted(value) +
              " is not UNICODE (upper case): the table is a byte table; write UNICODE for a "
              "UNICODE table");
}

void SourceChecks::type(int directive, std::string_view line, bool found, long number) {
  type_lines_[directive - 3] = number;
  if (found) return;
  const char* what = directive == 3 ? "file type" : "application type";
  warning(number, skip_blanks(line, kDirectiveKeywords[directive].size()) + 1,
          std::string("no hexadecimal number after ") + std::string(kDirectiveKeywords[directive]) +
              ": the " + what + " stays 0");
}

void SourceChecks::directive_missing(int directive, const std::string* line, long number) {
  const std::string expected(kDirectiveKeywords[directive]);
  if (line == nullptr) {
    warning(number + 1, 0,
            "the source ends before the " + expected + " directive: " + unset_values(directive) +
                (directive == 4 ? " stays" : " stay") + " unset");
    return;
  }
  if (line->compare(0, 8, "#message") == 0) {
    error(number, 1,
          "a #message line where the " + expected +
              " directive is expected: the directive reading takes the line, so this message "
              "would be lost; the five directive lines come first");
    return;
  }
  std::string found;
  for (int k = 0; k < 5; ++k) {
    if (line->compare(0, kDirectiveKeywords[k].size(), kDirectiveKeywords[k]) == 0) {
      found = " (it is the " + std::string(kDirectiveKeywords[k]) +
              " directive: the order is LANGUAGE, FONFILE, MSGCODING, FILETYPE, APPLITYPE)";
    }
  }
  warning(number, 1,
          "this line is not the " + expected + " directive expected here" + found +
              ": it is passed over, and " + unset_values(directive) +
              (directive == 4 ? " stays" : " stay") + " unset");
}

void SourceChecks::directives_done(const TableParameters& parameters) {
  const uint32_t values[2] = {parameters.file_type, parameters.appli_type};
  for (int k = 0; k < 2; ++k) {
    if (type_lines_[k] == 0 || values[k] <= 0xFFFF) continue;
    warning(type_lines_[k], 0,
            std::string(k == 0 ? "the file type " : "the application type ") + hex32(values[k]) +
                " does not fit 16 bits: the table's type_key becomes " +
                hex32(make_type_key(parameters.file_type, parameters.appli_type)));
  }
}

void SourceChecks::other_line(std::string_view line, long number) {
  const size_t hash = skip_blanks(line, 0);
  if (hash >= line.size() || line[hash] != '#') return;
  size_t begin = skip_blanks(line, hash + 1);
  size_t end = begin;
  while (end < line.size() && ((line[end] | 0x20) >= 'a' && (line[end] | 0x20) <= 'z')) ++end;
  const std::string word = lower(line.substr(begin, end - begin));
  if (word.empty()) return;
  // Words of C's own directives are never taken for a misspelt #message.
  static const char* const kDirectives[] = {"define", "include", "if",      "ifdef", "ifndef",
                                            "else",   "elif",    "endif",   "undef", "pragma",
                                            "error",  "line",    "warning", "import"};
  for (const char* directive : kDirectives) {
    if (word == directive) return;
  }
  if (word != "message" && distance(word, "message") > 2) return;
  if (hash > 0 && line.compare(hash, 8, "#message") == 0) {
    warning(number, 1, "an indented #message line is ignored: #message must begin the line");
  } else {
    warning(number, hash + 1,
            quoted(line.substr(hash, end - hash)) + " is not #message: the line is ignored");
  }
}

bool SourceChecks::message(std::string_view line, long number, const Decimal& id,
                           const MessageName& message_name) {
  const size_t id_begin = id.digits_begin - (id.negative ? 1 : 0);
  if (!id.found()) {
    error(number, id_begin + 1, "the identifier of this #message line cannot be read");
    return false;
  }
  const int64_t value = id.value();
  if (id.overflow || value > INT32_MAX || value < INT32_MIN) {
    error(number, id_begin + 1,
          "the identifier " + std::string(line.substr(id_begin, id.end - id_begin)) +
              " does not fit a 32-bit signed integer");
    return false;
  }
  if (id.end < line.size() && !is_blank(line[id.end])) {
    const std::string token(line.substr(id_begin, token_end(line, id.end) - id_begin));
    std::string hint;
    if (token.size() > 2 && token[0] == '0' && (token[1] | 0x20) == 'x') {
      hint = "; identifiers are decimal";
      char* rest = nullptr;
      const unsigned long hex = std::strtoul(token.c_str() + 2, &rest, 16);
      if (*rest == '\0' && hex <= 65535) hint += ", so write " + std::to_string(hex);
    }
    error(number, id_begin + 1,
          "the identifier " + quoted(token) + " is not a decimal number: it would be read as " +
              std::to_string(value) + hint);
    return true;
  }
  if (value < 0 || value > 65535) {
    warning(number, id_begin + 1,
            "the identifier " + std::to_string(value) + " is outside 0-65535: the table stores " +
                std::to_string(value & 0xFFFF) + ", while the names header says " +
                std::to_string(value));
  }
  const std::string_view name = message_name.name;
  const size_t name_column = static_cast<size_t>(name.data() - line.data()) + 1;
  if (name.empty() || name[0] == '"') {
    error(number, name_column,
          "no name after the identifier: the names header would get a #define without one");
  } else if (!message_name.identifier_chars || (name[0] >= '0' && name[0] <= '9')) {
    error(
        number, name_column,
        "the name " + quoted(name) + " is not a C identifier: the names header would not compile");
  } else {
    const NameIndex::Entry& first = tables_->names.add(name, value, number);
    if (first.id != value) {
      error(number, name_column,
            "the name " + std::string(name) + " already stands for identifier " +
                std::to_string(first.id) + " (line " + std::to_string(first.line) +
                "): one name cannot give two identifiers");
    }
  }
  // Each identifier's first line goes to a list read in order; only a source
  // that gives one twice turns the list into a table by identifier. Most
  // sources never do, and a bitmap small enough to stay in cache says so.
  Tables& t = *tables_;
  const uint32_t key = static_cast<uint32_t>(value & 0xFFFF);
  uint64_t& seen = t.id_seen[key >> 6];
  const uint64_t bit = uint64_t{1} << (key & 63);
  if ((seen & bit) == 0) {
    seen |= bit;
    if (t.id_lines_built) {
      t.id_lines[key] = static_cast<uint32_t>(number);
    } else {
      t.id_log.push_back({key, static_cast<uint32_t>(number)});
    }
    return true;
  }
  if (!t.id_lines_built) {
    if (t.id_lines.empty()) t.id_lines.resize(65536);
    for (const auto& [logged, line] : t.id_log) t.id_lines[logged] = line;
    t.id_lines_built = true;
  }
  warning(number, id_begin + 1,
          "the identifier " + std::to_string(key) +
              " is given twice in this source (first at line " + std::to_string(t.id_lines[key]) +
              "): a lookup finds only one of its texts");
  return true;
}

std::string_view SourceChecks::text(long number, size_t open, size_t close, size_t dropped_quote,
                                    std::string_view text, uint16_t coding, std::string* into) {
  if (open == close) {
    warning(number, open + 1, "the text has no closing double quote: it is empty");
  }
  if (dropped_quote != std::string_view::npos) {
    warning(number, dropped_quote + 1,
            "a double quote inside the text is dropped: write \\\" for a double quote");
  }
  // Encoded once, for what the encoder finds and for the handler, which
  // need not encode the text again.
  if (!into) encoded_.clear();
  std::string& out = into ? *into : encoded_;
  const size_t before = out.size();
  findings_.clear();
  try {
    encode_text(text, coding, &out, &findings_);
  } catch (...) {
    out.resize(before);
    throw;
  }
  for (const TextFinding& finding : findings_) {
    warning(number, open + 2 + finding.offset, finding.text);
  }
  return std::string_view(out).substr(before);
}

}  // namespace tolvane
