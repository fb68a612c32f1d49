#include "msgfile/catalogue.h"

#include <cstring>

#include "msgfile/catalogue_layout.h"
#include "msgfile/escape.h"

namespace tolvane {

std::string Catalogue::table_name(const TableLayout& table) const {
  std::string language;
  if (table.language < languages.size()) {
    language = field_text(languages[table.language].entry.language, kLanguageWidth);
  }
  return language + ":" + std::to_string(table.rank);
}

int find_language(const Catalogue& catalogue, const std::string& language) {
  char key[kLanguageWidth];
  set_chars(key, kLanguageWidth, language);
  for (size_t i = 0; i < catalogue.languages.size(); ++i) {
    if (std::strncmp(catalogue.languages[i].entry.language, key, kLanguageWidth) == 0) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

std::optional<Failure> read_catalogue(File& file, const std::string& name, Catalogue* catalogue) {
  *catalogue = read_layout(file);
  auto refusal = [&](const std::string& problem) { return input_failure(name + " : " + problem); };
  if (!catalogue->header_complete) {
    return refusal("the header is cut short (" + std::to_string(catalogue->file_size) + " bytes)");
  }
  std::optional<Failure> problem;
  find_damage(file, *catalogue, [&](const Damage& damage) {
    problem = refusal(damage.refusal);
    return false;
  });
  return problem;
}

}  // namespace tolvane
