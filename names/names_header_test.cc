#include "names/names_header.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "platform/fake_file_system.h"
#include "platform/file_io.h"
#include "source/source_reader.h"
#include "test_util/test_util.h"

namespace tolvane {
namespace {

using ::tolvane::testing::message_source;

// ---------------------------------------------------------------------------
// The names header of a run

// One run's names header: the previous header when given, then the #message
// lines of `body` handed on by the message pass, as in a build.
// With `diagnostics`, the names are checked against the previous header.
std::string names_run(const std::optional<std::string>& previous, const std::string& body,
                      size_t chunk = 1 << 20, Diagnostics* diagnostics = nullptr) {
  FakeFileSystem fs;
  fs.set_file("app.h", message_source("EN", body));
  std::unique_ptr<File> names_file = fs.open("Names.h", OpenMode::kCreate);
  FileWriter names(names_file.get(), 0, chunk);
  NamesHeader header(&names);
  if (diagnostics) header.check_names(diagnostics, "app.h", "names.h");
  if (previous) {
    fs.set_file("names.BAK", *previous);
    std::unique_ptr<File> previous_file = fs.open("names.BAK", OpenMode::kRead);
    LineReader reader(previous_file.get(), false, 16);
    header.copy_previous_header(reader);
  }

  std::unique_ptr<File> source_file = fs.open("app.h", OpenMode::kRead);
  LineReader source(source_file.get(), true);
  class Forward : public MessageHandler {
   public:
    Forward(NamesHeader* header, const LineReader* source) : header_(header), source_(source) {}
    void on_name(int32_t id, std::string_view line, std::string_view) override {
      header_->on_message_name(id, line, source_->line_number());
    }
    void on_text(int32_t, std::string_view) override {}

   private:
    NamesHeader* header_;
    const LineReader* source_;
  } forward(&header, &source);

  TableParameters parameters;
  read_directives(source, "app.h", &parameters);
  message_pass(source, "app.h", forward);
  names.flush();
  std::string content;
  EXPECT_TRUE(fs.get_file("Names.h", &content));
  return content;
}

TEST(NamesHeader, FirstRunWritesOneDefinePerMessageLine) {
  EXPECT_EQ(names_run(std::nullopt, "#message 1 MSG_A \"a\"\n#message 12 MSG_B \"b\"\n"),
            "#define MSG_A 1\n#define MSG_B 12\n");
  // Lines without a text and out-of-range identifiers get their line too, and
  // duplicates are not detected.
  EXPECT_EQ(names_run(std::nullopt,
                      "#message 7 NAME none\n#message 70000 X \"t\"\n#message -1 NEG \"n\"\n"
                      "#message 7 AGAIN \"a\"\n// #message 8 COMMENT\n"),
            "#define NAME 7\n#define X 70000\n#define NEG -1\n#define AGAIN 7\n");
  EXPECT_EQ(names_run(std::nullopt, "no messages\n"), "");
}

TEST(NamesHeader, NamesWithUnusualLayout) {
  EXPECT_EQ(names_run(std::nullopt,
                      "#message  7 NAME \"x\"\r\n#message 007 SEVEN\r\n"
                      "#message 100000 BIG \"x\"\r\n#message 9 LAST"),
            "#define NAME 7\n#define SEVEN 7\n#define BIG 100000\n#define LAST 9\n");
}

TEST(NamesHeader, SecondRunAppendsOnlyNewIdentifiers) {
  const std::string first =
      names_run(std::nullopt, "#message 1 MSG_A \"a\"\n#message 12 MSG_B \"b\"\n");
  // Same identifiers in another language: the previous header only.
  EXPECT_EQ(names_run(first, "#message 1 MSG_A \"un\"\n#message 12 MSG_B \"deux\"\n"), first);
  // A new identifier is appended.
  EXPECT_EQ(names_run(first,
                      "#message 1 MSG_A \"a\"\n#message 12 MSG_B \"b\"\n"
                      "#message 13 MSG_C \"c\"\n"),
            first + "#define MSG_C 13\n");
  // The identifier decides: a new name for identifier 1 writes nothing.
  const std::string renamed = names_run(first, "#message 1 MSG_Z \"z\"\n");
  EXPECT_EQ(renamed, first);
  EXPECT_EQ(renamed.find("MSG_Z"), std::string::npos);
  // Only the previous header is searched, not this run's own lines.
  EXPECT_EQ(names_run(first, "#message 20 NEW \"n\"\n#message 20 NEW2 \"m\"\n"),
            first + "#define NEW 20\n#define NEW2 20\n");
  // The full identifier is compared: 70000 is not 4464.
  EXPECT_EQ(names_run("#define X 70000\n", "#message 70000 X \"t\"\n#message 4464 Y \"t\"\n"),
            "#define X 70000\n#define Y 4464\n");
  EXPECT_EQ(names_run("#define NEG -1\n", "#message -1 NEG \"t\"\n#message 65535 Y \"t\"\n"),
            "#define NEG -1\n#define Y 65535\n");
}

TEST(NamesHeader, EmptyPreviousHeaderStillMerges) {
  EXPECT_EQ(names_run("", "#message 1 A \"a\"\n"), "#define A 1\n");
}

TEST(NamesHeader, PreviousHeaderIsCopiedByteForByte) {
  const std::string previous =
      "/* names of the application's messages */\r\n"
      "#ifndef NAMES_H\r\n"
      "\r\n"
      "#define A 1\r\n"
      "\t#define NOT_ONE 2\n"
      "\n"
      "#define B 3 \xE9\xFF\n"
      "// a lone \r is no line ending\n"
      "#define C 4";
  EXPECT_EQ(names_run(previous, ""), previous);
  EXPECT_EQ(names_run(previous, "#message 1 A \"a\"\n#message 3 B \"b\"\n#message 4 C \"c\"\n"),
            previous);
  const std::string long_line = "// " + std::string(150000, 'x') + "\n";
  EXPECT_EQ(names_run(long_line + "#define A 1\n", "#message 1 A\n"), long_line + "#define A 1\n");
}

TEST(NamesHeader, PreviousLinesDefineWhateverTheirBlanks) {
  const std::string previous =
      "#define\tA\t\t5\r\n"
      "#define  B 6 // six\n"
      "  #define C 7\n"
      "#defineD 8\n"
      "#define E\n"
      "#define G 4294967297\n"
      "#define H 9";
  const std::string out = names_run(previous,
                                    "#message 5 A \"a\"\n#message 6 B \"b\"\n#message 7 C \"c\"\n"
                                    "#message 8 D \"d\"\n#message 1 G \"g\"\n#message 9 H \"h\"\n");
  // 7 and 8 are not defined by a #define line, and 4294967297 is not 1. The
  // final line without a line feed defines 9 like any other line; the lines
  // appended after it start on a line of their own.
  EXPECT_EQ(out, previous + "\n#define C 7\n#define D 8\n#define G 1\n");
}

TEST(NamesHeader, FinalLineWithoutLineFeedIsEndedBeforeNewLines) {
  const std::string previous = "#define A 1\n#define B 2";
  const std::string second = names_run(previous, "#message 3 C \"c\"\n");
  EXPECT_EQ(second, "#define A 1\n#define B 2\n#define C 3\n");
  // The next run finds every identifier, the appended one included.
  EXPECT_EQ(names_run(second, "#message 1 A\n#message 2 B\n#message 3 C\n"), second);
}

TEST(NamesHeader, LargeHeadersGoThroughSmallWrites) {
  std::string previous;
  std::string body;
  std::string appended;
  for (int id = 0; id < 2000; ++id) {
    previous += "#define OLD_" + std::to_string(id) + " " + std::to_string(id) + "\n";
    body += "#message " + std::to_string(id) + " OLD_" + std::to_string(id) + " \"t\"\n";
  }
  for (int id = 2000; id < 3000; ++id) {
    body += "#message " + std::to_string(id) + " NEW_" + std::to_string(id) + " \"t\"\n";
    appended += "#define NEW_" + std::to_string(id) + " " + std::to_string(id) + "\n";
  }
  EXPECT_EQ(names_run(previous, body, 64), previous + appended);
}

// A name the previous header gives another identifier would stand for two
// (an error); an identifier it names otherwise keeps that name and the new
// one is not defined (a warning). Neither changes what is written.
TEST(NamesHeader, ChecksTheSourcesNamesAgainstThePreviousHeader) {
  const std::string previous = "#define MSG_OK 1\n#define MSG_FOLDER_1 5\n#define MSG_FOLDER 5\n";
  const std::string body =
      "#message 2 MSG_OK \"d\"\n"
      "#message 5 MSG_OPEN_FOLDER \"z\"\n"
      "#message 1 MSG_OK \"same\"\n"
      "#message 5 MSG_FOLDER \"second name of 5\"\n"
      "#message 7 MSG_NEW \"new\"\n";
  Diagnostics diagnostics;
  EXPECT_EQ(names_run(previous, body, 1 << 20, &diagnostics), names_run(previous, body));
  std::string findings;
  for (const Diagnostic& d : diagnostics.all()) findings += format_diagnostic(d);
  EXPECT_EQ(findings,
            "app.h:6:12: error: the name \"MSG_OK\" is #defined as 1 in names.h: one name "
            "cannot stand for identifier 2 as well\n"
            "app.h:7:12: warning: names.h already names 5 \"MSG_FOLDER_1\", so "
            "\"MSG_OPEN_FOLDER\" is not defined\n");
  // A first run has no previous header to check against.
  Diagnostics none;
  names_run(std::nullopt, body, 1 << 20, &none);
  EXPECT_TRUE(none.all().empty());
}

}  // namespace
}  // namespace tolvane
