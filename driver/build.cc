#include "driver/build.h"

#include <algorithm>
#include <memory>

#include "msgfile/catalogue.h"
#include "msgfile/table_block.h"
#include "msgfile/work_files.h"
#include "names/names_header.h"
#include "platform/failure.h"
#include "platform/file_io.h"
#include "platform/interrupt.h"
#include "source/source_reader.h"
#include "source/text_encoder.h"

namespace tolvane {
namespace {

class CountingHandler : public MessageHandler {
 public:
  void on_name(int32_t, std::string_view) override {}
  void on_text(int32_t, std::string_view) override {
    ++texts;
    stop_if_interrupted();
  }
  size_t texts = 0;
};

class BuildingHandler : public MessageHandler {
 public:
  BuildingHandler(NamesHeader* names, TableBlockBuilder* block, FileWriter* texts, uint16_t coding)
      : names_(names), block_(block), texts_(texts), coding_(coding) {}
  // The pass's reader, whose line numbers the names header's findings give.
  const LineReader* source = nullptr;
  void on_name(int32_t id, std::string_view line) override {
    names_->on_message_name(id, line, source ? source->line_number() : 0);
  }
  void on_text(int32_t id, std::string_view text) override {
    block_->add(id, encode_text(text, coding_, texts_->buffer()));
    texts_->maybe_flush();
    stop_if_interrupted();
  }

 private:
  NamesHeader* names_;
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
  void close() override {
    or_fail(failure_, [&] { file_->close(); });
  }

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
// error, or a warning and warnings are errors.
void stop_on_findings(const BuildOptions& options, const Diagnostics& diagnostics) {
  const size_t errors = diagnostics.errors(), warnings = diagnostics.warnings();
  if (errors == 0 && (warnings == 0 || !options.warnings_are_errors)) return;
  std::string summary;
  if (errors > 0) summary = count_of(errors, "error");
  if (warnings > 0 && options.warnings_are_errors) {
    summary += (errors > 0 ? ", " : "") + count_of(warnings, "warning") + ", which -W makes errors";
  }
  throw source_failure("  Error in " + options.source_path + ": " + summary, options.source_path);
}

// Reads the source twice (first to know the index's room) and writes the
// complete new MSG file and names header to their temporary files.
void write_new_files(const BuildOptions& options, const WorkFilePaths& paths, const Catalogue& old,
                     OpenFiles& files, Diagnostics& diagnostics) {
  // First pass over the source: its parameters and how many texts it holds,
  // so that the index's room is known before any text is written; and
  // everything in it that is wrong or doubtful.
  TableParameters parameters;
  CountingHandler counter;
  long directive_lines = 0;
  {
    LineReader source(files.source.get(), true);
    read_directives(source, options.source_path, &parameters, &diagnostics);
    directive_lines = source.line_number();
    message_pass(source, options.source_path, counter, &diagnostics, parameters.coding);
  }
  stop_on_findings(options, diagnostics);
  if (counter.texts > kMaxCount) {
    throw input_failure(options.source_path + " : " + std::to_string(counter.texts) +
                            " messages have a text; a table holds at most " +
                            std::to_string(kMaxCount),
                        options.source_path);
  }

  TableRecord record;
  record.type_key = make_type_key(parameters.file_type, parameters.appli_type);
  set_chars(record.font_file, kFontFileWidth, parameters.font_file);
  record.coding = parameters.coding;
  HeaderArea area;
  plan_header_area(old, paths.msg_shown, parameters.language, record, &area);

  files.tmp->write_at(0, area.bytes.data(), area.bytes.size());
  if (files.old_msg) {
    // In slices, so that a request to stop is seen during a long copy.
    constexpr uint64_t kSlice = 16 << 20;
    const uint64_t shift = area.bytes.size() - area.old_blocks_begin;
    for (uint64_t from = area.old_blocks_begin; from < old.file_size; from += kSlice) {
      stop_if_interrupted();
      const uint64_t end = std::min(old.file_size, from + kSlice);
      copy_range(*files.old_msg, from, *files.tmp, from + shift, end);
    }
  }
  stop_if_interrupted();

  // Second pass: names and texts.
  const uint64_t index_size = uint64_t{kIndexEntrySize} * counter.texts;
  FileWriter texts(files.tmp.get(), area.data_start + index_size);
  FileWriter names(files.names_tmp.get(), 0);
  NamesHeader names_header(&names);
  TableBlockBuilder block;
  block.reserve(counter.texts);
  BuildingHandler handler(&names_header, &block, &texts, parameters.coding);
  names_header.check_names(&diagnostics, options.source_path, paths.names);
  if (files.previous_names) {
    LineReader previous(files.previous_names.get(), false);
    names_header.copy_previous_header(previous);
  }
  {
    // The lines the first pass took as directives (or consumed looking for
    // them) are passed over, so that line numbers stay those of the file.
    LineReader source(files.source.get(), true);
    std::string_view skipped;
    for (long i = 0; i < directive_lines && source.read_line(&skipped); ++i) {
    }
    handler.source = &source;
    message_pass(source, options.source_path, handler);
  }
  stop_on_findings(options, diagnostics);
  texts.append(block.fill());
  texts.flush();
  names.flush();
  if (block.count() != counter.texts) {
    throw file_failure("Cannot read " + options.source_path + ": it changed during the build");
  }
  if (texts.position() > UINT32_MAX) {
    throw input_failure(paths.msg_shown + " : the file would grow past 4 GiB", paths.msg_shown);
  }

  // The index and the record's final count, then everything to disk.
  const std::string index_bytes = block.index_bytes();
  area.new_record.message_count = static_cast<uint16_t>(block.count());
  std::string record_bytes;
  write_table_record(&record_bytes, area.new_record);
  files.tmp->write_at(area.data_start, index_bytes.data(), index_bytes.size());
  files.tmp->write_at(area.record_pos, record_bytes.data(), record_bytes.size());
  files.tmp->sync();
  files.tmp->close();
  files.tmp.reset();
  files.names_tmp->sync();
  files.names_tmp->close();
  files.names_tmp.reset();
}

void run_build(FileSystem& fs, const BuildOptions& options, const Catalogue& old, WorkFiles& work,
               OpenFiles& files, Diagnostics& diagnostics) {
  const WorkFilePaths& paths = work.paths();

  // Open everything else first, in the order whose failures users know.
  if (options.create && fs.exists(paths.msg)) {
    // -c replaces the file only once the new one is complete, but a file
    // that could not be written is still refused up front.
    or_fail("Cannot create " + paths.msg_shown,
            [&] { fs.open(paths.msg, OpenMode::kReadWrite)->close(); });
  }
  // A work file left by a run that stopped half-way may be a second name of
  // a file in place (an undo links the MSG file so); truncating it would
  // empty that file too, so it is created afresh.
  auto create_afresh = [&](const std::string& path) {
    if (fs.exists(path)) fs.remove(path);
    return fs.open(path, OpenMode::kCreate);
  };
  files.tmp =
      in_role("Cannot write " + paths.tmp_shown,
              or_fail("Cannot create " + (options.create ? paths.msg_shown : paths.tmp_shown),
                      [&] { return create_afresh(paths.tmp); }));
  work.created_tmp();
  files.source = in_role("Cannot read " + options.source_path,
                         or_fail("Cannot open " + options.source_path,
                                 [&] { return fs.open(options.source_path, OpenMode::kRead); }));
  if (fs.exists(paths.names)) {
    files.previous_names = in_role("Cannot read " + paths.names,
                                   or_fail("Cannot read " + paths.names,
                                           [&] { return fs.open(paths.names, OpenMode::kRead); }));
  }
  // A write names the work file it fails on: the names header itself is
  // still the previous one, untouched.
  files.names_tmp = in_role(
      "Cannot write " + paths.names_tmp,
      or_fail("Cannot create " + paths.names, [&] { return create_afresh(paths.names_tmp); }));
  work.created_names_tmp();

  write_new_files(options, work.paths(), old, files, diagnostics);
  files.close_quietly();
  work.commit();
}

}  // namespace

void build(FileSystem& fs, const BuildOptions& options, const WorkFilePaths& paths,
           BaseCatalogue base, Diagnostics& diagnostics) {
  WorkFiles work(fs, paths);
  OpenFiles files;
  files.old_msg = in_role("Cannot read " + paths.msg_shown, std::move(base.file));
  auto undo = [&] {
    files.close_quietly();
    return work.undo();
  };
  auto undo_and_throw = [&](const Failure& failure) { throw failure.with_note(undo()); };
  try {
    stop_if_interrupted();
    run_build(fs, options, base.catalogue, work, files, diagnostics);
  } catch (const Failure& failure) {
    undo_and_throw(failure);
  } catch (const Interrupted& interrupted) {
    throw Interrupted(interrupted.signal(), undo());
  } catch (const std::bad_alloc&) {
    undo_and_throw(
        input_failure("not enough memory to build " + options.msg_path, options.msg_path));
  }
}

}  // namespace tolvane
