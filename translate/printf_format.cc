#include "translate/printf_format.h"

#include <cstring>

namespace tolvane::translate {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Digits then `$`: a position. Moves `*i` past them only when both are there.
void skip_position(std::string_view text, size_t* i) {
  size_t j = *i;
  while (j < text.size() && is_digit(text[j])) ++j;
  if (j > *i && j < text.size() && text[j] == '$') *i = j + 1;
}

// A width or precision: digits, or * with an optional position.
void skip_amount(std::string_view text, size_t* i) {
  if (*i < text.size() && text[*i] == '*') {
    ++*i;
    skip_position(text, i);
    return;
  }
  while (*i < text.size() && is_digit(text[*i])) ++*i;
}

}  // namespace

bool printf_conversions(std::string_view text, std::vector<Conversion>* conversions) {
  conversions->clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') continue;
    Conversion conversion;
    conversion.begin = i++;
    if (i < text.size() && text[i] == '%') {
      conversion.end = i + 1;
      conversion.takes_argument = false;
      conversions->push_back(conversion);
      continue;
    }
    skip_position(text, &i);
    while (i < text.size() && std::strchr("-+ #0'", text[i]) != nullptr && text[i] != '\0') ++i;
    skip_amount(text, &i);
    if (i < text.size() && text[i] == '.') {
      ++i;
      skip_amount(text, &i);
    }
    for (const char* length : {"hh", "ll", "h", "l", "L", "q", "j", "z", "t"}) {
      if (text.substr(i, std::strlen(length)) == length) {
        i += std::strlen(length);
        break;
      }
    }
    if (i >= text.size() || std::strchr("diouxXeEfFgGaAcspn", text[i]) == nullptr ||
        text[i] == '\0') {
      return false;
    }
    conversion.end = i + 1;
    conversions->push_back(conversion);
  }
  return true;
}

bool is_c_format(std::string_view text) {
  std::vector<Conversion> conversions;
  if (!printf_conversions(text, &conversions)) return false;
  for (const Conversion& conversion : conversions) {
    if (conversion.takes_argument) return true;
  }
  return false;
}

}  // namespace tolvane::translate
