#include "platform/charset.h"

namespace tolvane {

bool ascii_only(std::string_view text, std::string* out, size_t* bad) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (static_cast<unsigned char>(text[i]) >= 0x80) {
      *bad = i;
      return false;
    }
  }
  out->assign(text);
  return true;
}

}  // namespace tolvane
