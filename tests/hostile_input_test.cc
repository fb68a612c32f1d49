// Deliberately hostile inputs, end to end through the real executable: MSG
// files cut at every length or with fields at extreme values, garbage and
// NUL bytes in sources, huge lines, identifiers past every boundary, too many
// messages. Each gives a correct build or a clear error with the files
// unchanged; never a crash, a hang, or a silently damaged catalogue.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "test_util/test_util.h"

namespace tolvane::testing {
namespace {

// ---------------------------------------------------------------------------
// An independent reader of MSG files, the way a device reads them: what each
// table means, and whether that meaning is well defined.

uint32_t U16(const std::string& b, uint64_t at) {
  return static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8;
}
uint32_t U32(const std::string& b, uint64_t at) { return U16(b, at) | U16(b, at + 2) << 16; }

struct Table {
  std::string language;  // two bytes
  uint32_t type_key = 0;
  std::string font;  // 32 bytes
  uint32_t coding = 0;
  uint32_t index_offset = 0;
  std::vector<std::pair<uint32_t, std::string>> messages;  // index order, texts unterminated
  bool operator==(const Table& o) const {
    // Where a block sits is no part of its meaning.
    return language == o.language && type_key == o.type_key && font == o.font &&
           coding == o.coding && messages == o.messages;
  }
};

struct Catalogue {
  std::string problem;  // empty when every table is well defined
  std::vector<Table> tables;
};

// A text at `at`: bytes up to a 0x00, or, in UNICODE tables (coding 0), up to
// two. Nothing when it is not ended inside the file.
std::optional<std::string> text_at(const std::string& file, uint64_t at, uint32_t coding) {
  for (uint64_t p = at; p < file.size(); ++p) {
    if (file[p] != 0) continue;
    if (coding != 0) return file.substr(at, p - at);
    if (p + 1 < file.size() && file[p + 1] == 0) return file.substr(at, p - at);
  }
  return std::nullopt;
}

Catalogue decode(const std::string& file) {
  Catalogue c;
  auto fail = [&](const std::string& why) {
    c.problem = why;
    return c;
  };
  if (file.size() < 38) return fail("no header");
  if (U16(file, 0) != 0x4D53) return fail("FILE ID");
  const uint32_t languages = U16(file, 36);
  if (languages > 32767) return fail("language count");
  const uint64_t directory_end = 38 + 8ull * languages;
  if (directory_end > file.size()) return fail("directory outside the file");
  uint64_t tables = 0;
  std::vector<std::string> language_of;
  for (uint32_t i = 0; i < languages; ++i) {
    const uint64_t at = 38 + 8ull * i;
    const uint32_t count = U16(file, at + 2);
    if (count > 32767) return fail("table count");
    if (U32(file, at + 4) != directory_end + 44 * tables) return fail("table offset");
    tables += count;
    for (uint32_t t = 0; t < count; ++t) language_of.push_back(file.substr(at, 2));
  }
  const uint64_t area_end = directory_end + 44 * tables;
  if (area_end > file.size()) return fail("records outside the file");
  for (uint64_t t = 0; t < tables; ++t) {
    const uint64_t at = directory_end + 44 * t;
    Table table;
    table.language = language_of[t];
    table.type_key = U32(file, at);
    table.font = file.substr(at + 4, 32);
    table.coding = U16(file, at + 36);
    const uint32_t count = U16(file, at + 38);
    table.index_offset = U32(file, at + 40);
    if (count > 32767) return fail("message count");
    const uint64_t index_end = uint64_t{table.index_offset} + 6ull * count;
    if (table.index_offset < area_end || index_end > file.size()) return fail("index outside");
    for (uint32_t rank = 0; rank < count; ++rank) {
      const uint64_t entry = table.index_offset + 6ull * rank;
      // Offsets count from the end of their entry, as 32-bit values.
      const uint32_t text = static_cast<uint32_t>(entry + 6 + U32(file, entry + 2));
      if (text < area_end || text >= file.size()) return fail("text outside the blocks");
      std::optional<std::string> bytes = text_at(file, text, table.coding);
      if (!bytes) return fail("text not ended inside the file");
      table.messages.emplace_back(U16(file, entry), *bytes);
    }
    c.tables.push_back(table);
  }
  return c;
}

// ---------------------------------------------------------------------------
// Running builds on hostile inputs.

const std::vector<std::string> kArgs = {"-tnew.h", "-hnames.h", "app.msg"};

// Runs the tool; a run that takes over 60 seconds is ended by SIGALRM, so a
// hang shows as a signal like a crash does.
RunResult run_timed(const std::vector<std::string>& args, const std::string& dir) {
  return run_tolvane(args, dir, time_limit(60));
}

// The messages a source gives a new table, in index order.
using Messages = std::vector<std::pair<uint32_t, std::string>>;

Messages sorted_entries(std::vector<std::pair<uint32_t, std::string>> in_source_order) {
  std::reverse(in_source_order.begin(), in_source_order.end());
  std::stable_sort(in_source_order.begin(), in_source_order.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  return in_source_order;
}

enum class Outcome { kBuilt, kRefused };

// Runs a build in `dir` and checks it: either a clear error with every file
// as before, or a build whose catalogue is the previous one's tables, each
// meaning what it meant, plus the new table holding `expected` (checked
// when given). An existing catalogue that is damaged must be refused.
Outcome check_build(const std::string& dir, const std::string& language,
                    const std::optional<Messages>& expected) {
  const std::string msg_before = read_file(dir + "/app.msg");
  const std::string names_before = read_file(dir + "/names.h");
  const std::vector<std::string> listing = list_dir(dir);
  RunResult r = run_timed(kArgs, dir);
  EXPECT_EQ(r.signal, 0) << "crashed or hung";
  if (r.exit_code != 0) {
    EXPECT_EQ(r.exit_code, 1);
    // A clear message: an "Error" line on standard output, or a "Cannot"
    // one on standard error.
    const bool error_line = r.out.find("\nError : ") != std::string::npos ||
                            r.out.find("\n  Error in ") != std::string::npos;
    EXPECT_TRUE(error_line || r.err.rfind("Cannot ", 0) == 0) << r.out << r.err;
    EXPECT_EQ(r.out.find(".. end"), std::string::npos);
    EXPECT_TRUE(read_file(dir + "/app.msg") == msg_before) << "the MSG file changed";
    EXPECT_TRUE(read_file(dir + "/names.h") == names_before) << "the names header changed";
    EXPECT_EQ(list_dir(dir), listing);
    return Outcome::kRefused;
  }
  EXPECT_EQ(r.out.substr(r.out.size() - std::min<size_t>(r.out.size(), 7)), ".. end\n");
  EXPECT_EQ(list_dir(dir), listing) << "work files left";
  EXPECT_EQ(read_file(dir + "/names.h").rfind(names_before, 0), 0u)
      << "the previous names header is not carried over";

  const Catalogue before = decode(msg_before);
  const std::string msg_after = read_file(dir + "/app.msg");
  const Catalogue after = decode(msg_after);
  EXPECT_EQ(before.problem, "") << "a damaged catalogue was built upon";
  EXPECT_EQ(after.problem, "") << "the build wrote a damaged catalogue";
  if (!before.problem.empty() || !after.problem.empty()) return Outcome::kBuilt;
  // The new table follows its language's last table, or comes last.
  std::vector<Table> tables = before.tables;
  size_t at = tables.size();
  for (size_t i = tables.size(); i-- > 0;) {
    if (tables[i].language == language) {
      at = i + 1;
      break;
    }
  }
  EXPECT_EQ(after.tables.size(), tables.size() + 1);
  if (after.tables.size() != tables.size() + 1) return Outcome::kBuilt;
  const Table& added = after.tables[at];
  EXPECT_EQ(added.index_offset % 2, 0u) << "the new block is not at an even offset";
  EXPECT_EQ(msg_after.size() % 2, 0u);
  tables.insert(tables.begin() + static_cast<long>(at), added);
  EXPECT_TRUE(after.tables == tables) << "the previous tables do not mean what they meant";
  if (expected) {
    EXPECT_TRUE(added.messages == *expected) << "the new table is wrong";
  }
  return Outcome::kBuilt;
}

// A source and the messages it gives.
struct Source {
  std::string text;
  Messages messages;
};

Source plain_source(const std::string& language, int first, int count) {
  Source s;
  std::string body;
  std::vector<std::pair<uint32_t, std::string>> order;
  for (int id = first; id < first + count; ++id) {
    std::string text = "text " + std::to_string(id) + std::string(id % 5, '+');
    body += "#message " + std::to_string(id) + " N_" + std::to_string(id) + " \"" + text + "\"\n";
    order.emplace_back(id, text);
  }
  s.text = message_source(language, body);
  s.messages = sorted_entries(order);
  return s;
}

// A real catalogue built by the tool: EN (byte texts), FR (UNICODE), a
// second EN table; and its names header.
struct Real {
  std::string msg, names;
};

const Real& real_catalogue() {
  static const Real* real = [] {
    TempDir dir;
    write_file(dir / "en.h", plain_source("EN", 1, 6).text);
    write_file(dir / "fr.h", message_source("FR",
                                            "#message 1 N_1 \"\\x00\\x41 0x00 0x42\"\n"
                                            "#message 2 N_2 \"\\x30\\x42\"\n"
                                            "#message 9 N_9 \"\"\n"
                                            "#message 3 N_3 \"\\x41\"\n",
                                            "UNICODE"));
    write_file(dir / "en2.h", plain_source("EN", 4, 5).text);
    RunResult a = run_tolvane({"-c", "-ten.h", "-hnames.h", "app.msg"}, dir.path());
    RunResult b = run_tolvane({"-tfr.h", "-hnames.h", "app.msg"}, dir.path());
    RunResult c = run_tolvane({"-ten2.h", "-hnames.h", "app.msg"}, dir.path());
    if (a.exit_code || b.exit_code || c.exit_code) throw std::runtime_error("no catalogue");
    return new Real{read_file(dir / "app.msg"), read_file(dir / "names.h")};
  }();
  return *real;
}

void prepare(const TempDir& dir, const std::string& msg, const std::string& source) {
  for (const std::string& name : list_dir(dir.path())) std::remove((dir / name).c_str());
  write_file(dir / "app.msg", msg);
  write_file(dir / "names.h", real_catalogue().names);
  write_file(dir / "new.h", source);
}

TEST(HostileMsgFile, TheRealOneDecodesAndBuilds) {
  const Real& real = real_catalogue();
  const Catalogue c = decode(real.msg);
  ASSERT_EQ(c.problem, "");
  ASSERT_EQ(c.tables.size(), 3u);
  EXPECT_EQ(c.tables[1].language, "EN");
  EXPECT_EQ(c.tables[2].messages[0],
            (std::pair<uint32_t, std::string>{1, std::string("\0A\0B", 4)}));
  TempDir dir;
  for (const char* language : {"EN", "FR", "DE"}) {
    Source source = plain_source(language, 3, 4);
    prepare(dir, real.msg, source.text);
    EXPECT_EQ(check_build(dir.path(), language, source.messages), Outcome::kBuilt) << language;
  }
}

TEST(HostileMsgFile, CutAtEveryLength) {
  const Real& real = real_catalogue();
  const Source source = plain_source("EN", 3, 4);
  TempDir dir;
  int built = 0;
  for (size_t length = 0; length < real.msg.size(); ++length) {
    SCOPED_TRACE("cut to " + std::to_string(length) + " of " + std::to_string(real.msg.size()));
    prepare(dir, real.msg.substr(0, length), source.text);
    if (check_build(dir.path(), "EN", source.messages) == Outcome::kBuilt) ++built;
    if (HasFailure()) break;
  }
  // A catalogue missing any of its bytes cannot be built upon.
  EXPECT_EQ(built, 0);
}

// Every field of the header, directory, records and index, each set to
// values at and around the edges of its width.
TEST(HostileMsgFile, FieldsAtExtremeValues) {
  const Real& real = real_catalogue();
  const Catalogue c = decode(real.msg);
  ASSERT_EQ(c.problem, "");
  struct Field {
    std::string name;
    uint64_t at;
    int width;  // 2 or 4 bytes, or 32 for a character field
  };
  std::vector<Field> fields = {
      {"file_id", 0, 2}, {"version", 2, 2}, {"name", 4, 32}, {"language_count", 36, 2}};
  for (int i = 0; i < 2; ++i) {
    const uint64_t at = 38 + 8 * i;
    const std::string n = "language " + std::to_string(i) + " ";
    fields.push_back({n + "code", at, 2});
    fields.push_back({n + "table_count", at + 2, 2});
    fields.push_back({n + "table_offset", at + 4, 4});
  }
  for (int t = 0; t < 3; ++t) {
    const uint64_t at = 54 + 44 * t;
    const std::string n = "record " + std::to_string(t) + " ";
    fields.push_back({n + "type_key", at, 4});
    fields.push_back({n + "font_file", at + 4, 32});
    fields.push_back({n + "coding", at + 36, 2});
    fields.push_back({n + "message_count", at + 38, 2});
    fields.push_back({n + "index_offset", at + 40, 4});
    // The first and last index entries of the table.
    const uint64_t index = U32(real.msg, at + 40), count = U16(real.msg, at + 38);
    for (uint64_t e : {uint64_t{0}, count - 1}) {
      const std::string entry = n + "entry " + std::to_string(e) + " ";
      fields.push_back({entry + "message_id", index + 6 * e, 2});
      fields.push_back({entry + "text_offset", index + 6 * e + 2, 4});
    }
  }
  const uint64_t size = real.msg.size();
  const std::vector<uint64_t> values16 = {0, 3, 0x7FFF, 0x8000, 0xFFFF};
  const std::vector<uint64_t> values32 = {0, 3, size - 1, size, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
  TempDir dir;
  int runs = 0, built = 0;
  for (const Field& field : fields) {
    std::vector<std::string> variants;
    if (field.width == 32) {
      // No terminator, bytes past ASCII, all zero.
      variants = {std::string(32, 'Z'), std::string(32, '\xff'), std::string(32, '\0')};
    } else {
      const uint64_t original =
          field.width == 2 ? U16(real.msg, field.at) : U32(real.msg, field.at);
      std::vector<uint64_t> values = field.width == 2 ? values16 : values32;
      values.push_back(original + 1);
      values.push_back(original - 1);
      for (uint64_t v : values) {
        std::string bytes;
        for (int b = 0; b < field.width; ++b) bytes.push_back(static_cast<char>(v >> (8 * b)));
        variants.push_back(bytes);
      }
    }
    for (const std::string& bytes : variants) {
      std::string msg = real.msg;
      msg.replace(field.at, bytes.size(), bytes);
      if (msg == real.msg) continue;
      // A table for a known language, then for a new one, in turn.
      const char* language = runs % 2 == 0 ? "EN" : "DE";
      SCOPED_TRACE(field.name + " set to bytes " + ::testing::PrintToString(bytes) +
                   ", new table in " + language);
      const Source source = plain_source(language, 3, 4);
      prepare(dir, msg, source.text);
      ++runs;
      if (check_build(dir.path(), language, source.messages) == Outcome::kBuilt) ++built;
      if (HasFailure()) return;
    }
  }
  // Fields that only carry values (name, version, types, fonts, codings,
  // identifiers) leave the file valid: those builds went through.
  std::printf("%d altered files, %d built upon\n", runs, built);
  EXPECT_GT(built, 50) << runs << " runs";
}

// ---------------------------------------------------------------------------
// Hostile message sources, built onto the real catalogue.

TEST(HostileSource, BinaryGarbage) {
  std::mt19937 random(20240601);
  TempDir dir;
  int built = 0, refused = 0;
  for (int round = 0; round < 60; ++round) {
    SCOPED_TRACE("garbage round " + std::to_string(round));
    std::string garbage(1 + random() % 4000, '\0');
    for (char& c : garbage) c = static_cast<char>(random());
    // Some rounds look like a source at first, with #message lines and
    // escapes sprinkled into the noise.
    if (round % 3 != 0) {
      const char* const pieces[] = {"\n#message ", "\"", "\\x", "\\", "\n", "0x", " 7 N "};
      for (int k = 0; k < 40; ++k) {
        garbage.insert(random() % garbage.size(), pieces[random() % std::size(pieces)]);
      }
      garbage = message_source("EN", garbage);
    }
    prepare(dir, real_catalogue().msg, garbage);
    (check_build(dir.path(), "EN", std::nullopt) == Outcome::kBuilt ? built : refused)++;
    if (HasFailure()) break;
  }
  EXPECT_GT(refused, 0);
}

TEST(HostileSource, NulBytesAreRefusedWhereverTheyAre) {
  using namespace std::string_literals;
  // A NUL inside a text, inside a name, before #message, as a whole text
  // and in a comment: each makes the source binary data, which is refused
  // with the first place it is found.
  const std::pair<std::string, std::string> cases[] = {
      {"#message 11 A \"ab\0cd\"\n"s, "new.h:6:18: "},
      {"#message 12 NA\0ME \"x\"\n"s, "new.h:6:15: "},
      {"\0#message 13 X \"ignored\"\n"s, "new.h:6:1: "},
      {"#message 14 B \"\0\"\n"s, "new.h:6:16: "},
      {"#message 15 C \"c\"\n// \0\0\0 a comment\n"s, "new.h:7:4: "},
  };
  TempDir dir;
  for (const auto& [body, place] : cases) {
    prepare(dir, real_catalogue().msg, message_source("DE", body));
    ASSERT_EQ(check_build(dir.path(), "DE", std::nullopt), Outcome::kRefused);
    const RunResult r = run_timed(kArgs, dir.path());
    EXPECT_NE(r.err.find(place + "error: binary data: the byte 0x00 (NUL) is no text"),
              std::string::npos)
        << r.err;
  }
}

TEST(HostileSource, LinesOverAMegabyte) {
  const std::string long_text(1500000, 'L');
  const std::string long_name(1100000, 'N');
  std::string unicode_text;
  for (int i = 0; i < 300000; ++i) unicode_text += "\\x4" + std::to_string(i % 10);
  std::string unicode_bytes;
  for (int i = 0; i < 300000; ++i) unicode_bytes.push_back(static_cast<char>(0x40 + i % 10));
  TempDir dir;
  {
    SCOPED_TRACE("byte texts");
    const std::string body = "// " + std::string(2000000, 'c') + "\n#message 21 A \"" + long_text +
                             "\"\n#message 22 " + long_name + " \"short\"\n";
    prepare(dir, real_catalogue().msg, message_source("DE", body));
    // A long previous names header line is copied as it is.
    const std::string previous = real_catalogue().names + "// " + std::string(1200000, 'h') + "\n";
    write_file(dir / "names.h", previous);
    ASSERT_EQ(check_build(dir.path(), "DE", Messages{{21, long_text}, {22, "short"}}),
              Outcome::kBuilt);
    // (Compared as a whole: a difference would print megabytes.)
    EXPECT_TRUE(read_file(dir / "names.h") ==
                previous + "#define A 21\n#define " + long_name + " 22\n");
  }
  {
    SCOPED_TRACE("UNICODE text");
    prepare(dir, real_catalogue().msg,
            message_source("JA", "#message 5 U \"" + unicode_text + "\"\n", "UNICODE"));
    ASSERT_EQ(check_build(dir.path(), "JA", std::nullopt), Outcome::kBuilt);
    const Catalogue c = decode(read_file(dir / "app.msg"));
    ASSERT_EQ(c.tables.size(), 4u);
    EXPECT_TRUE(c.tables[3].messages == (Messages{{5, unicode_bytes}}));
  }
}

TEST(HostileSource, IdentifiersAtAndPastEveryBoundary) {
  struct Case {
    const char* id;
    std::optional<uint32_t> stored;  // nothing: refused
  };
  const Case cases[] = {{"0", 0},
                        {"65535", 65535},
                        {"65536", 0},
                        {"-1", 65535},
                        {"2147483647", 65535},
                        {"-2147483648", 0},
                        {"2147483648", std::nullopt},
                        {"-2147483649", std::nullopt},
                        {"99999999999999999999", std::nullopt}};
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("identifier ") + c.id);
    prepare(dir, real_catalogue().msg,
            message_source(
                "DE", "#message 100 FIRST \"a\"\n#message " + std::string(c.id) + " EDGE \"b\"\n"));
    if (c.stored) {
      EXPECT_EQ(check_build(dir.path(), "DE", sorted_entries({{100, "a"}, {*c.stored, "b"}})),
                Outcome::kBuilt);
      // The names header keeps the identifier as written.
      EXPECT_NE(read_file(dir / "names.h").find("#define EDGE " + std::string(c.id) + "\n"),
                std::string::npos);
    } else {
      RunResult r = run_timed(kArgs, dir.path());
      EXPECT_EQ(r.exit_code, 1);
      EXPECT_NE(r.out.find("  Error in new.h: 1 error\n"), std::string::npos) << r.out;
      EXPECT_EQ(r.err, "new.h:7:10: error: the identifier " + std::string(c.id) +
                           " does not fit a 32-bit signed integer\n");
      EXPECT_EQ(read_file(dir / "app.msg"), real_catalogue().msg);
      EXPECT_EQ(read_file(dir / "names.h"), real_catalogue().names);
      EXPECT_EQ(list_dir(dir.path()), (std::vector<std::string>{"app.msg", "names.h", "new.h"}));
    }
  }
}

TEST(HostileSource, MessageCountsAroundTheLimit) {
  struct Case {
    int with_text, without_text;
    bool accepted;
  };
  TempDir dir;
  for (const Case& c : {Case{32767, 0, true}, Case{32768, 0, false}, Case{40000, 0, false},
                        Case{32767, 7233, true}}) {
    SCOPED_TRACE(std::to_string(c.with_text) + " texts, " + std::to_string(c.without_text) +
                 " lines without one");
    std::string body;
    std::vector<std::pair<uint32_t, std::string>> order;
    for (int i = 0; i < c.with_text + c.without_text; ++i) {
      const bool text = i % 5 != 4 || i / 5 >= c.without_text;
      body += "#message " + std::to_string(i) + " M" + std::to_string(i) +
              (text ? " \"" + std::to_string(i) + "\"\n" : " none\n");
      if (text) order.emplace_back(i, std::to_string(i));
    }
    ASSERT_EQ(order.size(), static_cast<size_t>(c.with_text));
    prepare(dir, real_catalogue().msg, message_source("DE", body));
    if (c.accepted) {
      EXPECT_EQ(check_build(dir.path(), "DE", sorted_entries(order)), Outcome::kBuilt);
    } else {
      EXPECT_EQ(check_build(dir.path(), "DE", std::nullopt), Outcome::kRefused);
      RunResult r = run_timed(kArgs, dir.path());
      EXPECT_NE(r.out.find("Error : new.h : " + std::to_string(c.with_text) +
                           " messages have a text; a table holds at most 32767\n"),
                std::string::npos)
          << r.out;
    }
  }
}

}  // namespace
}  // namespace tolvane::testing
