#include "source/source_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/failure.h"
#include "platform/fake_file_system.h"
#include "platform/file_io.h"
#include "source/text_encoder.h"
#include "test_util/test_util.h"

namespace tolvane {
namespace {

using ::tolvane::testing::catch_failure;
using ::tolvane::testing::message_source;

constexpr char kPath[] = "msgs/app_en.h";

// A source held in memory and read as the build reads it: in text mode.
class Source {
 public:
  explicit Source(std::string content, size_t chunk = 1 << 16) {
    fs_.set_file(kPath, std::move(content));
    file_ = fs_.open(kPath, OpenMode::kRead);
    reader_ = std::make_unique<LineReader>(file_.get(), true, chunk);
  }
  LineReader& reader() { return *reader_; }

 private:
  FakeFileSystem fs_;
  std::unique_ptr<File> file_;
  std::unique_ptr<LineReader> reader_;
};

// Records the calls as "name <id> <line>" and "text <id> <text>".
class Recorder : public MessageHandler {
 public:
  void on_name(int32_t id, std::string_view line, std::string_view) override {
    events.push_back("name " + std::to_string(id) + " " + std::string(line));
  }
  void on_text(int32_t id, std::string_view text) override {
    events.push_back("text " + std::to_string(id) + " " + std::string(text));
  }
  // A checked pass hands on its encoding, which must be the encoder's.
  void on_encoded_text(int32_t id, std::string_view text, uint16_t coding,
                       std::string_view encoded) override {
    std::string expected;
    encode_text(text, coding, &expected);
    EXPECT_EQ(encoded, expected) << text;
    on_text(id, text);
  }
  std::vector<std::string> events;
};

TableParameters directives(const std::string& content) {
  Source source(content);
  TableParameters parameters;
  read_directives(source.reader(), kPath, &parameters);
  return parameters;
}

// Directives, then the message pass, as a build runs them.
std::vector<std::string> Messages(const std::string& content, size_t chunk = 1 << 16) {
  Source source(content, chunk);
  TableParameters parameters;
  read_directives(source.reader(), kPath, &parameters);
  Recorder recorder;
  message_pass(source.reader(), kPath, recorder);
  return recorder.events;
}

// `message` as the program shows it: these refusals name their own place, so
// no heading goes before them.
void expect_input_failure(const Failure& failure, const std::string& message) {
  EXPECT_EQ(failure.message() + "\n", message);
  EXPECT_TRUE(failure.self_contained());
  EXPECT_EQ(failure.kind(), FailureKind::kInput);
}

// ---------------------------------------------------------------------------
// Directive lines

TEST(ReadDirectives, ReadsAllFiveLines) {
  TableParameters p = directives(
      "// #LANGUAGE EN\n// #FONFILE FONT_EN\n// #MSGCODING ISO8859\n"
      "// #FILETYPE 1\n// #APPLITYPE 2a\n#message 1 MSG_HELLO \"Hello\\n\"\n");
  EXPECT_EQ(p.language, "EN");
  EXPECT_EQ(p.font_file, "FONT_EN");
  EXPECT_EQ(p.coding_name, "ISO8859");
  EXPECT_EQ(p.coding, 1);
  EXPECT_EQ(p.file_type, 1u);
  EXPECT_EQ(p.appli_type, 0x2Au);
}

TEST(ReadDirectives, BlankInPatternMatchesAnyWhiteSpaceIncludingNone) {
  EXPECT_EQ(directives("// #LANGUAGEEN\n").language, "EN");
  EXPECT_EQ(directives("// #LANGUAGE EN\n").language, "EN");
  EXPECT_EQ(directives("// #LANGUAGE   EN\n").language, "EN");
  EXPECT_EQ(directives("// #LANGUAGE\t \tEN\n").language, "EN");
  // %s stops at the first white space after the token.
  EXPECT_EQ(directives("// #LANGUAGE EN FR\n").language, "EN");
  EXPECT_EQ(directives("// #LANGUAGE EN\t// english\n").language, "EN");

  TableParameters p = directives(
      "// #LANGUAGEFR\n// #FONFILEFONT_FR\n// #MSGCODINGUNICODE\n"
      "// #FILETYPE3\n// #APPLITYPE1f\n");
  EXPECT_EQ(p.language, "FR");
  EXPECT_EQ(p.font_file, "FONT_FR");
  EXPECT_EQ(p.coding_name, "UNICODE");
  EXPECT_EQ(p.file_type, 3u);
  EXPECT_EQ(p.appli_type, 31u);

  p = directives(
      "// #LANGUAGE    DE  \n// #FONFILE    F_DE   x\n// #MSGCODING  \t ISO8859  \n"
      "// #FILETYPE     10\n// #APPLITYPE \t 0x10\n");
  EXPECT_EQ(p.language, "DE");
  EXPECT_EQ(p.font_file, "F_DE");
  EXPECT_EQ(p.coding_name, "ISO8859");
  EXPECT_EQ(p.file_type, 16u);
  EXPECT_EQ(p.appli_type, 16u);
}

TEST(ReadDirectives, HexValuesWithOrWithoutPrefix) {
  auto appli = [](const std::string& value) {
    return directives(message_source("EN", "", "ISO8859", "F", "1", value)).appli_type;
  };
  EXPECT_EQ(appli("0x1F"), 31u);
  EXPECT_EQ(appli("1f"), 31u);
  EXPECT_EQ(appli("1F"), 31u);
  EXPECT_EQ(appli("0X1f"), 31u);
  EXPECT_EQ(appli("0"), 0u);
  EXPECT_EQ(appli("ffff"), 0xFFFFu);
  EXPECT_EQ(appli("10000"), 0x10000u);
  // The number ends at the first character that is not a hex digit.
  EXPECT_EQ(appli("2ag"), 0x2Au);
  EXPECT_EQ(appli("12 34"), 0x12u);

  auto file = [](const std::string& value) {
    return directives(message_source("EN", "", "ISO8859", "F", value, "1")).file_type;
  };
  EXPECT_EQ(file("0x1F"), 31u);
  EXPECT_EQ(file("1f"), 31u);
  EXPECT_EQ(file("A"), 10u);
  // Nothing readable as a number leaves the value unset.
  EXPECT_EQ(file("zz"), 0u);
  EXPECT_EQ(file(""), 0u);
}

TEST(ReadDirectives, CodingIsUnicodeOnlyForExactlyThatName) {
  auto coding = [](const std::string& name) {
    return directives(message_source("EN", "", name)).coding;
  };
  EXPECT_EQ(coding("UNICODE"), 0);
  EXPECT_EQ(coding("unicode"), 1);
  EXPECT_EQ(coding("Unicode"), 1);
  EXPECT_EQ(coding("UNICODE16"), 1);
  EXPECT_EQ(coding("ISO8859"), 1);
  EXPECT_EQ(directives("// #LANGUAGE EN\n// #FONFILE F\n// #MSGCODING UNICODE // wide\n").coding,
            0);
}

TEST(ReadDirectives, MissingLanguageLineFails) {
  const std::string message =
      "  Error in msgs/app_en.h:specify the name of the language to create:\n"
      "    ex :// #LANGUAGE EN\n";
  for (const std::string first :
       {"//#LANGUAGE EN\n", "// #language EN\n", "// # LANGUAGE EN\n", " // #LANGUAGE EN\n",
        "\n// #LANGUAGE EN\n", "#message 1 A \"a\"\n", "// #FONFILE F\n", "// #LANGUAG"}) {
    SCOPED_TRACE(first);
    expect_input_failure(catch_failure([&] { directives(first + "// #FONFILE F\n"); }), message);
  }
}

TEST(ReadDirectives, EmptySourceSetsNothing) {
  TableParameters p = directives("");
  EXPECT_EQ(p.language, "");
  EXPECT_EQ(p.font_file, "");
  EXPECT_EQ(p.coding_name, "");
  EXPECT_EQ(p.coding, 1);
  EXPECT_EQ(p.file_type, 0u);
  EXPECT_EQ(p.appli_type, 0u);
  EXPECT_TRUE(Messages("").empty());
}

TEST(ReadDirectives, MissingLaterLinesLeaveDefaults) {
  for (const std::string content : {"// #LANGUAGE EN", "// #LANGUAGE EN\n"}) {
    TableParameters p = directives(content);
    EXPECT_EQ(p.language, "EN");
    EXPECT_EQ(p.font_file, "");
    EXPECT_EQ(p.coding_name, "");
    EXPECT_EQ(p.coding, 1);
    EXPECT_EQ(p.file_type, 0u);
    EXPECT_EQ(p.appli_type, 0u);
  }
  TableParameters p = directives("// #LANGUAGE EN\n// #FONFILE F\n// #MSGCODING UNICODE\n");
  EXPECT_EQ(p.coding, 0);
  EXPECT_EQ(p.file_type, 0u);
  EXPECT_EQ(p.appli_type, 0u);
}

TEST(ReadDirectives, MisnamedLineStopsTheDirectivesAndIsConsumed) {
  // The second line is a message: the FONFILE test fails on it, so it is lost.
  std::string content =
      "// #LANGUAGE EN\n#message 1 LOST \"lost\"\n// #MSGCODING UNICODE\n"
      "#message 2 KEPT \"kept\"\n";
  TableParameters p = directives(content);
  EXPECT_EQ(p.language, "EN");
  EXPECT_EQ(p.font_file, "");
  EXPECT_EQ(p.coding, 1);
  EXPECT_EQ(Messages(content),
            (std::vector<std::string>{"name 2 #message 2 KEPT \"kept\"", "text 2 kept"}));

  // A misnamed third line ends the directives: the FILETYPE line after it is
  // not read as one.
  content =
      "// #LANGUAGE EN\n// #FONFILE F\n// #MSGCODEING UNICODE\n// #FILETYPE 7\n"
      "// #APPLITYPE 8\n#message 3 A \"a\"\n";
  p = directives(content);
  EXPECT_EQ(p.font_file, "F");
  EXPECT_EQ(p.coding_name, "");
  EXPECT_EQ(p.coding, 1);
  EXPECT_EQ(p.file_type, 0u);
  EXPECT_EQ(p.appli_type, 0u);
  EXPECT_EQ(Messages(content), (std::vector<std::string>{"name 3 #message 3 A \"a\"", "text 3 a"}));

  // Keywords are compared case-sensitively and without the comment's blank.
  p = directives("// #LANGUAGE EN\n// #FONFILE F\n// #MSGCODING X\n//#FILETYPE 7\n");
  EXPECT_EQ(p.coding_name, "X");
  EXPECT_EQ(p.file_type, 0u);
  p = directives(
      "// #LANGUAGE EN\n// #FONFILE F\n// #MSGCODING X\n// #FILETYPE 7\n"
      "// #Applitype 9\n");
  EXPECT_EQ(p.file_type, 7u);
  EXPECT_EQ(p.appli_type, 0u);
}

TEST(ReadDirectives, ValuesOfAnyLengthAreReadWhole) {
  const std::string font(300, 'F');
  const std::string coding(100, 'C');
  TableParameters p = directives(message_source("ENGLISH", "", coding, font));
  EXPECT_EQ(p.language, "ENGLISH");
  EXPECT_EQ(p.font_file, font);
  EXPECT_EQ(p.coding_name, coding);
}

TEST(ReadDirectives, CarriageReturnsBeforeLineFeedsAreNotPartOfValues) {
  TableParameters p = directives(
      "// #LANGUAGE EN\r\n// #FONFILE F_EN\r\n// #MSGCODING UNICODE\r\n// #FILETYPE 1f\r\n"
      "// #APPLITYPE 2\r\n");
  EXPECT_EQ(p.language, "EN");
  EXPECT_EQ(p.font_file, "F_EN");
  EXPECT_EQ(p.coding_name, "UNICODE");
  EXPECT_EQ(p.coding, 0);
  EXPECT_EQ(p.file_type, 31u);
  EXPECT_EQ(p.appli_type, 2u);
}

// ---------------------------------------------------------------------------
// Message pass

TEST(MessagePass, HandsEveryMessageLineOnInSourceOrder) {
  const std::vector<std::string> events =
      Messages(message_source("EN",
                              "/* texts */\n"
                              "#message 1 MSG_HELLO \"Hello\\n\"\n"
                              "\n"
                              "#message 7 NAME none\n"
                              "#define NOT_A_MESSAGE 3\n"
                              " #message 8 INDENTED \"no\"\n"
                              "#messag 9 SHORT \"no\"\n"
                              "// #message 10 COMMENTED \"no\"\n"
                              "#message 2 MSG_BYE \"Good \\\"bye\\\"\"\n"
                              "#message 1 MSG_AGAIN \"again\"\n"));
  EXPECT_EQ(events, (std::vector<std::string>{
                        "name 1 #message 1 MSG_HELLO \"Hello\\n\"",
                        "text 1 Hello\\n",
                        "name 7 #message 7 NAME none",
                        "name 2 #message 2 MSG_BYE \"Good \\\"bye\\\"\"",
                        "text 2 Good \\\"bye\\\"",
                        "name 1 #message 1 MSG_AGAIN \"again\"",
                        "text 1 again",
                    }));
}

TEST(MessagePass, TextIsTakenBetweenTheFirstAndLastQuote) {
  auto text_of = [](const std::string& line) {
    std::vector<std::string> events = Messages(message_source("EN", line + "\n"));
    EXPECT_EQ(events.size(), 2u) << line;
    return events.size() == 2 ? events[1] : std::string("<no text>");
  };
  EXPECT_EQ(text_of("#message 7 NAME \"a\"b\""), "text 7 ab");
  EXPECT_EQ(text_of("#message 7 NAME \"x\\\"y\""), "text 7 x\\\"y");
  // A quote that opens the text has no backslash before it in the text.
  EXPECT_EQ(text_of("#message 7 NAME \"\"a\\\"\""), "text 7 a\\\"");
  EXPECT_EQ(text_of("#message 7 NAME \"\""), "text 7 ");
  EXPECT_EQ(text_of("#message 7 NAME \"only one quote"), "text 7 ");
  EXPECT_EQ(text_of("#message 7 NAME \"x\" /* the \"y\" */"), "text 7 x /* the y");
  EXPECT_EQ(text_of("#message 7 NAME \"tab\\there\"  // trailing"), "text 7 tab\\there");
  // An escaped quote right before the closing one stays escaped.
  EXPECT_EQ(text_of("#message 7 NAME \"say \\\"\""), "text 7 say \\\"");
  // A text ending in an escaped backslash stops at the last quote.
  EXPECT_EQ(text_of("#message 7 NAME \"a\\\\\""), "text 7 a\\\\");
  EXPECT_EQ(text_of("#message 7 NAME \"\\\\\""), "text 7 \\\\");
}

TEST(MessagePass, ExtractTextWithoutQuoteGivesNoText) {
  std::string text = "unchanged";
  EXPECT_FALSE(extract_text("#message 7 NAME none", &text));
  EXPECT_TRUE(extract_text("\"", &text));
  EXPECT_EQ(text, "");
  EXPECT_TRUE(extract_text("\"\\\"", &text));  // "\" : the escape's quote is the last one
  EXPECT_EQ(text, "\\");
}

TEST(MessagePass, CarriageReturnLineFeedEndings) {
  const std::vector<std::string> events = Messages(
      "// #LANGUAGE EN\r\n// #FONFILE F\r\n// #MSGCODING ISO8859\r\n// #FILETYPE 1\r\n"
      "// #APPLITYPE 2\r\n#message 1 A \"a\"\r\n#message 2 B none\r\n#message 3 C \"c\"\r\n");
  EXPECT_EQ(events, (std::vector<std::string>{"name 1 #message 1 A \"a\"", "text 1 a",
                                              "name 2 #message 2 B none",
                                              "name 3 #message 3 C \"c\"", "text 3 c"}));
}

TEST(MessagePass, FinalLineWithoutLineFeedIsProcessed) {
  EXPECT_EQ(Messages(message_source("EN", "#message 1 A \"a\"\n#message 2 B \"b\"")),
            (std::vector<std::string>{"name 1 #message 1 A \"a\"", "text 1 a",
                                      "name 2 #message 2 B \"b\"", "text 2 b"}));
  EXPECT_EQ(Messages(message_source("EN", "#message 4 D")),
            (std::vector<std::string>{"name 4 #message 4 D"}));
  // A carriage return with no line feed after it is not a line ending, but it
  // lies outside the quotes and so stays out of the text.
  const std::vector<std::string> events =
      Messages(message_source("EN", "#message 5 E \"e\"\r\n#message 6 F \"f\"\r"));
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[1], "text 5 e");
  EXPECT_EQ(events[3], "text 6 f");
}

TEST(MessagePass, LongLinesAreKeptWhole) {
  std::string long_text;
  for (int i = 0; long_text.size() < 150000; ++i) long_text += "word" + std::to_string(i) + ' ';
  const std::string line = "#message 3 LONG \"" + long_text + "\"";
  for (size_t chunk : {size_t{1} << 16, size_t{1000}, size_t{7}}) {
    SCOPED_TRACE(chunk);
    for (const std::string ending : {"\n", "\r\n", ""}) {
      const std::vector<std::string> events =
          Messages(message_source("EN", "#message 1 A \"a\"\n" + line + ending +
                                            (ending.empty() ? "" : "#message 2 B \"b\"\n")),
                   chunk);
      ASSERT_EQ(events.size(), ending.empty() ? 4u : 6u);
      EXPECT_TRUE(events[2] == "name 3 " + line) << "long line cut or changed";
      EXPECT_TRUE(events[3] == "text 3 " + long_text) << "long text cut or changed";
      if (!ending.empty()) {
        EXPECT_EQ(events[5], "text 2 b");
      }
    }
  }
}

TEST(MessagePass, IdentifiersAreScannedAsSignedIntegers) {
  auto ids = [](const std::string& body) {
    std::vector<std::string> names;
    for (const std::string& event : Messages(message_source("EN", body))) {
      if (event.rfind("name ", 0) == 0) names.push_back(event.substr(5, event.find(' ', 5) - 5));
    }
    return names;
  };
  EXPECT_EQ(ids("#message 70000 X \"t\"\n#message -1 Y \"t\"\n#message 0 Z \"t\"\n"),
            (std::vector<std::string>{"70000", "-1", "0"}));
  EXPECT_EQ(ids("#message5 A \"t\"\n#message\t12 B\n#message   65535 C \"t\"\n"),
            (std::vector<std::string>{"5", "12", "65535"}));
  EXPECT_EQ(ids("#message 007 A\n#message +3 B\n"), (std::vector<std::string>{"7", "3"}));
  EXPECT_EQ(ids("#message 2147483647 MAX\n#message -2147483648 MIN\n"),
            (std::vector<std::string>{"2147483647", "-2147483648"}));
  // Digits past the twelfth are read like the others.
  EXPECT_EQ(ids("#message 00000000000000042 A\n#message -000000000002147483648 B\n"),
            (std::vector<std::string>{"42", "-2147483648"}));
}

TEST(MessagePass, UnreadableIdentifierStopsWithLineNumber) {
  struct Case {
    std::string line;
    std::string problem;
  };
  const std::vector<Case> cases = {
      {"#messages 5 X \"t\"", "the identifier of this #message line cannot be read"},
      {"#message X \"t\"", "the identifier of this #message line cannot be read"},
      {"#message \"t\"", "the identifier of this #message line cannot be read"},
      {"#message", "the identifier of this #message line cannot be read"},
      {"#message - 5 X", "the identifier of this #message line cannot be read"},
      {"#message 2147483648 X \"t\"",
       "the identifier 2147483648 does not fit a 32-bit signed integer"},
      {"#message -2147483649 X \"t\"",
       "the identifier -2147483649 does not fit a 32-bit signed integer"},
      {"#message 99999999999999999999999 X \"t\"",
       "the identifier 99999999999999999999999 does not fit a 32-bit signed integer"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    // Five directive lines, then lines 6 and 7 before the faulty line 8.
    Source source(
        message_source("EN", "#message 1 A \"a\"\n// note\n" + c.line + "\n#message 2 B \"b\"\n"));
    TableParameters parameters;
    read_directives(source.reader(), kPath, &parameters);
    Recorder recorder;
    expect_input_failure(catch_failure([&] { message_pass(source.reader(), kPath, recorder); }),
                         "  Error in msgs/app_en.h: line 8: " + c.problem + "\n");
    // The run stops at once: nothing of the faulty line or after it.
    EXPECT_EQ(recorder.events, (std::vector<std::string>{"name 1 #message 1 A \"a\"", "text 1 a"}));
  }
}

TEST(MessagePass, LineNumbersCountCarriageReturnLinesAndDirectives) {
  // A misnamed second line ends the directives; the faulty line is line 4.
  expect_input_failure(
      catch_failure(
          [] { Messages("// #LANGUAGE EN\r\n// nothing\r\n#message 1 A\r\n#message Z\r\n"); }),
      "  Error in msgs/app_en.h: line 4: the identifier of this #message line "
      "cannot be read\n");
}

// ---------------------------------------------------------------------------
// What the reading finds wrong (errors) or doubtful (warnings)

// The findings on `content`, one formatted line each, and whether reading
// it with them gives what reading it without them gives: the same values
// handed on, or the same refusal.
struct Checked {
  std::string findings;
  size_t errors = 0;
  bool same_reading = false;
};

Checked check(const std::string& content) {
  auto read = [&](Diagnostics* diagnostics) {
    Source source(content);
    TableParameters p;
    Recorder recorder;
    std::string got;
    try {
      read_directives(source.reader(), kPath, &p, diagnostics);
      message_pass(source.reader(), kPath, recorder, diagnostics, p.coding);
    } catch (const Failure& failure) {
      got = "refused: " + failure.message() + "\n";
    }
    got += p.language + "|" + p.font_file + "|" + p.coding_name + "|" + std::to_string(p.coding) +
           "|" + std::to_string(p.file_type) + "|" + std::to_string(p.appli_type) + "\n";
    for (const std::string& event : recorder.events) got += event + "\n";
    return got;
  };
  Diagnostics diagnostics;
  Checked checked;
  const std::string with = read(&diagnostics);
  checked.same_reading = with == read(nullptr);
  for (const Diagnostic& d : diagnostics.all()) checked.findings += format_diagnostic(d);
  checked.errors = diagnostics.errors();
  return checked;
}

const std::string kDirectives =
    "// #LANGUAGE EN\n// #FONFILE F\n// #MSGCODING BYTE\n// #FILETYPE 1\n// #APPLITYPE 2\n";

TEST(SourceChecks, ACleanSourceHasNoFinding) {
  for (const std::string& content :
       {kDirectives + "#message 1 MSG_HELLO \"Hello\\n\\t%d \\\"x\\\" \\101\\x41\"\n"
                      "#message 2 MSG_NONE none\n// a comment\n#define X 1\n#include \"y.h\"\n"
                      "#message 3 B \"\\0\"\n",
        message_source("JA", "#message 1 A \"\\x30\\x42, 0x00 0x41\"\n#message 2 B \"\"\n",
                       "UNICODE")}) {
    const Checked c = check(content);
    EXPECT_EQ(c.findings, "") << content;
  }
}

// Each error: the place and what is wrong. A build stops on any of them.
TEST(SourceChecks, ErrorsSayWhereAndWhat) {
  const std::string p = std::string(kPath) + ":";
  const std::pair<std::string, std::string> cases[] = {
      {kDirectives + "#message 0x10 MSG_HEX \"y\"\n",
       "6:10: error: the identifier \"0x10\" is not a decimal number: it would be read as 0; "
       "identifiers are decimal, so write 16"},
      {kDirectives + "#message 1e2 A \"y\"\n",
       "6:10: error: the identifier \"1e2\" is not a decimal number: it would be read as 1"},
      {kDirectives + "#message 12abc A \"y\"\n",
       "6:10: error: the identifier \"12abc\" is not a decimal number: it would be read as 12"},
      {kDirectives + "#message abc X \"t\"\n",
       "6:10: error: the identifier of this #message line cannot be read"},
      {kDirectives + "#message 2147483648 X \"t\"\n",
       "6:10: error: the identifier 2147483648 does not fit a 32-bit signed integer"},
      {kDirectives + "#message 13\n",
       "6:12: error: no name after the identifier: the names header would get a #define without "
       "one"},
      {kDirectives + "#message 12 \"no name\"\n",
       "6:13: error: no name after the identifier: the names header would get a #define without "
       "one"},
      {kDirectives + "#message 5 BAD-NAME! \"x\"\n",
       "6:12: error: the name \"BAD-NAME!\" is not a C identifier: the names header would not "
       "compile"},
      {kDirectives + "#message 12 SAME \"c\"\n#message 13 SAME \"d\"\n",
       "7:13: error: the name SAME already stands for identifier 12 (line 6): one name cannot "
       "give two identifiers"},
      {"// #LANGUAGE EN\n// #FONFILE F\n#message 1 A \"x\"\n",
       "3:1: error: a #message line where the // #MSGCODING directive is expected: the "
       "directive reading takes the line, so this message would be lost; the five directive "
       "lines come first"},
      {"",
       "1: error: the source is empty: it must begin with the directive lines, // #LANGUAGE "
       "first"},
      {kDirectives + "#message 1 A \"a\x01z\"\n",
       "6:16: error: binary data: the byte 0x01 is no text; a message source is a text file, and "
       "\\0 or \\xHH write such bytes into a text"},
      {"\xEF\xBB\xBF" + kDirectives,
       "1:1: error: the source starts with a UTF-8 byte order mark (bytes EF BB BF) before // "
       "#LANGUAGE: save it without the mark"},
      {"// #LANGUAGE\n",
       "1:13: error: no language after // #LANGUAGE: the table would have an "
       "empty language"},
  };
  for (const auto& [content, finding] : cases) {
    const Checked c = check(content);
    EXPECT_NE(c.findings.find(p + finding + "\n"), std::string::npos) << content << "\n"
                                                                      << c.findings;
    EXPECT_GE(c.errors, 1u);
  }
}

// A line's bytes are looked at many at a time: a binary byte is found
// wherever it stands, blanks and bytes above 0x7F are none, and the first
// binary byte of a line is the one reported; lines past 128 bytes take the
// widest steps more than once.
TEST(SourceChecks, BinaryBytesAreFoundAnywhereInALine) {
  std::vector<size_t> lengths = {127, 128, 129, 150};
  for (size_t length = 1; length <= 70; ++length) lengths.push_back(length);
  for (size_t length : lengths) {
    for (size_t at = 0; at < length; ++at) {
      for (char binary : {'\x01', '\x1F', '\x7F', '\x00'}) {
        std::string line(length, 'a');
        for (size_t k = 0; k < length; k += 3) line[k] = "\t\v\f\r \x80\xFF~"[k % 8];
        line[at] = binary;
        if (at + 5 < length) line[at + 5] = '\x02';
        const Checked c = check(kDirectives + "// " + line + "\n");
        char expected[96];
        std::snprintf(expected, sizeof expected, ":6:%zu: error: binary data: the byte 0x%02X",
                      at + 4, static_cast<unsigned char>(binary));
        EXPECT_EQ(c.findings.rfind(std::string(kPath) + expected, 0), 0u)
            << length << " " << at << "\n"
            << c.findings;
        EXPECT_EQ(c.errors, 1u) << length << " " << at;
      }
    }
  }
}

// Each warning: the place and what the build makes of the line, which is
// exactly what it made without the checks.
TEST(SourceChecks, WarningsChangeNothingThatIsRead) {
  const std::string p = std::string(kPath) + ":";
  const std::string unset =
      "the coding (byte), the file type (0) and the application type (0) "
      "stay unset";
  const std::pair<std::string, std::string> cases[] = {
      {"// #LANGUAGE EN\n// #FONTFILE F\n// #MSGCODING UNICODE\n",
       "2:1: warning: this line is not the // #FONFILE directive expected here: it is passed "
       "over, and the font file (empty), " +
           unset},
      {"// #LANGUAGE EN\n// #FONFILE F\n\n// #MSGCODING UNICODE\n",
       "3:1: warning: this line is not the // #MSGCODING directive expected here: it is passed "
       "over, and " +
           unset},
      {"// #LANGUAGE EN\n// #FONFILE F\n// #FILETYPE 1\n",
       "3:1: warning: this line is not the // #MSGCODING directive expected here (it is the // "
       "#FILETYPE directive: the order is LANGUAGE, FONFILE, MSGCODING, FILETYPE, APPLITYPE): it "
       "is passed over, and " +
           unset},
      {"// #LANGUAGE EN\n// #FONFILE F\n",
       "3: warning: the source ends before the // #MSGCODING directive: " + unset},
      {"// #LANGUAGE EN\n// #FONFILE F\n// #MSGCODING unicode\n",
       "3:15: warning: the coding \"unicode\" is not UNICODE (upper case): the table is a byte "
       "table; write UNICODE for a UNICODE table"},
      {message_source("FR", "", "BYTE", "F", "12345", "fffff"),
       "4: warning: the file type 0x00012345 does not fit 16 bits: the table's type_key becomes "
       "0x2354FFFF"},
      {message_source("FR", "", "BYTE", "F", "12345", "fffff"),
       "5: warning: the application type 0x000FFFFF does not fit 16 bits: the table's type_key "
       "becomes 0x2354FFFF"},
      {message_source("FR", "", "BYTE", "F", "zz"),
       "4:14: warning: no hexadecimal number after // #FILETYPE: the file type stays 0"},
      {message_source("FRA", ""),
       "1:14: warning: the language \"FRA\" is stored on two characters, as \"FR\""},
      {message_source("FR", "", "BYTE", std::string(43, 'F')),
       "2:13: warning: the font file name has 43 bytes: it is stored cut to its first 32, \"" +
           std::string(32, 'F') + "\""},
      {kDirectives + "#message 70000 A \"a\"\n",
       "6:10: warning: the identifier 70000 is outside 0-65535: the table stores 4464, while the "
       "names header says 70000"},
      {kDirectives + "#message -1 A \"a\"\n",
       "6:10: warning: the identifier -1 is outside 0-65535: the table stores 65535, while the "
       "names header says -1"},
      {kDirectives + "#message 1 A \"x\"\n#message 1 A \"y\"\n",
       "7:10: warning: the identifier 1 is given twice in this source (first at line 6): a lookup "
       "finds only one of its texts"},
      {kDirectives + "  #message 4 MSG_D \"y\"\n",
       "6:1: warning: an indented #message line is ignored: #message must begin the line"},
      {kDirectives + "#mesage 4 MSG_D \"y\"\n",
       "6:1: warning: \"#mesage\" is not #message: the line is ignored"},
      {kDirectives + "#message 1 A \"ab\\0cd\"\n",
       "6:17: warning: the escape \"\\0\" writes a 0x00 byte before the end: readers see the text "
       "end there"},
      {kDirectives + "#message 1 A \"a\"b\"\n",
       "6:16: warning: a double quote inside the text is dropped: write \\\" for a double quote"},
      {kDirectives + "#message 1 A \"abc\n",
       "6:14: warning: the text has no closing double quote: it is empty"},
      {kDirectives + "#message 1 A \"a\\qb\"\n",
       "6:16: warning: unknown escape \"\\q\": the backslash is dropped"},
      {message_source("JA", "#message 1 A \"\xE3\x81\x93\"\n", "UNICODE"),
       "6:15: warning: a UNICODE text is written in byte notations only: from \"\\xE3\\x81\\x93\" "
       "on, characters other than \\xHH or 0xHH, blanks and commas are ignored; write each "
       "UTF-16 unit as two notations, high byte first (U+3053 is \\x30\\x53)"},
      {message_source("JA", "#message 1 A \"\\x3042\"\n", "UNICODE"),
       "6:19: warning: a UNICODE text is written in byte notations only: from \"42\" on, "
       "characters other than \\xHH or 0xHH, blanks and commas are ignored; write each UTF-16 "
       "unit as two notations, high byte first (each notation takes two hex digits: U+3042 is "
       "\\x30\\x42)"},
      {message_source("JA", "#message 1 A \"\\x3 \\x41\"\n", "UNICODE"),
       "6:15: warning: the byte notation \"\\x3 \" does not have two hex digits: it writes the "
       "byte 0x2F; write \\x03"},
      {message_source("JA", "#message 1 A \"\\x00\\x41\\x42\"\n", "UNICODE"),
       "6:15: warning: the UNICODE text gives 3 bytes, an odd number: its last UTF-16 unit has "
       "only one byte"},
  };
  for (const auto& [content, finding] : cases) {
    const Checked c = check(content);
    EXPECT_NE(c.findings.find(p + finding + "\n"), std::string::npos) << content << "\n"
                                                                      << c.findings;
    EXPECT_EQ(c.errors, 0u) << c.findings;
    EXPECT_TRUE(c.same_reading) << content;
  }
}

}  // namespace
}  // namespace tolvane
