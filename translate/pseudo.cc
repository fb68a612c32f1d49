#include "translate/pseudo.h"

#include <array>
#include <vector>

#include "base/failure.h"
#include "msgfile/printf_format.h"
#include "platform/charset.h"
#include "source/unicode_text.h"
#include "translate/commands.h"
#include "translate/message_source.h"
#include "translate/table_text.h"

namespace tolvane::translate {
namespace {

// Accented forms of each letter, best first: Latin-1 ones come late enough
// that 8-bit character sets still find one.
const char32_t* accented_forms(char letter) {
  switch (letter) {
    case 'A':
      return U"\u00C5\u00C1\u00C0";
    case 'a':
      return U"\u00E5\u00E1\u00E0";
    case 'B':
      return U"\u0181";
    case 'b':
      return U"\u0180";
    case 'C':
      return U"\u00C7\u0106";
    case 'c':
      return U"\u00E7\u0107";
    case 'D':
      return U"\u00D0\u010E";
    case 'd':
      return U"\u00F0\u010F";
    case 'E':
      return U"\u00C9\u00C8\u00CA";
    case 'e':
      return U"\u00E9\u00E8\u00EA";
    case 'F':
      return U"\u0191";
    case 'f':
      return U"\u0192";
    case 'G':
      return U"\u011C\u011E";
    case 'g':
      return U"\u011D\u011F";
    case 'H':
      return U"\u0124";
    case 'h':
      return U"\u0125";
    case 'I':
      return U"\u00CE\u00CD\u00CF";
    case 'i':
      return U"\u00EE\u00ED\u00EF";
    case 'J':
      return U"\u0134";
    case 'j':
      return U"\u0135";
    case 'K':
      return U"\u0136";
    case 'k':
      return U"\u0137";
    case 'L':
      return U"\u013B\u0141";
    case 'l':
      return U"\u013C\u0142";
    case 'N':
      return U"\u00D1\u0143";
    case 'n':
      return U"\u00F1\u0144";
    case 'O':
      return U"\u00D6\u00D3\u00D8";
    case 'o':
      return U"\u00F6\u00F3\u00F8";
    case 'R':
      return U"\u0158\u0154";
    case 'r':
      return U"\u0159\u0155";
    case 'S':
      return U"\u0160\u015A";
    case 's':
      return U"\u0161\u015B";
    case 'T':
      return U"\u0162\u0164";
    case 't':
      return U"\u0163\u0165";
    case 'U':
      return U"\u00DC\u00DA\u00DB";
    case 'u':
      return U"\u00FC\u00FA\u00FB";
    case 'W':
      return U"\u0174";
    case 'w':
      return U"\u0175";
    case 'Y':
      return U"\u00DD\u0178";
    case 'y':
      return U"\u00FD\u00FF";
    case 'Z':
      return U"\u017D\u0179";
    case 'z':
      return U"\u017E\u017A";
    default:
      return U"";
  }
}

}  // namespace

std::string pseudo_text(std::string_view utf8, unsigned expand_percent,
                        const std::function<bool(char32_t)>& can_hold) {
  size_t body_end = utf8.size();
  while (body_end > 0 && utf8[body_end - 1] == '\n') --body_end;
  const std::string_view body = utf8.substr(0, body_end);
  std::vector<PrintfConversion> conversions;
  printf_conversions(body, &conversions);  // those found before any stray % still count

  std::string out = "[";
  size_t characters = 0;
  size_t next_conversion = 0;
  size_t i = 0;
  while (i < body.size()) {
    if (next_conversion < conversions.size() && conversions[next_conversion].begin == i) {
      const PrintfConversion& conversion = conversions[next_conversion++];
      out.append(body.substr(i, conversion.end - i));
      characters += conversion.end - i;
      i = conversion.end;
      continue;
    }
    const size_t start = i;
    char32_t c;
    if (!next_utf8(body, &i, &c)) {  // not UTF-8: copied as it is
      out.push_back(body[i++]);
      continue;
    }
    ++characters;
    bool replaced = false;
    if (c < 0x80) {
      for (const char32_t* form = accented_forms(static_cast<char>(c)); *form != 0; ++form) {
        if (can_hold(*form)) {
          append_utf8(*form, &out);
          replaced = true;
          break;
        }
      }
    }
    if (!replaced) out.append(body.substr(start, i - start));
  }
  const size_t padding = (characters * expand_percent + 99) / 100;
  if (padding > 0) {
    out += ' ';
    out.append(padding - 1, '~');
  }
  out += "]";
  out.append(utf8.substr(body_end));
  return out;
}

CommandResult run_pseudo(FileSystem& fs, const TranslateOptions& options) {
  const Charset charset(options.charset);
  const MessageSource reference = read_message_source(fs, options.reference);
  const TableText text(reference.unicode(), charset);
  std::array<int, 0x200> holds{};  // per character below U+0200: 0 unknown, 1 yes, 2 no
  auto can_hold = [&](char32_t c) {
    if (c >= holds.size()) return false;
    if (holds[c] == 0) {
      std::string utf8, bytes, why;
      append_utf8(c, &utf8);
      holds[c] = text.from_utf8(utf8, &bytes, &why) ? 1 : 2;
    }
    return holds[c] == 1;
  };

  CommandResult result;
  for (const std::string& line : reference.directive_lines) {
    result.output +=
        (line.compare(0, 12, "// #LANGUAGE") == 0 ? "// #LANGUAGE " + options.pseudo_language
                                                  : line) +
        "\n";
  }
  for (const SourceMessage& message : reference.messages) {
    if (!message.has_text) continue;
    std::string utf8, why, bytes;
    if (!text.to_utf8(message.bytes, &utf8, &why)) {
      throw input_failure(reference.path + ":" + std::to_string(message.line) + ": " +
                          message.name + ": " + why);
    }
    const std::string pseudo = pseudo_text(utf8, options.expand, can_hold);
    if (!text.from_utf8(pseudo, &bytes, &why)) {
      throw input_failure(reference.path + ":" + std::to_string(message.line) + ": " +
                          message.name + ": " + why);
    }
    result.output += message_lines(message.id, message.name, text.literal(bytes), pseudo, true);
  }
  return result;
}

}  // namespace tolvane::translate
