// tolvane-translate as translators' tools see it: what it writes is read by
// gettext's msgfmt and msgmerge, Translate Toolkit's xliff2po and xmllint;
// what they write comes back into a message source that the real Tolvane
// builds into the very table it started from.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_util/test_util.h"
#include "translate/po_file.h"

namespace tolvane::testing {
namespace {

using translate::read_po;
using translate::TranslationFile;

// The reference: English in CP1252 (a degree sign), a comment block, a
// printf format, quotes and a text that stays untranslated.
const char kEnglish[] =
    "// #LANGUAGE EN\n// #FONFILE FONT_EN\n// #MSGCODING CP1252\n// #FILETYPE 1\n"
    "// #APPLITYPE 2a\n"
    "// Greeting on the first screen.\n// At most 20 characters.\n"
    "#message 1 MSG_HELLO \"Hello\\n\"\n"
    "#message 2 MSG_SAVED \"Saved %d files to %s\"\n"
    "#message 3 MSG_DEGREES \"21\\260C \\\"warm\\\"\"\n"
    "#message 4 MSG_TITLE\n"
    "#message 5 MSG_LATER \"Later\"\n";

// French in CP1252: an em dash and a euro sign, which Latin-1 lacks.
const char kFrench[] =
    "// #LANGUAGE FR\n// #FONFILE FONT_FR\n// #MSGCODING CP1252\n// #FILETYPE 1\n"
    "// #APPLITYPE 2a\n"
    "#message 1 MSG_HELLO \"Bonjour \\227 5 \\200\\n\"\n"
    "#message 2 MSG_SAVED \"%d fichiers enregistr\\351s dans %s\"\n"
    "#message 3 MSG_DEGREES \"21\\260C \\253ti\\350de\\273\"\n";

// Japanese, UTF-16 high byte first: こんにちは and U+20B9F as a surrogate pair.
const char kJapanese[] =
    "// #LANGUAGE JA\n// #FONFILE FONT_JA\n// #MSGCODING UNICODE\n// #FILETYPE 1\n"
    "// #APPLITYPE 2a\n"
    "#message 1 MSG_HELLO \"\\x30\\x53\\x30\\x93\\x30\\x6B\\x30\\x61\\x30\\x6F\\xD8\\x42\\xDF\\x9F"
    "\\x00\\x0A\"\n"
    "#message 2 MSG_SAVED \"0x00 0x25 0x00 0x64 0x4F 0xDD 0x5B 0x58 0x00 0x25 0x00 0x73\"\n";

class TranslateTools : public ::testing::Test {
 protected:
  void SetUp() override {
    write_file(dir_ / "en.h", kEnglish);
    write_file(dir_ / "fr.h", kFrench);
    write_file(dir_ / "ja.h", kJapanese);
  }

  RunResult translate(const std::vector<std::string>& args) {
    return run_binary(TOLVANE_TRANSLATE_BINARY, args, dir_.path(), time_limit(60));
  }
  RunResult tool(const char* binary, const std::vector<std::string>& args) {
    return run_binary(binary, args, dir_.path(), time_limit(60));
  }
  void expect_ok(const RunResult& result, const std::string& what) {
    EXPECT_EQ(result.exit_code, 0) << what << "\n" << result.out << result.err;
  }

  // The MSG file Tolvane builds from `source` alone, in a folder of its own
  // so that the catalogue's name is the same for every source.
  std::string built_table(const std::string& source) {
    const std::string folder = dir_ / ("build-" + source);
    make_dir(folder);
    write_file(folder + "/" + source, read_file(dir_ / source));
    const RunResult built = run_tolvane({"-c", "-t" + source, "-hnames.h", "t.msg"}, folder);
    EXPECT_EQ(built.exit_code, 0) << built.out << built.err;
    return read_file(folder + "/t.msg");
  }

  TempDir dir_;
};

TEST_F(TranslateTools, ExportedFilesAreAcceptedByGettextAndTranslateToolkit) {
  expect_ok(translate({"export", "--charset", "CP1252", "en.h", "-o", "app.pot"}), "template");
  expect_ok(
      translate({"export", "--charset", "CP1252", "--translation", "fr.h", "en.h", "-o", "fr.po"}),
      "PO");
  expect_ok(translate({"export", "--format", "xliff", "--charset", "CP1252", "--translation",
                       "fr.h", "en.h", "-o", "fr.xlf"}),
            "XLIFF");
  for (const char* po : {"app.pot", "fr.po"}) {
    expect_ok(tool(MSGFMT, {"-c", "-o", "/dev/null", po}), po);
  }
  expect_ok(tool(XMLLINT, {"--noout", "fr.xlf"}), "xmllint");

  const std::string po = read_file(dir_ / "fr.po");
  EXPECT_NE(po.find("#. Greeting on the first screen.\n#. At most 20 characters.\n"
                    "#: en.h:8\nmsgctxt \"MSG_HELLO\"\n"),
            std::string::npos)
      << po;
  EXPECT_NE(po.find("#, c-format\nmsgctxt \"MSG_SAVED\""), std::string::npos);
  EXPECT_NE(po.find("msgstr \"21\xC2\xB0"
                    "C \xC2\xABti\xC3\xA8"
                    "de\xC2\xBB\""),
            std::string::npos);
  EXPECT_EQ(po.find("MSG_TITLE"), std::string::npos);  // no text, no message
  EXPECT_EQ(po.find("POT-Creation-Date"), std::string::npos);
  expect_ok(translate({"export", "--charset", "CP1252", "--translation", "fr.h", "en.h", "-o",
                       "again.po"}),
            "again");
  EXPECT_EQ(read_file(dir_ / "again.po"), po) << "a second export differs";

  // xliff2po turns the XLIFF into the same entries, in the same order.
  expect_ok(tool(XLIFF2PO, {"fr.xlf", "from-xliff.po"}), "xliff2po");
  const TranslationFile ours = read_po(dir_ / "fr.po");
  const TranslationFile theirs = read_po(dir_ / "from-xliff.po");
  ASSERT_EQ(ours.entries.size(), 4u);
  ASSERT_EQ(theirs.entries.size(), ours.entries.size());
  for (size_t i = 0; i < ours.entries.size(); ++i) {
    EXPECT_EQ(theirs.entries[i].source, ours.entries[i].source);
    EXPECT_EQ(theirs.entries[i].target, ours.entries[i].target);
    EXPECT_EQ(theirs.entries[i].fuzzy, ours.entries[i].fuzzy);
    EXPECT_EQ(theirs.entries[i].notes, ours.entries[i].notes);
  }
  EXPECT_TRUE(ours.entries[3].target.empty());  // MSG_LATER
}

TEST_F(TranslateTools, RoundTripsGiveByteIdenticalTables) {
  struct Case {
    const char* source;
    const char* charset;
    const char* format;
  };
  for (const Case& c : {Case{"fr.h", "CP1252", "po"}, Case{"fr.h", "CP1252", "xliff"},
                        Case{"ja.h", nullptr, "po"}, Case{"ja.h", nullptr, "xliff"}}) {
    SCOPED_TRACE(std::string(c.source) + " " + c.format);
    const std::string file = std::string("out.") + c.format;
    std::vector<std::string> charset;
    if (c.charset != nullptr) charset = {"--charset", c.charset};
    std::vector<std::string> out = {
        "export", "--format", c.format, "--reference-charset", "CP1252", "--translation", c.source,
        "en.h",   "-o",       file};
    out.insert(out.end(), charset.begin(), charset.end());
    expect_ok(translate(out), "export");
    std::vector<std::string> in = {
        "import",       "--reference", "en.h", "--reference-charset", "CP1252",
        "--directives", c.source,      "-o",   "imported.h",          file};
    in.insert(in.end(), charset.begin(), charset.end());
    const RunResult imported = translate(in);
    expect_ok(imported, "import");
    EXPECT_NE(imported.err.find(file + ": " + (c.source == std::string("fr.h") ? "3" : "2") +
                                " translated"),
              std::string::npos)
        << imported.err;
    EXPECT_EQ(built_table("imported.h"), built_table(c.source));
  }
  // The source is plain ASCII, with the text in UTF-8 in a comment above.
  EXPECT_NE(read_file(dir_ / "imported.h").find("// \xE3\x81\x93\xE3\x82\x93"), std::string::npos);
}

TEST_F(TranslateTools, MsgmergeMarksAChangedTextFuzzyAndImportLeavesItOut) {
  expect_ok(
      translate({"export", "--charset", "CP1252", "--translation", "fr.h", "en.h", "-o", "fr.po"}),
      "PO");
  std::string english = kEnglish;
  english.replace(english.find("Saved %d files"), 5, "Wrote");
  write_file(dir_ / "en.h", english);
  expect_ok(translate({"export", "--charset", "CP1252", "en.h", "-o", "app.pot"}), "template");
  expect_ok(tool(MSGMERGE, {"--quiet", "--previous", "-o", "merged.po", "fr.po", "app.pot"}),
            "msgmerge");
  EXPECT_NE(
      read_file(dir_ / "merged.po")
          .find(
              "#, fuzzy, c-format\n#| msgctxt \"MSG_SAVED\"\n#| msgid \"Saved %d files to %s\"\n"),
      std::string::npos)
      << read_file(dir_ / "merged.po");

  const std::vector<std::string> import = {"import", "--reference",  "en.h", "--charset",
                                           "CP1252", "--directives", "fr.h", "merged.po",
                                           "-o",     "new.h"};
  RunResult result = translate(import);
  expect_ok(result, "import");
  EXPECT_EQ(result.err,
            "merged.po: 2 translated, 1 fuzzy left out, 1 untranslated left "
            "out\n");
  EXPECT_EQ(read_file(dir_ / "new.h").find("MSG_SAVED"), std::string::npos);

  std::vector<std::string> with_fuzzy = import;
  with_fuzzy.push_back("--fuzzy");
  result = translate(with_fuzzy);
  expect_ok(result, "import --fuzzy");
  EXPECT_NE(result.err.find("3 translated (1 of them fuzzy)"), std::string::npos) << result.err;
  EXPECT_NE(read_file(dir_ / "new.h").find("#message 2 MSG_SAVED \"%d fichiers enregistr\\351s"),
            std::string::npos);
}

TEST_F(TranslateTools, RefusalsSayWhereAndLeaveNoFile) {
  write_file(dir_ / "bad.po", "msgctxt \"MSG_HELLO\"\nmsgid \"Hello\\n\"\nmsgstr \"x\" 42\n");
  write_file(dir_ / "bad.xlf",
             "<?xml version=\"1.0\"?>\n<xliff version=\"1.2\">\n<file><body>\n"
             "<trans-unit id=\"MSG_HELLO\"><source>a</source></file>\n</xliff>\n");
  write_file(dir_ / "ja.po",
             "msgid \"\"\nmsgstr \"Content-Type: text/plain; charset=UTF-8\\n\"\n\n"
             "msgctxt \"MSG_LATER\"\nmsgid \"Later\"\nmsgstr \"\xE5\xBE\x8C\xE3\x81\xA7\"\n");
  const std::vector<std::string> import = {"import",    "--reference", "en.h",
                                           "--charset", "CP1252",      "--directives",
                                           "fr.h",      "-o",          "out.h"};
  struct Case {
    std::vector<std::string> args;
    int code;
    std::string message;
  };
  std::vector<Case> cases = {
      {{"bad.po"}, 1, "bad.po:3: syntax error"},
      {{"bad.xlf"}, 1, "bad.xlf:4: mismatched tag"},
      {{"ja.po"},
       1,
       "ja.po:4: MSG_LATER: the character U+5F8C (\xE5\xBE\x8C) is not in the character set "
       "CP1252"},
      {{"--charset", "NO-SUCH-SET", "ja.po"}, 2, "unknown character set \"NO-SUCH-SET\""},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = import;
    args.insert(args.end(), c.args.begin(), c.args.end());
    const RunResult result = translate(args);
    EXPECT_EQ(result.exit_code, c.code) << result.err;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    EXPECT_FALSE(file_exists(dir_ / "out.h")) << c.message;
  }
  // The output is never one of the inputs, however it is spelled.
  const RunResult same = translate({"export", "--charset", "CP1252", "en.h", "-o", "./en.h"});
  EXPECT_EQ(same.exit_code, 2);
  EXPECT_EQ(read_file(dir_ / "en.h"), kEnglish);
  // Without a charset a non-ASCII byte text is refused at its line.
  const RunResult ascii = translate({"export", "en.h", "-o", "out.pot"});
  EXPECT_EQ(ascii.exit_code, 1);
  EXPECT_NE(ascii.err.find("en.h:10: MSG_DEGREES: the byte 0xB0 is not ASCII"), std::string::npos)
      << ascii.err;
  EXPECT_FALSE(file_exists(dir_ / "out.pot"));
  EXPECT_EQ(list_dir(dir_.path()),
            (std::vector<std::string>{"bad.po", "bad.xlf", "en.h", "fr.h", "ja.h", "ja.po"}));
}

TEST_F(TranslateTools, WhatIsLeftOutIsReported) {
  // Import: an entry the reference has no name for, a plural one, an empty one.
  write_file(dir_ / "fr.po",
             "msgid \"\"\nmsgstr \"Content-Type: text/plain; charset=UTF-8\\n\"\n\n"
             "msgctxt \"MSG_GONE\"\nmsgid \"Gone\"\nmsgstr \"Parti\"\n\n"
             "msgctxt \"MSG_LATER\"\nmsgid \"Later\"\nmsgid_plural \"Laters\"\n"
             "msgstr[0] \"Plus tard\"\nmsgstr[1] \"Plus tards\"\n\n"
             "msgctxt \"MSG_HELLO\"\nmsgid \"Hello\\n\"\nmsgstr \"\"\n");
  const RunResult imported = translate({"import", "--reference", "en.h", "--charset", "CP1252",
                                        "--directives", "fr.h", "fr.po", "-o", "out.h"});
  expect_ok(imported, "import");
  EXPECT_EQ(imported.err,
            "tolvane-translate: fr.po:4: MSG_GONE: the reference en.h has no message of that "
            "name; left out\n"
            "tolvane-translate: fr.po:8: MSG_LATER: has plural forms, which a table cannot hold; "
            "left out\n"
            "fr.po: 0 translated, 0 fuzzy left out, 4 untranslated left out, "
            "1 unknown left out, 1 plural left out\n");
  const std::string french = kFrench;
  EXPECT_EQ(read_file(dir_ / "out.h"), french.substr(0, french.find("#message")));

  // Export: a 0x00 inside a text fits neither format; a bell fits PO only.
  write_file(dir_ / "odd.h",
             "// #LANGUAGE EN\n// #FONFILE F\n// #MSGCODING B\n// #FILETYPE 1\n// #APPLITYPE 2\n"
             "#message 1 M_NUL \"a\\0b\"\n#message 2 M_BELL \"ring\\a\"\n");
  const RunResult po = translate({"export", "odd.h", "-o", "odd.pot"});
  expect_ok(po, "PO");
  EXPECT_EQ(po.err,
            "tolvane-translate: odd.h:6: M_NUL: its text holds a 0x00 byte before its end, which "
            "no translation file can carry; left out\n");
  EXPECT_NE(read_file(dir_ / "odd.pot").find("msgid \"ring\\a\""), std::string::npos);
  const RunResult xliff = translate({"export", "--format", "xliff", "odd.h", "-o", "odd.xlf"});
  expect_ok(xliff, "XLIFF");
  EXPECT_NE(xliff.err.find("odd.h:7: M_BELL: its text holds a control character XML cannot "
                           "carry; left out"),
            std::string::npos)
      << xliff.err;
  expect_ok(tool(XMLLINT, {"--noout", "odd.xlf"}), "xmllint");
  EXPECT_EQ(read_file(dir_ / "odd.xlf").find("M_BELL"), std::string::npos);
}

TEST_F(TranslateTools, PseudoLanguageKeepsFormatsAsLintSeesThem) {
  expect_ok(translate({"pseudo", "--charset", "CP1252", "en.h", "-o", "xa.h"}), "pseudo");
  const std::string pseudo = read_file(dir_ / "xa.h");
  EXPECT_NE(pseudo.find("// #LANGUAGE XA\n"), std::string::npos);
  EXPECT_NE(pseudo.find("// [\xC5\xA0\xC3\xA5v\xC3\xA9\xC3\xB0 %d \xC6\x92"), std::string::npos)
      << pseudo;
  EXPECT_NE(pseudo.find("\\n\"\n"), std::string::npos);  // the line feed after the bracket
  const RunResult first = run_tolvane({"-c", "-ten.h", "-hnames.h", "app.msg"}, dir_.path());
  const RunResult second = run_tolvane({"-txa.h", "-hnames.h", "app.msg"}, dir_.path());
  ASSERT_EQ(first.exit_code + second.exit_code, 0) << first.out << second.out;
  const RunResult lint =
      run_binary(TOLVANE_DUMP_BINARY, {"--lint", "app.msg"}, dir_.path(), time_limit(60));
  EXPECT_EQ(lint.exit_code, 0) << lint.out;
  EXPECT_EQ(lint.out, "No findings.\n");
}

}  // namespace
}  // namespace tolvane::testing
