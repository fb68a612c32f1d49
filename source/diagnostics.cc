#include "source/diagnostics.h"

namespace tolvane {
namespace {

void append_ascii(std::string* out, std::string_view bytes, bool keep_high) {
  static const char kHex[] = "0123456789ABCDEF";
  for (char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte >= 0x20 && byte < 0x7F) || (keep_high && byte >= 0x80)) {
      out->push_back(c);
    } else {
      out->append("\\x");
      out->push_back(kHex[byte >> 4]);
      out->push_back(kHex[byte & 15]);
    }
  }
}

}  // namespace

void Diagnostics::report(Diagnostic diagnostic) {
  if (diagnostic.severity == Severity::kError) ++errors_;
  all_.push_back(std::move(diagnostic));
}

std::string format_diagnostic(const Diagnostic& d) {
  std::string out;
  // A path keeps its letters past ASCII, so that an editor still finds the
  // file; control characters could break the line and are escaped.
  append_ascii(&out, d.path, true);
  out += ':';
  out += std::to_string(d.line);
  out += ':';
  if (d.column > 0) {
    out += std::to_string(d.column);
    out += ':';
  }
  out += d.severity == Severity::kError ? " error: " : " warning: ";
  append_ascii(&out, d.text, false);
  out.push_back('\n');
  return out;
}

std::string quoted(std::string_view piece, size_t limit) {
  std::string out = "\"";
  append_ascii(&out, piece.substr(0, limit), false);
  if (piece.size() > limit) out += "...";
  out += "\"";
  return out;
}

}  // namespace tolvane
