#include "source/source_reader.h"

#include <cctype>
#include <cstdint>
#include <cstring>
#include <optional>

#include "base/failure.h"
#include "source/decimal.h"
#include "source/message_line.h"
#include "source/source_checks.h"

namespace tolvane {
namespace {

bool starts_with(std::string_view line, std::string_view keyword) {
  return line.substr(0, keyword.size()) == keyword;
}

// starts_with(line, "#message"), as one comparison of eight bytes.
bool is_message_line(std::string_view line) {
  return line.size() >= 8 && std::memcmp(line.data(), "#message", 8) == 0;
}

// The token after `keyword`, past any white space; empty when there is none.
std::string token_after(std::string_view line, std::string_view keyword) {
  const size_t start = skip_spaces(line, keyword.size());
  return std::string(line.substr(start, token_end(line, start) - start));
}

// A hexadecimal number as "%x" scans it: optional sign, optional 0x, digits.
// Keeps `value` when no digit can be read, and returns whether one was.
bool scan_hex(std::string_view line, std::string_view keyword, uint32_t* value) {
  size_t i = skip_spaces(line, keyword.size());
  bool negative = false;
  if (i < line.size() && (line[i] == '+' || line[i] == '-')) negative = line[i++] == '-';
  if (i + 1 < line.size() && line[i] == '0' && (line[i + 1] == 'x' || line[i + 1] == 'X')) {
    // "0x" without a digit after it still reads the 0.
    bool digit_follows =
        i + 2 < line.size() && std::isxdigit(static_cast<unsigned char>(line[i + 2]));
    if (!digit_follows) {
      *value = 0;
      return true;
    }
    i += 2;
  }
  uint32_t result = 0;
  bool any = false;
  for (; i < line.size() && std::isxdigit(static_cast<unsigned char>(line[i])); ++i) {
    result = result * 16 + (std::isdigit(static_cast<unsigned char>(line[i]))
                                ? line[i] - '0'
                                : (line[i] | 0x20) - 'a' + 10);
    any = true;
  }
  if (any) *value = negative ? 0u - result : result;
  return any;
}

// Of the quotes inside a text, between its outer two, extract_text() keeps
// those right after a backslash and drops the others: where the first it
// drops is in `text`, or npos.
size_t dropped_quote(std::string_view text) {
  const char* const end = text.data() + text.size();
  for (const char* p = text.data();; ++p) {
    p = static_cast<const char*>(std::memchr(p, '"', static_cast<size_t>(end - p)));
    if (p == nullptr) return std::string_view::npos;
    if (p == text.data() || p[-1] != '\\') return static_cast<size_t>(p - text.data());
  }
}

}  // namespace

void read_directives(LineReader& source, const std::string& source_path,
                     TableParameters* parameters, Diagnostics* diagnostics) {
  std::optional<SourceChecks> checks;
  if (diagnostics) checks.emplace(source_path, *diagnostics);
  std::string line;
  if (!source.read_line(&line)) {
    if (checks) checks->empty_source();
    return;
  }
  if (checks) {
    checks->bytes(line, 1);
    // Reported, then read past, so that the rest of the source is checked.
    if (starts_with(line, kByteOrderMark)) {
      checks->byte_order_mark();
      line.erase(0, kByteOrderMark.size());
    }
  }
  if (!starts_with(line, kDirectiveKeywords[0])) {
    throw source_failure("  Error in " + source_path +
                         ":specify the name of the language to create:\n    ex :// #LANGUAGE EN");
  }
  parameters->language = token_after(line, kDirectiveKeywords[0]);
  if (checks) checks->language(line, parameters->language);

  for (int k = 1; k < 5; ++k) {
    const std::string_view keyword = kDirectiveKeywords[k];
    const bool read = source.read_line(&line);
    const long number = source.line_number();
    if (checks && read) checks->bytes(line, number);
    if (!read || !starts_with(line, keyword)) {
      if (checks) checks->directive_missing(k, read ? &line : nullptr, number);
      break;
    }
    switch (k) {
      case 1:
        parameters->font_file = token_after(line, keyword);
        if (checks) checks->font_file(line, parameters->font_file, number);
        break;
      case 2:
        parameters->coding_name = token_after(line, keyword);
        parameters->coding = parameters->coding_name == "UNICODE" ? kUnicodeCoding : kByteCoding;
        if (checks) checks->coding(line, parameters->coding_name, number);
        break;
      default: {
        const bool found =
            scan_hex(line, keyword, k == 3 ? &parameters->file_type : &parameters->appli_type);
        if (checks) checks->type(k, line, found, number);
      }
    }
  }
  if (checks) checks->directives_done(*parameters);
}

int32_t scan_message_id(std::string_view line, std::string_view* name) {
  const Decimal d = scan_decimal(line, skip_spaces(line, 8));  // after "#message"
  if (!d.found()) throw input_failure("the identifier of this #message line cannot be read");
  if (name) *name = name_after_identifier(line, d.end);
  const int64_t value = d.value();
  if (d.overflow || value > INT32_MAX || value < INT32_MIN) {
    const size_t start = d.digits_begin - (d.negative ? 1 : 0);
    throw input_failure("the identifier " + std::string(line.substr(start, d.end - start)) +
                        " does not fit a 32-bit signed integer");
  }
  return static_cast<int32_t>(value);
}

bool extract_text(std::string_view line, std::string* text) {
  size_t first = line.find('"');
  if (first == std::string_view::npos) return false;
  size_t last = line.rfind('"');
  text->clear();
  if (last == first) return true;  // a single quote: an empty text
  // Between the outer quotes, a quote is kept only right after a backslash
  // (which is itself copied like any character); the runs between quotes are
  // copied whole.
  const char* p = line.data() + first + 1;
  const char* const begin = p;
  const char* const end = line.data() + last;
  for (;;) {
    const char* quote = static_cast<const char*>(std::memchr(p, '"', end - p));
    if (quote == nullptr) {
      text->append(p, end - p);
      return true;
    }
    text->append(p, quote - p);
    if (quote > begin && quote[-1] == '\\') text->push_back('"');
    p = quote + 1;
  }
}

void message_pass(LineReader& source, const std::string& source_path, MessageHandler& handler,
                  Diagnostics* diagnostics, uint16_t coding) {
  std::optional<SourceChecks> checks;
  if (diagnostics) checks.emplace(source_path, *diagnostics);
  std::string_view line;
  std::string text;
  while (source.read_line(&line)) {
    const long number = source.line_number();
    if (checks) checks->bytes(line, number);
    if (!is_message_line(line)) {
      if (checks) checks->other_line(line, number);
      continue;
    }
    int32_t id = 0;
    std::string_view name;
    if (checks) {
      const Decimal scanned = scan_decimal(line, skip_spaces(line, 8));  // after "#message"
      const MessageName named = message_name_of(line, scanned.end);
      if (!checks->message(line, number, scanned, named)) continue;
      id = static_cast<int32_t>(scanned.value());
      name = named.name;
    } else {
      try {
        id = scan_message_id(line, &name);
      } catch (const Failure& failure) {
        throw source_failure("  Error in " + source_path + ": line " + std::to_string(number) +
                             ": " + failure.message());
      }
    }
    handler.on_name(id, line, name);
    // Most texts hold no quote between the outer two, or only escaped ones,
    // which extract_text() keeps as they are: such a text is handed on as
    // it stands in the line, and only the others are copied.
    const size_t first = line.find('"');
    if (first == std::string_view::npos) continue;
    const size_t last = line.rfind('"');
    std::string_view view = line.substr(first + 1, last > first ? last - first - 1 : 0);
    size_t dropped = dropped_quote(view);
    if (dropped != std::string_view::npos) {
      dropped += first + 1;  // in the line
      extract_text(line, &text);
      view = text;
    }
    if (checks) {
      const std::string_view encoded =
          checks->text(number, first, last, dropped, view, coding, handler.encoded_texts());
      handler.on_encoded_text(id, view, coding, encoded);
    } else {
      handler.on_text(id, view);
    }
  }
}

}  // namespace tolvane
