// Helper of bench/run: writes the benchmark's inputs, checks Tolvane's
// outputs and times commands.
//
//   tolvane-bench-tool source OUT COUNT FIRST_ID [LANGUAGE [UNICODE]]
//       A message source of COUNT messages (texts of about 60 bytes, C escapes
//       included) with the identifiers FIRST_ID .. FIRST_ID + COUNT - 1 in a
//       shuffled order; with UNICODE, a UNICODE table of the same texts
//       spelled out as \xHH byte notations.
//   tolvane-bench-tool po OUT COUNT FIRST_ID
//       The same texts as a .po file, one msgstr per message.
//   tolvane-bench-tool names OUT COUNT FIRST_ID
//       A names header defining FIRST_ID .. FIRST_ID + COUNT - 1.
//   tolvane-bench-tool catalogue OUT BYTES
//       A valid MSG file of about BYTES bytes: several languages with several
//       tables each, blocks in the order the tables were added.
//   tolvane-bench-tool conversions OUT BYTES CONVERSIONS
//       The same with every table of a type_key of its own (so each is its
//       own reference for --lint), its texts holding CONVERSIONS "%s" in all.
//   tolvane-bench-tool one-table OUT BYTES [CONVERSIONS]
//       The same with a single table of about BYTES bytes.
//   tolvane-bench-tool small-tables OUT TABLES
//       A valid MSG file of TABLES one-message tables, spread over five
//       languages, as as many runs would have left it.
//   tolvane-bench-tool check MSG [TABLES [SOURCE]]
//       Checks the whole file's structure, that it holds TABLES tables and,
//       with SOURCE, that its last-added table holds exactly SOURCE's texts.
//   tolvane-bench-tool count-lines FILE
//   tolvane-bench-tool time RESULT -- COMMAND ARGS...
//       Runs COMMAND and writes "<seconds> <max RSS in KiB> <CPU seconds>" to
//       RESULT.
//       Exits with COMMAND's exit code.
#include <errno.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "base/failure.h"
#include "msgfile/catalogue.h"
#include "msgfile/records.h"
#include "platform/file_io.h"
#include "platform/posix_file_system.h"
#include "source/source_reader.h"
#include "source/text_encoder.h"

namespace tolvane::bench {
namespace {

[[noreturn]] void fail(const std::string& message) {
  std::cerr << "tolvane-bench-tool: " << message << "\n";
  std::exit(2);
}

unsigned long number(const char* text) {
  char* end = nullptr;
  errno = 0;
  unsigned long value = std::strtoul(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0') fail(std::string("not a number: ") + text);
  return value;
}

// A small deterministic generator, so that every run benchmarks the same
// inputs on every machine.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint32_t next() {
    state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<uint32_t>(state_ >> 33);
  }
  uint32_t below(uint32_t bound) { return next() % bound; }

 private:
  uint64_t state_;
};

// FIRST_ID .. FIRST_ID + COUNT - 1 in a fixed shuffled order.
std::vector<uint32_t> shuffled_ids(uint32_t count, uint32_t first_id) {
  std::vector<uint32_t> ids(count);
  for (uint32_t i = 0; i < count; ++i) ids[i] = first_id + i;
  Random random(count * 31u + first_id);
  for (uint32_t i = count; i > 1; --i) std::swap(ids[i - 1], ids[random.below(i)]);
  return ids;
}

// The raw text of a message, as written between the quotes of a source line
// and of a .po msgstr (both read the same C escapes). About 60 bytes.
std::string raw_text(uint32_t id) {
  char text[128];
  switch (id % 4) {
    case 0:
      std::snprintf(text, sizeof text, "Message %u: press \\\"OK\\\" to go on,\\tor Cancel.", id);
      break;
    case 1:
      std::snprintf(text, sizeof text,
                    "Le fichier %u est ouvert\\n; l\\047enregistrer maintenant ?", id);
      break;
    case 2:
      std::snprintf(text, sizeof text, "Value \\x41\\102 of item %u is out of range \\\\ check it",
                    id);
      break;
    default:
      std::snprintf(text, sizeof text, "Plain text number %u with no escape sequence in it.", id);
      break;
  }
  return text;
}

class Output {
 public:
  explicit Output(const std::string& path) : out_(path, std::ios::binary | std::ios::trunc) {
    if (!out_) fail("cannot create " + path);
  }
  std::ofstream& stream() { return out_; }
  void close(const std::string& path) {
    out_.close();
    if (!out_) fail("cannot write " + path);
  }

 private:
  std::ofstream out_;
};

void write_source(const std::string& path, uint32_t count, uint32_t first_id,
                  const std::string& language, bool unicode) {
  Output out(path);
  out.stream() << "// #LANGUAGE " << language << "\n// #FONFILE FONT_" << language
               << "\n// #MSGCODING " << (unicode ? "UNICODE" : "ISO8859")
               << "\n// #FILETYPE 1\n// #APPLITYPE 2a\n";
  std::string lines;
  for (uint32_t id : shuffled_ids(count, first_id)) {
    std::string text = raw_text(id);
    if (unicode) {
      // Each plain character as a 16-bit unit, high byte first.
      std::string spelled;
      for (char c : text) {
        if (c == '\\' || c == '"') continue;
        char unit[16];
        std::snprintf(unit, sizeof unit, "\\x00\\x%02X", static_cast<unsigned char>(c));
        spelled += unit;
      }
      text = spelled;
    }
    lines +=
        "#message " + std::to_string(id) + " MSG_" + std::to_string(id) + " \"" + text + "\"\n";
  }
  out.stream() << lines;
  out.close(path);
}

void write_po(const std::string& path, uint32_t count, uint32_t first_id) {
  Output out(path);
  std::string text =
      "msgid \"\"\nmsgstr \"\"\n\"Content-Type: text/plain; charset=UTF-8\\n\"\n"
      "\"Content-Transfer-Encoding: 8bit\\n\"\n\n";
  for (uint32_t id : shuffled_ids(count, first_id)) {
    text += "msgid \"MSG_" + std::to_string(id) + "\"\nmsgstr \"" + raw_text(id) + "\"\n\n";
  }
  out.stream() << text;
  out.close(path);
}

void write_names(const std::string& path, uint32_t count, uint32_t first_id) {
  Output out(path);
  std::string text;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t id = first_id + i;
    text += "#define MSG_" + std::to_string(id) + " " + std::to_string(id) + "\n";
  }
  out.stream() << text;
  out.close(path);
}

// Writes a catalogue the way a series of runs would have left it: languages
// added one after the other, tables added round by round, so the blocks are
// in chronological order while the records are grouped by language.
// With `one_table`, a single table of 32000 messages holds all the bytes.
// `conversions` "%s" are spread over the tables alike (so that translations
// compare clean) and over the texts of each, the first texts taking one more
// when they do not divide evenly. With `own_keys`, no two tables share a
// type_key.
void write_catalogue(const std::string& path, uint64_t bytes, bool one_table,
                     uint64_t conversions = 0, bool own_keys = false) {
  const uint32_t language_count = one_table ? 1 : 5;
  const uint32_t tables_per_language = one_table ? 1 : 5;
  const uint32_t table_count = language_count * tables_per_language;
  const uint32_t message_count = one_table ? 32000 : 20000;
  const char* names[5] = {"EN", "FR", "DE", "IT", "ES"};
  // Text length (terminator included) that brings the file near BYTES; at
  // least 2 so that every text holds a character.
  const uint64_t per_table = bytes / table_count;
  const uint32_t text_length = static_cast<uint32_t>(std::max<uint64_t>(
      2, per_table > kIndexEntrySize * message_count ? per_table / message_count - kIndexEntrySize
                                                     : 2));
  uint64_t block_size = uint64_t{message_count} * (kIndexEntrySize + text_length);
  block_size += block_size % 2;

  MsgFileHeader header;
  set_chars(header.name, kNameWidth, "BENCH.MSG");
  header.language_count = language_count;
  const uint64_t area = kHeaderSize + uint64_t{kLanguageEntrySize} * language_count +
                        uint64_t{kTableRecordSize} * table_count;
  if (area + block_size * table_count > UINT32_MAX) fail("a catalogue holds at most 4 GiB");
  std::string head;
  write_header(&head, header);
  for (uint32_t l = 0; l < language_count; ++l) {
    LanguageEntry entry;
    set_chars(entry.language, kLanguageWidth, names[l]);
    entry.table_count = tables_per_language;
    entry.table_offset = static_cast<uint32_t>(kHeaderSize + kLanguageEntrySize * language_count +
                                               kTableRecordSize * tables_per_language * l);
    write_language_entry(&head, entry);
  }
  for (uint32_t l = 0; l < language_count; ++l) {
    for (uint32_t t = 0; t < tables_per_language; ++t) {
      TableRecord record;
      record.type_key = 0x10000u + (own_keys ? l * tables_per_language + t : t);
      set_chars(record.font_file, kFontFileWidth, std::string("FONT_") + names[l]);
      record.coding = kByteCoding;
      record.message_count = message_count;
      const uint32_t chronological = t * language_count + l;
      record.index_offset = static_cast<uint32_t>(area + block_size * chronological);
      write_table_record(&head, record);
    }
  }
  Output out(path);
  out.stream() << head;
  std::string block;
  block.reserve(block_size);
  const uint64_t conversions_per_table = conversions / table_count;
  for (uint32_t table = 0; table < table_count; ++table) {
    block.clear();
    for (uint32_t i = 0; i < message_count; ++i) {
      IndexEntry entry;
      entry.message_id = static_cast<uint16_t>(i);
      entry.text_offset = (message_count - i - 1) * kIndexEntrySize + i * text_length;
      write_index_entry(&block, entry);
    }
    for (uint32_t i = 0; i < message_count; ++i) {
      size_t start = block.size();
      char label[32];
      block.append(label, std::snprintf(label, sizeof label, "T%u M%u ", table, i));
      const uint64_t formats = conversions_per_table / message_count +
                               (i < conversions_per_table % message_count ? 1 : 0);
      if (formats > 0 && block.size() - start + 3 * formats >= text_length) {
        fail("too many conversions");
      }
      for (uint64_t k = 0; k < formats; ++k) block += "%s ";
      block.resize(start + text_length - 1, static_cast<char>('a' + (i + table) % 26));
      block.push_back('\0');
    }
    block.resize(block_size, '\0');
    out.stream() << block;
  }
  out.close(path);
}

void write_small_tables(const std::string& path, uint32_t tables) {
  constexpr uint32_t kLanguages = 5;
  const char* names[kLanguages] = {"EN", "FR", "DE", "IT", "ES"};
  if (tables < kLanguages || tables > kLanguages * kMaxCount) fail("bad table count");
  MsgFileHeader header;
  set_chars(header.name, kNameWidth, "SMALL.MSG");
  header.language_count = kLanguages;
  const uint64_t directory_end = kHeaderSize + uint64_t{kLanguageEntrySize} * kLanguages;
  const uint64_t area = directory_end + uint64_t{kTableRecordSize} * tables;
  // Table t belongs to language t % 5 and was added t-th; its block holds one
  // entry and the text "T<t>", padded to an even length.
  std::vector<std::string> blocks(tables);
  std::vector<uint64_t> block_at(tables);
  uint64_t at = area;
  for (uint32_t t = 0; t < tables; ++t) {
    IndexEntry entry;
    entry.message_id = 1;
    write_index_entry(&blocks[t], entry);
    blocks[t] += 'T';
    blocks[t] += std::to_string(t);
    blocks[t].push_back('\0');
    if (blocks[t].size() % 2 != 0) blocks[t].push_back('\0');
    block_at[t] = at;
    at += blocks[t].size();
  }
  std::string head;
  write_header(&head, header);
  uint64_t records_so_far = 0;
  for (uint32_t l = 0; l < kLanguages; ++l) {
    LanguageEntry entry;
    set_chars(entry.language, kLanguageWidth, names[l]);
    entry.table_count = static_cast<uint16_t>((tables - l + kLanguages - 1) / kLanguages);
    entry.table_offset = static_cast<uint32_t>(directory_end + kTableRecordSize * records_so_far);
    records_so_far += entry.table_count;
    write_language_entry(&head, entry);
  }
  for (uint32_t l = 0; l < kLanguages; ++l) {
    for (uint32_t t = l; t < tables; t += kLanguages) {
      TableRecord record;
      record.type_key = 0x10002;
      set_chars(record.font_file, kFontFileWidth, std::string("FONT_") + names[l]);
      record.coding = kByteCoding;
      record.message_count = 1;
      record.index_offset = static_cast<uint32_t>(block_at[t]);
      write_table_record(&head, record);
    }
  }
  Output out(path);
  out.stream() << head;
  for (const std::string& block : blocks) out.stream() << block;
  out.close(path);
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) fail("cannot read " + path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Every check a reader of the format relies on, over the whole file. Returns
// the blocks by their start, or exits with what is wrong.
std::map<uint32_t, TableRecord> check_structure(const std::string& path, const std::string& bytes,
                                                const Catalogue& catalogue) {
  std::map<uint32_t, TableRecord> blocks;
  for (const TableLayout& table : catalogue.tables) {
    const TableRecord& record = table.record;
    if (record.index_offset % 2 != 0) fail(path + ": a block starts at an odd offset");
    if (!blocks.emplace(record.index_offset, record).second)
      fail(path + ": two tables share a block");
  }
  uint64_t expected_start = catalogue.header_area_size();
  for (auto it = blocks.begin(); it != blocks.end(); ++it) {
    const uint32_t start = it->first;
    const TableRecord& record = it->second;
    if (start != expected_start)
      fail(path + ": a gap or overlap before the block at " + std::to_string(start));
    const uint64_t end = std::next(it) == blocks.end() ? bytes.size() : std::next(it)->first;
    const uint64_t texts = start + uint64_t{kIndexEntrySize} * record.message_count;
    ByteReader in(bytes, start);
    uint32_t previous_id = 0;
    uint64_t texts_end = texts;
    for (uint32_t i = 0; i < record.message_count; ++i) {
      IndexEntry entry;
      read_index_entry(in, &entry);
      if (i > 0 && entry.message_id < previous_id) {
        fail(path + ": the index at " + std::to_string(start) + " is not sorted");
      }
      previous_id = entry.message_id;
      const uint64_t text = in.position() + uint64_t{entry.text_offset};
      size_t terminator = std::string::npos;
      if (record.coding == kUnicodeCoding) {
        // A UNICODE text ends in a 16-bit unit of zero.
        for (uint64_t at = text; at + 1 < end; at += 2) {
          if (bytes[at] == '\0' && bytes[at + 1] == '\0') {
            terminator = at + 1;
            break;
          }
        }
      } else if (text < end) {
        terminator = bytes.find('\0', text);
      }
      if (text < texts || terminator == std::string::npos || terminator >= end) {
        fail(path + ": a text of the block at " + std::to_string(start) + " is outside it");
      }
      texts_end = std::max<uint64_t>(texts_end, terminator + 1);
    }
    if (end % 2 != 0 || end - texts_end > 1) {
      fail(path + ": the block at " + std::to_string(start) + " does not end where its texts do");
    }
    expected_start = end;
  }
  return blocks;
}

// Collects the texts of a source as Tolvane would store them.
class TextCollector : public MessageHandler {
 public:
  explicit TextCollector(uint16_t coding) : coding_(coding) {}
  void on_name(int32_t, std::string_view, std::string_view) override {}
  void on_text(int32_t id, std::string_view text) override {
    std::string encoded;
    encode_text(text, coding_, &encoded);
    texts.push_back({static_cast<uint16_t>(id), encoded});
  }
  std::vector<std::pair<uint16_t, std::string>> texts;

 private:
  uint16_t coding_;
};

// The last-added table (the block that comes last) holds the source's texts,
// each identifier pointing at its own text.
void check_table(const std::string& path, const std::string& bytes,
                 const std::map<uint32_t, TableRecord>& blocks, const std::string& source_path) {
  PosixFileSystem fs;
  auto file = fs.open(source_path, OpenMode::kRead);
  LineReader source(file.get(), true);
  TableParameters parameters;
  read_directives(source, source_path, &parameters);
  TextCollector collector(parameters.coding);
  message_pass(source, source_path, collector);

  if (blocks.empty()) fail(path + ": no table");
  const uint32_t start = blocks.rbegin()->first;
  const TableRecord& record = blocks.rbegin()->second;
  if (record.message_count != collector.texts.size()) {
    fail(path + ": the last table holds " + std::to_string(record.message_count) +
         " messages, the source " + std::to_string(collector.texts.size()));
  }
  // Identifier -> texts in source order.
  std::multimap<uint16_t, std::string> expected;
  for (const auto& [id, text] : collector.texts) expected.emplace(id, text);
  ByteReader in(bytes, start);
  for (uint32_t i = 0; i < record.message_count; ++i) {
    IndexEntry entry;
    read_index_entry(in, &entry);
    const uint64_t text = in.position() + uint64_t{entry.text_offset};
    auto [first, last] = expected.equal_range(entry.message_id);
    auto match = std::find_if(first, last, [&](const auto& item) {
      return bytes.compare(text, item.second.size(), item.second) == 0;
    });
    if (match == last) {
      fail(path + ": message " + std::to_string(entry.message_id) + " has a wrong text");
    }
    expected.erase(match);
  }
}

int check(const std::string& path, std::optional<unsigned long> tables,
          const std::string& source_path) {
  const std::string bytes = read_file(path);
  PosixFileSystem fs;
  auto file = fs.open(path, OpenMode::kRead);
  Catalogue catalogue;
  if (auto damage = read_catalogue(*file, path, &catalogue)) fail(damage->message());
  if (catalogue.header.file_id != kFileId) fail(path + ": wrong FILE ID");
  auto blocks = check_structure(path, bytes, catalogue);
  if (tables && catalogue.tables.size() != *tables) {
    fail(path + ": " + std::to_string(catalogue.tables.size()) + " tables, expected " +
         std::to_string(*tables));
  }
  if (!source_path.empty()) check_table(path, bytes, blocks, source_path);
  std::cout << path << ": " << bytes.size() << " bytes, " << catalogue.languages.size()
            << " languages, " << catalogue.tables.size() << " tables: valid\n";
  return 0;
}

int count_lines(const std::string& path) {
  const std::string bytes = read_file(path);
  std::cout << std::count(bytes.begin(), bytes.end(), '\n') << "\n";
  return 0;
}

double now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

int time_command(const std::string& result_path, char** argv) {
  const double start = now();
  pid_t child = fork();
  if (child < 0) fail("cannot fork");
  if (child == 0) {
    execvp(argv[0], argv);
    std::perror(argv[0]);
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  while (wait4(child, &status, 0, &usage) < 0) {
    if (errno != EINTR) fail("wait4 failed");
  }
  const double elapsed = now() - start;
  std::ofstream out(result_path, std::ios::trunc);
  const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
  out << elapsed << " " << usage.ru_maxrss << " " << cpu << "\n";
  if (!out) fail("cannot write " + result_path);
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + WTERMSIG(status);
}

int main_with(int argc, char** argv) {
  if (argc < 3) fail("usage: see the comment at the top of bench/bench_tool.cc");
  const std::string command = argv[1];
  const std::string path = argv[2];
  if (command == "source" && argc >= 5 && argc <= 7) {
    write_source(path, number(argv[3]), number(argv[4]), argc >= 6 ? argv[5] : "EN",
                 argc == 7 && std::string(argv[6]) == "UNICODE");
  } else if (command == "po" && argc == 5) {
    write_po(path, number(argv[3]), number(argv[4]));
  } else if (command == "names" && argc == 5) {
    write_names(path, number(argv[3]), number(argv[4]));
  } else if (command == "catalogue" && argc == 4) {
    write_catalogue(path, number(argv[3]), false);
  } else if (command == "conversions" && argc == 5) {
    write_catalogue(path, number(argv[3]), false, number(argv[4]), true);
  } else if (command == "one-table" && (argc == 4 || argc == 5)) {
    write_catalogue(path, number(argv[3]), true, argc == 5 ? number(argv[4]) : 0);
  } else if (command == "small-tables" && argc == 4) {
    write_small_tables(path, number(argv[3]));
  } else if (command == "check" && argc >= 3 && argc <= 5) {
    std::optional<unsigned long> tables;
    if (argc >= 4) tables = number(argv[3]);
    return check(path, tables, argc == 5 ? argv[4] : "");
  } else if (command == "count-lines" && argc == 3) {
    return count_lines(path);
  } else if (command == "time" && argc >= 5 && std::string(argv[3]) == "--") {
    return time_command(path, argv + 4);
  } else {
    fail("bad arguments for " + command);
  }
  return 0;
}

}  // namespace
}  // namespace tolvane::bench

int main(int argc, char** argv) {
  try {
    return tolvane::bench::main_with(argc, argv);
  } catch (const tolvane::Failure& failure) {
    std::cerr << "tolvane-bench-tool: " << failure.message() << "\n";
  } catch (const std::exception& e) {
    std::cerr << "tolvane-bench-tool: " << e.what() << "\n";
  }
  return 2;
}
