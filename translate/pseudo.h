// Pseudo-localization: texts that still read as the reference but show on
// screen what a translation would break: letters accented, about a third
// longer, in brackets that show where a text was cut.
#ifndef TOLVANE_TRANSLATE_PSEUDO_H_
#define TOLVANE_TRANSLATE_PSEUDO_H_

#include <functional>
#include <string>
#include <string_view>

namespace tolvane::translate {

// `utf8` with each ASCII letter replaced by the first of its accented forms
// `can_hold` accepts (kept as it is when none), `expand_percent` more
// characters of padding, and the whole in brackets; line feeds at the end stay
// after the closing bracket. printf conversions and control characters are
// left as they are, in their order.
std::string pseudo_text(std::string_view utf8, unsigned expand_percent,
                        const std::function<bool(char32_t)>& can_hold);

}  // namespace tolvane::translate

#endif  // TOLVANE_TRANSLATE_PSEUDO_H_
