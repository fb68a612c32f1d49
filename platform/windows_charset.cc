// The Windows build has no iconv: only plain ASCII is known there.
#include "base/failure.h"
#include "platform/charset.h"

namespace tolvane {

struct Charset::Converters {};

Charset::Charset(const std::string& name) : name_(name.empty() ? "ASCII" : name) {
  if (!name.empty()) {
    throw usage_failure("character sets cannot be converted in the Windows build; \"" + name +
                        "\" needs the Linux build");
  }
}

Charset::~Charset() = default;

bool Charset::decode(std::string_view bytes, std::string* utf8, size_t* bad) const {
  return ascii_only(bytes, utf8, bad);
}

bool Charset::encode(std::string_view utf8, std::string* bytes, size_t* bad) const {
  return ascii_only(utf8, bytes, bad);
}

}  // namespace tolvane
