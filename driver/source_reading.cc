#include "driver/source_reading.h"

#include <algorithm>
#include <thread>

#include "source/text_encoder.h"

namespace tolvane {

void NameLog::add(int32_t id, std::string_view line, std::string_view name, long number) {
  entries_.push_back({id, static_cast<long>(name.data() - line.data()) + 1, number,
                      static_cast<uint32_t>(bytes_.size()), static_cast<uint32_t>(name.size())});
  bytes_.append(name);
}

void NameLog::hand_to(NamesHeader& names) {
  // Sixteen bytes may be read from any name's start.
  bytes_.append(16, '\0');
  const std::string_view bytes = bytes_;
  constexpr size_t kAhead = 8;
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (i + kAhead < entries_.size()) {
      if (const void* lookup = names.lookup_of(entries_[i + kAhead].id)) __builtin_prefetch(lookup);
    }
    const Entry& e = entries_[i];
    names.on_name(e.id, bytes.substr(e.offset, e.size), e.size + 16, e.column, e.number);
  }
}

void ReadingHandler::on_text(int32_t id, std::string_view text) {
  const size_t before = texts_->size();
  try {
    add(id, encode_text(text, coding_, texts_));
  } catch (const Failure& failure) {
    texts_->resize(before);
    if (!bad_escape) bad_escape = failure;
  }
  keep_or_drop();
}

void read_source(LineReader& reader, const std::string& path, SourceReading& reading,
                 NamesHeader* names, Diagnostics* diagnostics, std::string* texts) {
  read_directives(reader, path, &reading.parameters, diagnostics);
  reading.directive_lines = reader.line_number();
  reading.handler.emplace(names, names ? nullptr : &reading.names, texts, kKeptTexts,
                          reading.parameters.coding);
  reading.handler->source = &reader;
  message_pass(reader, path, *reading.handler, diagnostics, reading.parameters.coding);
}

size_t reading_threads() {
  const unsigned cores = std::thread::hardware_concurrency();
  // The build's own thread reads sources as well, while it waits.
  return cores < 2 ? 0 : std::min(cores - 1, 3u);
}

}  // namespace tolvane
