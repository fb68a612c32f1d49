// One reading of a message source for a build: its directives, names and
// texts, on the build's own thread or on a worker thread ahead of its turn.
#ifndef TOLVANE_DRIVER_SOURCE_READING_H_
#define TOLVANE_DRIVER_SOURCE_READING_H_

#include <cstddef>
#include <cstdint>
#include <exception>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/failure.h"
#include "msgfile/memory_file.h"
#include "msgfile/table_block.h"
#include "names/names_header.h"
#include "platform/file_io.h"
#include "platform/file_system.h"
#include "platform/interrupt.h"
#include "source/diagnostics.h"
#include "source/source_reader.h"

namespace tolvane {

// The #message names of a source read on a worker thread, in order, kept for
// the names header, whose state each source's lines depend on, to take in
// the build's own thread. The names are copied: a line is gone once the
// reader has moved on past it.
class NameLog {
 public:
  void add(int32_t id, std::string_view line, std::string_view name, long number);
  void clear() {
    entries_.clear();
    bytes_.clear();
  }
  // Hands every name to `names`, in order.
  void hand_to(NamesHeader& names);

 private:
  struct Entry {
    int32_t id;
    long column, number;
    uint32_t offset, size;
  };
  std::vector<Entry> entries_;
  std::string bytes_;
};

// The one pass over a source while the run reads it: every name to the names
// header (or, on a worker thread, to a log of them), every text counted and
// encoded. The texts are kept for the block
// while they fit in `limit` bytes; past that only their size is, and the
// block is encoded again once its place is known. A text with a bad escape
// does not stop the pass: a bad identifier further on is the failure a run
// reports first, as is a source with too many texts.
class ReadingHandler : public MessageHandler {
 public:
  ReadingHandler(NamesHeader* names, NameLog* log, std::string* texts, size_t limit,
                 uint16_t coding)
      : names_(names), log_(log), texts_(texts), limit_(limit), coding_(coding) {}
  // The pass's reader, whose line numbers the names header's findings give.
  const LineReader* source = nullptr;
  void on_name(int32_t id, std::string_view line, std::string_view name) override {
    const long number = source ? source->line_number() : 0;
    if (log_) {
      log_->add(id, line, name, number);
    } else {
      names_->on_message_name(id, line, name, number);
    }
  }
  void on_text(int32_t id, std::string_view text) override;
  // The checks have encoded the text already: their bytes are taken as
  // they are.
  void on_encoded_text(int32_t id, std::string_view text, uint16_t coding,
                       std::string_view encoded) override {
    if (coding != coding_) {
      // Not these texts' coding: what the checks appended goes again.
      if (in_place(encoded)) texts_->resize(texts_->size() - encoded.size());
      return on_text(id, text);
    }
    if (!in_place(encoded)) texts_->append(encoded);
    add(id, static_cast<uint32_t>(encoded.size()));
    keep_or_drop();
  }
  // The checks encode straight to the end of the texts.
  std::string* encoded_texts() override { return texts_; }

  TableBlockBuilder block;
  size_t texts = 0;
  uint64_t text_bytes = 0;
  bool kept = true;  // every text is in `texts_`
  std::optional<Failure> bad_escape;

 private:
  bool in_place(std::string_view encoded) const {
    return encoded.size() <= texts_->size() &&
           encoded.data() == texts_->data() + texts_->size() - encoded.size();
  }
  void add(int32_t id, uint32_t length) {
    if (block.count() <= kMaxCount) block.add(id, length);
    ++texts;
    text_bytes += length;
  }
  void keep_or_drop() {
    if (texts_->size() > limit_ || !kept) {
      kept = false;
      texts_->clear();
    }
    stop_if_interrupted();
  }

  NamesHeader* names_;
  NameLog* log_;
  std::string* texts_;
  size_t limit_;
  uint16_t coding_;
};

// Texts of one block are kept in memory up to this size, and written once
// the block's place is known; a larger block is encoded again.
constexpr size_t kKeptTexts = 4 << 20;

// What one reading of a source gives: its directives and its texts, encoded
// and counted; and from a reading on a worker thread, the findings and names
// it holds for the build's own thread, and the failure it stopped at.
struct SourceReading {
  TableParameters parameters;
  long directive_lines = 0;
  std::optional<ReadingHandler> handler;
  // A reading on a worker thread only: the source, open (`owned`, but for
  // the first), or read whole into `snapshot` when its file cannot be read
  // on another thread.
  File* file = nullptr;
  std::unique_ptr<File> owned;
  std::string snapshot;
  std::optional<MemoryFile> snapshot_file;
  std::string texts;
  std::string index;  // the block's, made once the texts were read
  Diagnostics diagnostics;
  NameLog names;
  std::exception_ptr failure;
  std::future<void> done;

  // Ready for another source, keeping its memory: fresh memory for every
  // source of a long list costs more than reading it.
  void clear() {
    handler.reset();
    file = nullptr;
    owned.reset();
    snapshot_file.reset();
    snapshot.clear();
    index.clear();
    texts.clear();
    diagnostics = Diagnostics();
    names.clear();
    failure = nullptr;
    done = std::future<void>();
  }
};

// The one reading of the source at `path` from `reader`, on whichever
// thread: the names go to `names` (or, without it, to the reading's log),
// the findings to `diagnostics`, the texts to `texts`.
void read_source(LineReader& reader, const std::string& path, SourceReading& reading,
                 NamesHeader* names, Diagnostics* diagnostics, std::string* texts);

// The sources of a list after the one in its turn are read ahead on worker
// threads; the names header and the new file are still written in source
// order by the build's own thread, which is what keeps the result that of
// one run per source. The build's thread opens and closes every source, in a
// fixed order; a worker reads the file itself, or, when the file system
// does not allow that, the bytes the build's thread read for it.
// How many workers: none on one core.
size_t reading_threads();

}  // namespace tolvane

#endif  // TOLVANE_DRIVER_SOURCE_READING_H_
