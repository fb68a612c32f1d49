#include "driver/build.h"

#include <errno.h>

#include <algorithm>
#include <chrono>
#include <exception>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "driver/display.h"
#include "driver/source_reading.h"
#include "msgfile/catalogue.h"
#include "msgfile/catalogue_plan.h"
#include "msgfile/records.h"
#include "msgfile/table_block.h"
#include "msgfile/table_writer.h"
#include "names/names_header.h"
#include "names/previous_header.h"
#include "platform/file_io.h"
#include "platform/interrupt.h"
#include "platform/io_failure.h"
#include "platform/worker_pool.h"
#include "source/source_reader.h"
#include "source/text_encoder.h"
#include "transaction/work_files.h"

namespace tolvane {
namespace {

// Encodes a source's texts again, straight to their place in the file.
class WritingHandler : public MessageHandler {
 public:
  WritingHandler(TableBlockBuilder* block, FileWriter* texts, uint16_t coding)
      : block_(block), texts_(texts), coding_(coding) {}
  void on_name(int32_t, std::string_view, std::string_view) override {}
  void on_text(int32_t id, std::string_view text) override {
    block_->add(id, encode_text(text, coding_, texts_->buffer()));
    texts_->maybe_flush();
    stop_if_interrupted();
  }

 private:
  TableBlockBuilder* block_;
  FileWriter* texts_;
  uint16_t coding_;
};

// One of the build's open files, whose I/O errors become the failure that
// names it in its role ("Cannot write X"): the build works on several files
// at once, and each says for itself which one failed.
class RoleFile : public File {
 public:
  RoleFile(std::string failure, std::unique_ptr<File> file)
      : failure_(std::move(failure)), file_(std::move(file)) {}
  size_t read_at(uint64_t offset, void* buf, size_t n) override {
    return or_fail(failure_, [&] { return file_->read_at(offset, buf, n); });
  }
  void write_at(uint64_t offset, const void* buf, size_t n) override {
    or_fail(failure_, [&] { file_->write_at(offset, buf, n); });
  }
  uint64_t size() override {
    return or_fail(failure_, [&] { return file_->size(); });
  }
  void sync() override {
    or_fail(failure_, [&] { file_->sync(); });
  }
  void start_sync() override {
    or_fail(failure_, [&] { file_->start_sync(); });
  }
  void close() override {
    or_fail(failure_, [&] { file_->close(); });
  }
  bool reads_on_any_thread() const override { return file_->reads_on_any_thread(); }

 private:
  std::string failure_;
  std::unique_ptr<File> file_;
};

std::unique_ptr<File> in_role(std::string failure, std::unique_ptr<File> file) {
  if (!file) return file;
  return std::make_unique<RoleFile>(std::move(failure), std::move(file));
}

// The files a build holds open, closed in every outcome.
struct OpenFiles {
  std::unique_ptr<File> old_msg, tmp, source, names_tmp, previous_names;
  void close_quietly() {
    for (auto* file : {&old_msg, &tmp, &source, &names_tmp, &previous_names}) {
      if (*file) {
        try {
          (*file)->close();
        } catch (const Failure&) {
        }
        file->reset();
      }
    }
  }
};

std::string count_of(size_t n, const char* what) {
  return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

// Stops the build, before anything is replaced, when the source holds an
// error, or a warning and warnings are errors. The sources before it had
// neither, or the build would have stopped there.
void stop_on_findings(const BuildOptions& options, const Diagnostics& diagnostics,
                      const std::string& source_path) {
  const size_t errors = diagnostics.errors(), warnings = diagnostics.warnings();
  if (errors == 0 && (warnings == 0 || !options.warnings_are_errors)) return;
  std::string summary;
  if (errors > 0) summary = count_of(errors, "error");
  if (warnings > 0 && options.warnings_are_errors) {
    summary += (errors > 0 ? ", " : "") + count_of(warnings, "warning") + ", which -W makes errors";
  }
  throw source_failure("  Error in " + source_path + ": " + summary);
}

// What the run learnt of a source before writing anything.
struct SourceStep {
  std::string language;
  uint32_t type_key = 0;
  uint16_t coding = kByteCoding;
  long directive_lines = 0;
  size_t count = 0;
  uint32_t text_bytes = 0;
};

class SourceBuild {
 public:
  SourceBuild(FileSystem& fs, const BuildOptions& options, const WorkFilePaths& paths,
              const Catalogue& old, OpenFiles& files, Diagnostics& diagnostics,
              std::vector<std::string>& warnings)
      : fs_(fs),
        options_(options),
        paths_(paths),
        files_(files),
        diagnostics_(diagnostics),
        warnings_(warnings),
        plan_(old, paths.msg.shown),
        steps_(options.sources.size()) {}

  void run() {
    plan();
    writer_.emplace(plan_, *files_.tmp, paths_.msg.shown);
    FileWriter names(files_.names_tmp.get(), 0);
    NamesHeader names_header(&names);
    // The checks of the names need the previous header's names.
    names_header.check_names(&diagnostics_, source(0), paths_.names.path);
    if (files_.previous_names) {
      LineReader previous(files_.previous_names.get(), false);
      names_header.copy_previous_header(previous);
    }
    std::string texts;
    texts.reserve(kKeptTexts + (64 << 10));
    std::vector<size_t> pending;
    std::vector<std::unique_ptr<SourceReading>> ahead(steps_.size());
    // Declared after the readings, so that its threads are done with them
    // before they go, however the build ends.
    WorkerPool pool(steps_.size() > 1 ? reading_threads() : 0);
    // Sources read ahead of the one in its turn, at most: enough that no
    // thread waits for work while the build's thread writes, and no more,
    // as each holds its texts until its turn.
    const size_t reach = pool.threads() + 3;
    size_t next_ahead = 0;
    for (size_t k = 0; k < steps_.size(); ++k) {
      for (; pool.threads() > 0 && next_ahead <= std::min(k + reach, steps_.size() - 1);
           ++next_ahead) {
        ahead[next_ahead] = read_ahead(next_ahead, pool);
      }
      try {
        read_step(k, names_header, texts, pending, ahead[k].get(), pool);
      } catch (const Failure& failure) {
        throw naming_source(failure, k);
      }
      names_header.end_source();
      if (ahead[k]) {
        ahead[k]->clear();
        spare_readings_.push_back(std::move(ahead[k]));
      }
    }
    texts = std::string();
    names.flush();
    writer_->carry_old_blocks(files_.old_msg.get());
    for (size_t k : pending) {
      try {
        write_again(k);
      } catch (const Failure& failure) {
        throw naming_source(failure, k);
      }
    }
    writer_->write_header_area();
    // Both files on their way to the disk before either sync waits: the
    // first sync then makes both durable at once.
    files_.names_tmp->start_sync();
    files_.tmp->start_sync();
    files_.tmp->sync();
    files_.tmp->close();
    files_.tmp.reset();
    files_.names_tmp->sync();
    files_.names_tmp->close();
    files_.names_tmp.reset();
  }

 private:
  const std::string& source(size_t k) const { return options_.sources[k]; }

  // A failure of one source of a list says which source, when it does not
  // already.
  Failure naming_source(const Failure& failure, size_t k) const {
    if (steps_.size() < 2 || failure.message().find(source(k)) != std::string::npos) {
      return failure;
    }
    Failure named(failure.kind(), source(k) + ": " + failure.message(), failure.path(),
                  failure.reason());
    return failure.self_contained() ? named.as_self_contained() : named;
  }

  // The first source is opened with the other files; the others when read.
  std::unique_ptr<File> open_source(size_t k) {
    return in_role("Cannot read " + source(k), or_fail("Cannot open " + source(k), [&] {
                     return fs_.open(source(k), OpenMode::kRead);
                   }));
  }
  template <typename Read>
  void with_source(size_t k, Read read) {
    if (k == 0) {
      read(files_.source.get());
      return;
    }
    std::unique_ptr<File> file = open_source(k);
    read(file.get());
    file->close();
  }

  // From every source's directive lines alone, where every table and block
  // goes. A source whose directives are refused ends the plan: reading it
  // again fails the same way when its turn comes.
  void plan() {
    for (size_t k = 0; k < steps_.size(); ++k) {
      TableParameters parameters;
      try {
        with_source(k, [&](File* file) {
          // The directive lines are short: a small first read takes them.
          LineReader reader(file, true, 4096);
          read_directives(reader, source(k), &parameters);
        });
      } catch (const Failure& failure) {
        // A refused source is reported in its turn, after the failures of
        // the sources before it; a file that cannot be read stops the run.
        if (failure.kind() != FailureKind::kInput) throw naming_source(failure, k);
        break;
      }
      steps_[k].language = parameters.language;
      steps_[k].type_key = make_type_key(parameters.file_type, parameters.appli_type);
      if (!plan_.add_step(parameters.language, steps_[k].type_key, options_.replace)) break;
    }
    plan_.finish_planning();
    stop_if_interrupted();
  }

  // Opens source `k` here and starts reading it on a worker thread. What
  // fails, here or there, is kept for the source's turn, after the sources
  // before it. No reading when the source is left to its turn, past a
  // refused plan.
  std::unique_ptr<SourceReading> read_ahead(size_t k, WorkerPool& pool) {
    if (k >= plan_.steps()) return nullptr;
    std::unique_ptr<SourceReading> reading;
    if (spare_readings_.empty()) {
      reading = std::make_unique<SourceReading>();
    } else {
      reading = std::move(spare_readings_.back());
      spare_readings_.pop_back();
    }
    try {
      if (k == 0) {
        reading->file = files_.source.get();
      } else {
        reading->owned = open_source(k);
        reading->file = reading->owned.get();
      }
      if (!reading->file->reads_on_any_thread()) {
        reading->snapshot = read_all(*reading->file);
        reading->file = &reading->snapshot_file.emplace(reading->snapshot);
      }
    } catch (...) {
      reading->failure = std::current_exception();
      return reading;
    }
    SourceReading* r = reading.get();
    // Room for as many texts as are kept, taken once: memory is only touched
    // as texts come, and a growing string would copy them, into memory that
    // has to be faulted in again, at each doubling.
    reading->texts.reserve(kKeptTexts);
    reading->done = pool.run([this, k, r] {
      try {
        LineReader reader(r->file, true);
        read_source(reader, source(k), *r, nullptr, &r->diagnostics, &r->texts);
        if (r->handler->kept) r->index = r->handler->block.index_bytes();
      } catch (...) {
        r->failure = std::current_exception();
      }
    });
    return reading;
  }

  void read_step(size_t k, NamesHeader& names, std::string& run_texts, std::vector<size_t>& pending,
                 SourceReading* ahead, WorkerPool& pool) {
    SourceStep& step = steps_[k];
    // What the names header finds is said only of a source that holds no
    // error of its own, as when a run reads it in a pass of its own.
    Diagnostics name_findings;
    names.check_names(&name_findings, source(k), paths_.names.path);
    SourceReading here;
    SourceReading& reading = ahead ? *ahead : here;
    std::string& texts = ahead ? ahead->texts : run_texts;
    if (ahead) {
      // What the reading found, and where it stopped, in source order.
      // The build's thread reads sources too, rather than wait: the one in
      // its turn, or the next not yet started.
      if (ahead->done.valid()) {
        while (ahead->done.wait_for(std::chrono::seconds(0)) != std::future_status::ready &&
               pool.run_one_here()) {
        }
        ahead->done.get();
      }
      for (const Diagnostic& finding : ahead->diagnostics.all()) diagnostics_.report(finding);
      ahead->names.hand_to(names);
      if (ahead->failure) std::rethrow_exception(ahead->failure);
      if (ahead->owned) ahead->owned->close();
    } else {
      texts.clear();
      with_source(k, [&](File* file) {
        LineReader reader(file, true);
        read_source(reader, source(k), reading, &names, &diagnostics_, &texts);
      });
    }
    const TableParameters& parameters = reading.parameters;
    std::optional<ReadingHandler>& handler = reading.handler;
    step.directive_lines = reading.directive_lines;
    stop_on_findings(options_, diagnostics_, source(k));
    if (handler->texts > kMaxCount) {
      throw input_failure(source(k) + " : " + std::to_string(handler->texts) +
                          " messages have a text; a table holds at most " +
                          std::to_string(kMaxCount));
    }
    if (k >= plan_.steps() || step.language != parameters.language ||
        step.type_key != make_type_key(parameters.file_type, parameters.appli_type)) {
      throw file_failure("Cannot read " + source(k) + ": it changed during the build");
    }
    const PlannedStep& planned = plan_.step(k);
    if (planned.refusal) throw *planned.refusal;
    writer_->check_room(k);
    if (handler->bad_escape) throw *handler->bad_escape;
    for (const Diagnostic& finding : name_findings.all()) diagnostics_.report(finding);
    stop_on_findings(options_, diagnostics_, source(k));
    const BlockTurn turn =
        writer_->add_table(k, NewTable{step.type_key, parameters.font_file, parameters.coding,
                                       handler->texts, handler->text_bytes});
    if (!planned.same_as.empty()) {
      warnings_.push_back(
          source(k) + ": warning: the new table " + planned.table +
          " has the language and type of " + planned.same_as +
          ", and a lookup of the first matching table never reaches it; -r replaces " +
          planned.same_as + " instead");
    }

    step.coding = parameters.coding;
    step.count = handler->texts;
    step.text_bytes = static_cast<uint32_t>(handler->text_bytes);
    if (turn == BlockTurn::kNever) return;  // a later source replaces it
    if (turn == BlockTurn::kLater || !handler->kept) {
      pending.push_back(k);
      return;
    }
    if (ahead) {
      writer_->write_block(k, ahead->index, handler->block.fill(), texts);
    } else {
      writer_->write_block(k, handler->block, texts);
    }
  }

  // A block that could not be written when its source was read.
  void write_again(size_t k) {
    const SourceStep& step = steps_[k];
    FileWriter texts(files_.tmp.get(), writer_->texts_position(k));
    TableBlockBuilder block;
    block.reserve(step.count);
    WritingHandler handler(&block, &texts, step.coding);
    with_source(k, [&](File* file) {
      // The lines the first reading took as directives (or consumed looking
      // for them) are passed over, so that line numbers stay those of the file.
      LineReader reader(file, true);
      std::string_view skipped;
      for (long i = 0; i < step.directive_lines && reader.read_line(&skipped); ++i) {
      }
      message_pass(reader, source(k), handler);
    });
    if (block.count() != step.count || block.texts_size() != step.text_bytes) {
      throw file_failure("Cannot read " + source(k) + ": it changed during the build");
    }
    writer_->finish_block(k, block, texts);
  }

  FileSystem& fs_;
  const BuildOptions& options_;
  const WorkFilePaths& paths_;
  OpenFiles& files_;
  Diagnostics& diagnostics_;
  std::vector<std::string>& warnings_;
  CataloguePlan plan_;
  std::optional<TableWriter> writer_;  // once every step is planned
  std::vector<SourceStep> steps_;
  std::vector<std::unique_ptr<SourceReading>> spare_readings_;
};

// The catalogue a run adds its tables to. For -c, an empty one carrying the
// new file's header and no file; otherwise the existing file as the checks
// read and validated it, still open, so that the build copies from the very
// file that was checked.
struct BaseCatalogue {
  Catalogue catalogue;
  std::unique_ptr<File> file;
};

// Opens and checks an existing MSG file before anything is touched: its FILE
// ID first, then its whole layout, since a file whose layout cannot be
// trusted would be carried over damaged. The file stays open for the build.
BaseCatalogue read_existing(FileSystem& fs, const BuildOptions& options) {
  BaseCatalogue base;
  std::optional<Failure> damage;
  try {
    base.file = fs.open(options.msg_path, OpenMode::kRead);
    damage = read_catalogue(*base.file, options.msg_shown, &base.catalogue);
  } catch (const IoError& error) {
    // -c replaces the file: advised only when there is none to lose.
    const std::string next = error.error() == ENOENT ? "use the -c option to create it"
                                                     : reason_line(error.path(), error.reason());
    throw usage_failure(options.msg_shown + " doesn't exist or cannot be opened:\n" + next);
  }
  if (base.catalogue.header.file_id != kFileId) {
    throw usage_failure(options.msg_shown + " : FILE ID is not valid:\nFILE ID must be 4d53");
  }
  if (damage) throw *damage;
  return base;
}

BaseCatalogue base_catalogue(FileSystem& fs, const BuildOptions& options) {
  if (!options.create) return read_existing(fs, options);
  BaseCatalogue base;
  // A new catalogue is named after its file, as messages show it.
  set_chars(base.catalogue.header.name, kNameWidth, options.msg_shown);
  return base;
}

// Refuses a previous names header that no run wrote nor a person kept in
// step (another catalogue given by mistake, say) before anything is touched:
// the run would append #define lines to it. One that cannot be read is the
// build's to report.
void check_previous_names(FileSystem& fs, const BuildOptions& options) {
  if (fs.kind(options.names_path) != FileKind::kRegular) return;
  std::string problem;
  try {
    problem = names_header_problem(*fs.open(options.names_path, OpenMode::kRead));
  } catch (const IoError&) {
    return;
  }
  if (!problem.empty()) {
    throw input_failure(options.names_path + " is not a names header: " + problem);
  }
}

// Opens every file of the build but the sources after the first, in the
// order whose failures users know, and notes the work files made.
void open_files(FileSystem& fs, const BuildOptions& options, const WorkFilePaths& paths,
                WorkFiles& work, OpenFiles& files) {
  if (options.create && fs.exists(paths.msg.path)) {
    // -c replaces the file only once the new one is complete, but a file
    // that could not be written is still refused up front.
    or_fail("Cannot create " + paths.msg.shown,
            [&] { fs.open(paths.msg.path, OpenMode::kReadWrite)->close(); });
  }
  // A work file left by a run that stopped half-way may be a second name of
  // a file in place (an undo links the MSG file so); truncating it would
  // empty that file too, so it is created afresh.
  auto create_afresh = [&](const std::string& path) {
    if (fs.exists(path)) fs.remove(path);
    return fs.open(path, OpenMode::kCreate);
  };
  files.tmp =
      in_role("Cannot write " + paths.msg.tmp_shown,
              or_fail("Cannot create " + (options.create ? paths.msg.shown : paths.msg.tmp_shown),
                      [&] { return create_afresh(paths.msg.tmp); }));
  work.created_tmp();
  files.source = in_role("Cannot read " + options.source_path,
                         or_fail("Cannot open " + options.source_path,
                                 [&] { return fs.open(options.source_path, OpenMode::kRead); }));
  const std::string& names = paths.names.path;
  if (fs.exists(names)) {
    files.previous_names =
        in_role("Cannot read " + names,
                or_fail("Cannot read " + names, [&] { return fs.open(names, OpenMode::kRead); }));
  }
  // A write names the work file it fails on: the names header itself is
  // still the previous one, untouched.
  files.names_tmp =
      in_role("Cannot write " + paths.names.tmp,
              or_fail("Cannot create " + names, [&] { return create_afresh(paths.names.tmp); }));
  work.created_names_tmp();
}

}  // namespace

std::vector<std::string> build(FileSystem& fs, const BuildOptions& options,
                               const WorkFilePaths& paths, Diagnostics& diagnostics,
                               const std::function<void()>& starting) {
  if (auto stale = find_stale_backup(fs, paths)) throw *stale;
  BaseCatalogue base = base_catalogue(fs, options);
  check_previous_names(fs, options);
  starting();

  std::vector<std::string> warnings;
  WorkFiles work(fs, paths);
  OpenFiles files;
  files.old_msg = in_role("Cannot read " + paths.msg.shown, std::move(base.file));
  auto undo = [&] {
    files.close_quietly();
    return work.undo();
  };
  auto undo_and_throw = [&](const Failure& failure) { throw failure.with_note(undo()); };
  try {
    stop_if_interrupted();
    open_files(fs, options, paths, work, files);
    SourceBuild(fs, options, paths, base.catalogue, files, diagnostics, warnings).run();
    files.close_quietly();
    work.commit();
  } catch (const Failure& failure) {
    undo_and_throw(failure);
  } catch (const Interrupted& interrupted) {
    throw Interrupted(interrupted.signal(), undo());
  } catch (const std::bad_alloc&) {
    undo_and_throw(input_failure("not enough memory to build " + options.msg_shown));
  }
  return warnings;
}

}  // namespace tolvane
