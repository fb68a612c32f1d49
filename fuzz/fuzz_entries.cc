#include "fuzz/fuzz_entries.h"

#include <algorithm>
#include <exception>
#include <map>
#include <optional>
#include <set>

#include "base/failure.h"
#include "driver/run.h"
#include "dump/all_modes.h"
#include "dump/model.h"
#include "msgfile/catalogue.h"
#include "msgfile/catalogue_plan.h"
#include "msgfile/records.h"
#include "names/define_line.h"
#include "names/names_header.h"
#include "platform/fake_file_system.h"
#include "platform/file_io.h"
#include "source/diagnostics.h"
#include "source/source_reader.h"
#include "source/text_encoder.h"

namespace tolvane::fuzz {
namespace {

// Collects the first broken invariant.
class Checker {
 public:
  void expect(bool holds, const std::string& what) {
    if (!holds && problem.empty()) problem = what;
  }
  std::string problem;
};

std::unique_ptr<File> open_in_memory(FakeFileSystem& fs, const std::string& path,
                                     std::string_view content) {
  fs.set_file(path, std::string(content));
  return fs.open(path, OpenMode::kRead);
}

// Runs `body` and turns an exception no caller is meant to see into a
// problem: library code reports everything through Failure.
template <typename Body>
FuzzResult guard(Body body) {
  try {
    return body();
  } catch (const Failure& failure) {
    return {false, "unexpected Failure escaped: " + failure.message()};
  } catch (const std::exception& e) {
    return {false, std::string("exception escaped: ") + e.what()};
  }
}

// Everything a message pass hands over, with both encodings of each text.
class RecordingHandler : public MessageHandler {
 public:
  explicit RecordingHandler(Checker* check) : check_(check) {}

  void on_name(int32_t id, std::string_view line, std::string_view name) override {
    events += "name " + std::to_string(id) + " " + std::string(line) + "\n";
    check_->expect(name == message_name(line),
                   "the reader's name is not the one the names header finds");
    check_->expect(name.find_first_of(" \t\r\n\v\f") == std::string_view::npos,
                   "a symbolic name holds a blank");
    check_->expect(name.empty() || line.find(name) != std::string_view::npos,
                   "a symbolic name is not part of its line");
  }

  void on_text(int32_t id, std::string_view text) override {
    ++texts;
    events += "text " + std::to_string(id) + " " + std::string(text) + "\n";
    for (size_t i = 0; i < text.size(); ++i) {
      check_->expect(text[i] != '"' || (i > 0 && text[i - 1] == '\\'),
                     "an extracted text holds a quote without a backslash before it");
    }
    std::string bytes = "prefix";
    try {
      uint32_t length = encode_text(text, kByteCoding, &bytes);
      check_->expect(length == bytes.size() - 6, "byte coding returns a wrong length");
      check_->expect(length >= 1 && length <= text.size() + 1,
                     "byte coding writes more bytes than the text has characters");
      check_->expect(bytes.back() == '\0', "byte coding does not end with 0x00");
      events += "byte " + bytes + "\n";
    } catch (const Failure& failure) {
      check_->expect(failure.message().rfind("\\x", 0) == 0,
                     "byte coding fails with an unknown message");
      events += "byte failure " + failure.message();
    }
    std::string wide;
    uint32_t length = encode_text(text, kUnicodeCoding, &wide);
    check_->expect(length == wide.size(), "UNICODE coding returns a wrong length");
    check_->expect(length >= 2 && (length - 2) * 4 <= text.size(),
                   "UNICODE coding writes more than a byte for four characters");
    check_->expect(wide.size() >= 2 && wide.compare(wide.size() - 2, 2, std::string(2, '\0')) == 0,
                   "UNICODE coding does not end with two 0x00");
    events += "wide " + wide + "\n";
  }

  std::string events;
  size_t texts = 0;

 private:
  Checker* check_;
};

// Reads a whole source as a build does, reading `chunk` bytes at a time;
// with `diagnostics`, as a build's first pass does.
std::string read_source(std::string_view input, size_t chunk, Checker* check, bool* accepted,
                        Diagnostics* diagnostics = nullptr) {
  FakeFileSystem fs;
  auto file = open_in_memory(fs, "in.h", input);
  LineReader source(file.get(), true, chunk);
  RecordingHandler handler(check);
  std::string events;
  try {
    TableParameters parameters;
    read_directives(source, "in.h", &parameters, diagnostics);
    check->expect(parameters.coding == (parameters.coding_name == "UNICODE" ? 0 : 1),
                  "the coding disagrees with its name");
    events = "language " + parameters.language + "\nfont " + parameters.font_file + "\ncoding " +
             parameters.coding_name + "\ntypes " + std::to_string(parameters.file_type) + " " +
             std::to_string(parameters.appli_type) + "\n";
    message_pass(source, "in.h", handler, diagnostics, parameters.coding);
    *accepted = true;
  } catch (const Failure& failure) {
    // Checking a text encodes it, so that its hexadecimal escape fails there.
    check->expect(failure.message().find("Error in in.h") != std::string::npos ||
                      (diagnostics && failure.message().rfind("\\x", 0) == 0),
                  "a source is refused with an unknown message: " + failure.message());
    events += "failure " + failure.message();
  }
  return events + handler.events;
}

// The positions of the old table blocks and where each must be found again.
struct BlockCheck {
  uint64_t old_begin, old_end, new_begin;
};

std::optional<Catalogue> catalogue_of(std::string_view bytes, std::string* damage) {
  FakeFileSystem fs;
  auto file = open_in_memory(fs, "x.msg", bytes);
  Catalogue catalogue;
  if (auto problem = read_catalogue(*file, "x.msg", &catalogue)) {
    if (damage) *damage = problem->message();
    return std::nullopt;
  }
  return catalogue;
}

// Checks a new MSG file against the old one it was built from (empty for a
// new file): one more table, the old blocks carried over unchanged behind the
// grown header area, and the new table's index sorted and inside the file.
// `built` tells a file a build wrote from one laid out here without texts.
void check_grown_file(std::string_view old_bytes, const Catalogue* old, std::string_view new_bytes,
                      bool built, Checker* check) {
  std::string damage;
  std::optional<Catalogue> grown = catalogue_of(new_bytes, &damage);
  check->expect(grown.has_value(), "the new MSG file is refused: " + damage);
  if (!grown) return;
  const size_t old_records = old ? old->tables.size() : 0;
  const size_t old_languages = old ? old->languages.size() : 0;
  check->expect(grown->tables.size() == old_records + 1, "the new file has not one more table");
  check->expect(
      grown->languages.size() == old_languages || grown->languages.size() == old_languages + 1,
      "the language count changed by more than one");
  check->expect(grown->header.file_id == kFileId, "the new file has a wrong FILE ID");
  const uint64_t old_area = old ? old->header_area_size() : 0;
  const uint64_t old_size = old ? old_bytes.size() : 0;
  const uint64_t new_area = grown->header_area_size();
  check->expect(new_bytes.size() >= new_area + (old_size - old_area), "the new file is too short");
  if (!check->problem.empty()) return;
  check->expect(new_bytes.substr(new_area, old_size - old_area) ==
                    old_bytes.substr(old_area, old_size - old_area),
                "the old table blocks were not carried over unchanged");
  // The new table's block starts right after the old ones.
  const uint64_t data_start = new_area + (old_size - old_area);
  const TableRecord* fresh = nullptr;
  for (const TableLayout& table : grown->tables) {
    const TableRecord& record = table.record;
    if (record.index_offset == data_start &&
        (fresh == nullptr || record.message_count > fresh->message_count)) {
      fresh = &record;
    }
  }
  check->expect(fresh != nullptr, "no table record points at the new block");
  if (fresh == nullptr) return;
  // The fill byte evens the file's end (the block's too, as the blocks of
  // files this tool writes all start even).
  check->expect(!built || new_bytes.size() % 2 == 0, "the new file has an odd length");
  ByteReader in(new_bytes, data_start);
  int previous_id = -1;
  for (uint32_t i = 0; i < fresh->message_count; ++i) {
    IndexEntry entry;
    read_index_entry(in, &entry);
    check->expect(entry.message_id >= previous_id, "the new index is not sorted");
    previous_id = entry.message_id;
    const uint64_t text = in.position() + uint64_t{entry.text_offset};
    check->expect(text < new_bytes.size(), "an index entry points past the end of the file");
  }
}

std::string describe_files(const FakeFileSystem& fs) {
  std::string names;
  for (const std::string& name : fs.list_files()) names += " " + name;
  return names;
}

class QuietConsole : public Console {
 public:
  void write_out(const std::string& text) override { out += text; }
  void write_err(const std::string& text) override { err += text; }
  void wait_key() override {}
  std::string out, err;
};

}  // namespace

std::vector<std::string_view> split_input(std::string_view input, size_t max_parts) {
  std::vector<std::string_view> parts;
  while (parts.size() + 1 < max_parts) {
    size_t at = input.find(kPartSeparator);
    if (at == std::string_view::npos) break;
    parts.push_back(input.substr(0, at));
    input.remove_prefix(at + kPartSeparator.size());
  }
  parts.push_back(input);
  return parts;
}

FuzzResult fuzz_source_reader(std::string_view input) {
  return guard([&] {
    Checker check;
    // Lines must come out the same whatever the reading chunk: a CR LF or a
    // long line cut by a chunk boundary is the classic slip.
    bool accepted = false, accepted_small = false;
    const std::string events = read_source(input, 1 << 16, &check, &accepted);
    const size_t small_chunk = 1 + input.size() % 7;
    const std::string small = read_source(input, small_chunk, &check, &accepted_small);
    check.expect(events == small && accepted == accepted_small,
                 "reading " + std::to_string(small_chunk) + " bytes at a time changes the result");

    // The checks only report: a source they find nothing but warnings in
    // is read exactly as without them, and one the reading refuses has an
    // error among their findings.
    Diagnostics diagnostics;
    bool accepted_checked = false;
    const std::string checked =
        read_source(input, small_chunk, &check, &accepted_checked, &diagnostics);
    if (diagnostics.errors() == 0 && accepted_checked) {
      check.expect(accepted && checked == events,
                   "a source with only warnings is read otherwise than without the checks");
    } else if (diagnostics.errors() == 0) {
      // Refused without an error found: by the LANGUAGE line, as without
      // the checks, or by a text's hexadecimal escape, as a build would.
      check.expect(!accepted || checked.find("\nfailure \\x") != std::string::npos,
                   "the checks refuse a source without saying why");
    }
    const long lines = static_cast<long>(std::count(input.begin(), input.end(), '\n')) + 1;
    for (const Diagnostic& d : diagnostics.all()) {
      const std::string shown = format_diagnostic(d);
      check.expect(d.line >= 1 && d.line <= lines + 1, "a finding names no line of the source");
      check.expect(std::all_of(shown.begin(), shown.end() - 1,
                               [](char c) { return c >= 0x20 && c < 0x7F; }) &&
                       shown.back() == '\n' && shown.rfind("in.h:", 0) == 0,
                   "a finding is not one line of plain ASCII: " + shown);
    }

    // In binary mode the lines and their line feeds give back the input.
    FakeFileSystem fs;
    auto file = open_in_memory(fs, "in.h", input);
    LineReader reader(file.get(), false, small_chunk);
    std::string line, joined;
    bool newline = false;
    while (reader.read_line(&line, &newline)) {
      joined += line;
      if (newline) joined += '\n';
    }
    check.expect(joined == input, "the lines read do not give back the file");
    return FuzzResult{accepted, check.problem};
  });
}

FuzzResult fuzz_msg_file(std::string_view input) {
  return guard([&] {
    Checker check;
    // A build refuses a file with another FILE ID before looking further.
    const bool id_ok = input.size() >= 2 && input[0] == 0x53 && input[1] == 0x4D;
    if (!id_ok) return FuzzResult{false, check.problem};

    std::string damage;
    std::optional<Catalogue> old = catalogue_of(input, &damage);
    if (!old) return FuzzResult{false, check.problem};
    check.expect(old->file_size == input.size(), "the catalogue has a wrong file size");
    check.expect(old->header_area_size() <= input.size(), "the header area exceeds the file");
    size_t tables = 0;
    for (const LanguageLayout& language : old->languages) tables += language.entry.table_count;
    check.expect(tables == old->tables.size(), "table counts disagree with the records");
    for (const TableLayout& table : old->tables) {
      const TableRecord& record = table.record;
      check.expect(record.index_offset >= old->header_area_size() &&
                       record.index_offset + uint64_t{kIndexEntrySize} * record.message_count <=
                           input.size(),
                   "an accepted record points outside the blocks");
    }

    // The header area a build would write, for a new and a known language,
    // followed by the old blocks: an empty new table that must read back.
    std::vector<std::string> languages = {"ZZ"};
    if (!old->languages.empty()) {
      languages.push_back(get_chars(old->languages[0].entry.language, kLanguageWidth));
    }
    for (const std::string& language : languages) {
      TableRecord record;
      set_chars(record.font_file, kFontFileWidth, "F.FON");
      CataloguePlan plan(*old, "IN.MSG");
      if (!plan.add_step(language, record.type_key, false)) continue;
      plan.finish_planning();
      plan.set_block(0, record, 0);
      const std::string area = plan.header_area();
      const uint64_t old_area = old->header_area_size();
      const BlockSlot& slot = plan.slot(plan.step(0).slot);
      check.expect(slot.placed && slot.position == area.size() + (input.size() - old_area),
                   "the new block does not follow the old ones");
      std::string grown = area + std::string(input.substr(old_area));
      check_grown_file(input, &*old, grown, false, &check);
    }
    return FuzzResult{true, check.problem};
  });
}

FuzzResult fuzz_names_merge(std::string_view input) {
  return guard([&] {
    Checker check;
    std::vector<std::string_view> parts = split_input(input, 2);
    const bool merge = parts.size() == 2;
    const std::string_view previous = merge ? parts[0] : std::string_view();
    const std::string_view source = parts.back();

    FakeFileSystem fs;
    auto previous_file = open_in_memory(fs, "old.h", previous);
    auto source_file = open_in_memory(fs, "in.h", source);
    auto out = fs.open("new.h", OpenMode::kCreate);
    // Small pieces so that the copy and the new lines cross many flushes.
    const size_t chunk = 1 + input.size() % 5;
    FileWriter writer(out.get(), 0, chunk);
    NamesHeader names(&writer);
    // The same merge with its findings on the names reported, which must
    // write the very same header.
    auto checked_out = fs.open("checked.h", OpenMode::kCreate);
    FileWriter checked_writer(checked_out.get(), 0, chunk);
    NamesHeader checked(&checked_writer);
    Diagnostics diagnostics;
    checked.check_names(&diagnostics, "in.h", "old.h");
    if (merge) {
      LineReader reader(previous_file.get(), false, chunk);
      names.copy_previous_header(reader);
      LineReader again(previous_file.get(), false, chunk);
      checked.copy_previous_header(again);
    }

    // The identifiers the previous header defines, line by line.
    std::set<int64_t> defined;
    for (std::string_view rest = previous; !rest.empty();) {
      size_t end = rest.find('\n');
      std::string_view line = rest.substr(0, end);
      if (auto id = parse_define(line)) defined.insert(*id);
      rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    }

    struct Forwarder : MessageHandler {
      NamesHeader* names;
      NamesHeader* checked;
      std::vector<int32_t> ids;
      void on_name(int32_t id, std::string_view line, std::string_view) override {
        ids.push_back(id);
        names->on_message_name(id, line);
        checked->on_message_name(id, line, static_cast<long>(ids.size()));
      }
      void on_text(int32_t, std::string_view) override {}
    } forwarder;
    forwarder.names = &names;
    forwarder.checked = &checked;
    bool accepted = true;
    try {
      LineReader reader(source_file.get(), true, chunk);
      message_pass(reader, "in.h", forwarder);
    } catch (const Failure&) {
      accepted = false;  // an unreadable identifier stops the pass, as in a build
    }
    writer.flush();
    std::string written;
    fs.get_file("new.h", &written);
    checked_writer.flush();
    std::string written_checked;
    fs.get_file("checked.h", &written_checked);
    check.expect(written_checked == written, "checking the names changes the names header");

    check.expect(written.compare(0, previous.size(), previous) == 0,
                 "the previous header is not copied unchanged");
    if (!check.problem.empty()) return FuzzResult{accepted, check.problem};
    std::string_view added = std::string_view(written).substr(previous.size());
    if (!added.empty() && !previous.empty() && previous.back() != '\n') {
      check.expect(added[0] == '\n', "a new line is glued onto the previous header's last line");
      added.remove_prefix(1);
    }
    for (int32_t id : forwarder.ids) {
      if (merge && defined.count(id)) continue;
      size_t end = added.find('\n');
      check.expect(end != std::string_view::npos, "a #define line is missing");
      if (end == std::string_view::npos) break;
      std::string_view line = added.substr(0, end);
      const std::string number = " " + std::to_string(id);
      check.expect(line.substr(0, 8) == "#define " && line.size() >= 8 + number.size() &&
                       line.substr(line.size() - number.size()) == number,
                   "a #define line has the wrong form: " + std::string(line));
      // A named line must be recognised by the next run, or it would be
      // appended again and again.
      if (line.size() > 8 + number.size()) {
        check.expect(parse_define(line) == id, "the next run would not read " + std::string(line));
      }
      added.remove_prefix(end + 1);
    }
    check.expect(added.empty(), "lines were written for identifiers already defined");
    return FuzzResult{accepted, check.problem};
  });
}

FuzzResult fuzz_build(std::string_view input) {
  return guard([&] {
    Checker check;
    std::vector<std::string_view> parts = split_input(input, 3);
    const bool create = parts.size() == 1;
    FakeFileSystem fs;
    fs.set_file("in.h", std::string(parts[0]));
    if (!create) fs.set_file("out.msg", std::string(parts[1]));
    if (parts.size() == 3) fs.set_file("names.h", std::string(parts[2]));
    const std::vector<std::string> before_names = fs.list_files();
    std::vector<std::string> args = {"-tin.h", "-hnames.h", "out.msg"};
    if (create) args.insert(args.begin(), "-c");

    QuietConsole console;
    const int code = run_tolvane(args, fs, console);
    std::string msg, names;
    const bool msg_there = fs.get_file("out.msg", &msg);
    const bool names_there = fs.get_file("names.h", &names);
    const std::string files = describe_files(fs);

    if (code == 0) {
      check.expect(console.out.size() >= 7 && console.out.ends_with(".. end\n"),
                   "a build ends with 0 without \".. end\"");
      check.expect(msg_there && names_there, "a build ends with 0 without both files");
      std::vector<std::string> expected = {"in.h", "names.h", "out.msg"};
      check.expect(fs.list_files() == expected, "work files are left:" + files);
      if (parts.size() == 3) {
        check.expect(names.compare(0, parts[2].size(), parts[2]) == 0,
                     "the previous names header is not at the start of the new one");
      }
      if (create) {
        check_grown_file("", nullptr, msg, true, &check);
      } else {
        std::optional<Catalogue> old = catalogue_of(parts[1], nullptr);
        check.expect(old.has_value(), "a build accepted a damaged MSG file");
        if (old) check_grown_file(parts[1], &*old, msg, true, &check);
      }
      return FuzzResult{true, check.problem};
    }

    check.expect(code == 1, "exit code " + std::to_string(code));
    check.expect(console.out.find("Error") != std::string::npos ||
                     console.err.find("Cannot") != std::string::npos ||
                     console.err.find("Error") != std::string::npos,
                 "a failed build says nothing: " + console.out + console.err);
    check.expect(fs.list_files() == before_names, "a failed build changed the files:" + files);
    check.expect(msg_there == !create && (create || msg == parts[1]),
                 "a failed build changed the MSG file");
    check.expect(names_there == (parts.size() == 3) && (parts.size() < 3 || names == parts[2]),
                 "a failed build changed the names header");
    return FuzzResult{false, check.problem};
  });
}

FuzzResult fuzz_dump(std::string_view input) {
  return guard([&] {
    dump::run_all_modes(input);
    bool accepted = false;
    try {
      dump::inspect_catalogue(input);
      accepted = true;
    } catch (const Failure&) {
    }
    return FuzzResult{accepted, ""};
  });
}

const std::vector<FuzzTarget>& fuzz_targets() {
  static const std::vector<FuzzTarget> targets = {
      {"source_reader", fuzz_source_reader},
      {"msg_file", fuzz_msg_file},
      {"names_merge", fuzz_names_merge},
      {"build", fuzz_build},
      {"dump", fuzz_dump},
  };
  return targets;
}

}  // namespace tolvane::fuzz
