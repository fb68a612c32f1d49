// Many sources in one run (-l) and tables replaced (-r), in memory: each
// gives exactly the files the runs it stands for give, one after the other.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "driver/run.h"
#include "platform/fake_file_system.h"
#include "platform/interrupt.h"
#include "test_util/test_util.h"
#include "tolvane_version.h"

namespace tolvane {
namespace {

using testing::message_source;
using testing::RecordingConsole;

const std::string kBanner = std::string("Tolvane v") + kVersion + "\n";

using Result = testing::MemoryRun;
using testing::run_in;

std::map<std::string, std::string> snapshot(const FakeFileSystem& fs) {
  std::map<std::string, std::string> files;
  for (const std::string& name : fs.list_files()) fs.get_file(name, &files[name]);
  return files;
}

std::vector<std::string> sorted_lines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t at = 0; at < text.size();) {
    const size_t end = text.find('\n', at);
    lines.push_back(text.substr(at, end - at));
    at = end == std::string::npos ? text.size() : end + 1;
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

std::string list_of(const std::vector<std::string>& sources) {
  std::string list = "# the sources, in order\n\n";
  for (const std::string& source : sources) list += "  " + source + "\r\n";
  return list;
}

// A random source: a few languages and types, byte and UNICODE tables,
// identifiers shared with other sources or its own, second names for some,
// sometimes no text at all.
std::string random_source(std::mt19937& random, bool may_be_empty = true) {
  static const char* const kLanguages[] = {"EN", "FR", "JA", "DE"};
  auto pick = [&](int n) { return static_cast<int>(random() % n); };
  const bool unicode = pick(2) == 0;
  std::string body;
  const int count = may_be_empty && pick(4) == 0 ? 0 : 1 + pick(12);
  for (int i = 0; i < count; ++i) {
    const int id = pick(3) == 0 ? 1000 + pick(50) : pick(20);
    const std::string name = " MSG_" + std::to_string(id);
    std::string text;
    for (int n = pick(6); n > 0; --n) {
      text += unicode ? "\\x" + std::to_string(10 + pick(80)) : std::string(1, 'a' + pick(26));
    }
    body += "#message " + std::to_string(id) + name + " \"" + text + "\"\n";
    if (pick(10) == 0)
      body += "#message " + std::to_string(id) + " ALSO_" + std::to_string(id) + "\n";
  }
  return message_source(kLanguages[pick(4)], body, unicode ? "UNICODE" : "ISO8859",
                        "FONT" + std::to_string(pick(3)), std::to_string(1 + pick(3)), "2a");
}

// The sequence of single runs a list stands for: -c on the first when asked.
void run_one_by_one(FakeFileSystem& fs, const std::vector<std::string>& sources, bool create,
                    bool replace, std::string* out) {
  for (size_t i = 0; i < sources.size(); ++i) {
    std::vector<std::string> args;
    if (create && i == 0) args.push_back("-c");
    if (replace) args.push_back("-r");
    args.insert(args.end(), {"-t" + sources[i], "-hinc/names.h", "out/app.msg"});
    Result r = run_in(fs, args);
    ASSERT_EQ(r.code, 0) << r.out << r.err;
    *out += r.err;
  }
}

TEST(ListRun, GivesTheFilesOfTheRunsItStandsForOverRandomLists) {
  std::mt19937 random(20231);
  for (int scenario = 0; scenario < 150; ++scenario) {
    SCOPED_TRACE("scenario " + std::to_string(scenario));
    FakeFileSystem one_by_one, listed;
    std::vector<std::string> sources, in_list;
    // Half the lists start from a catalogue and names header built before.
    const bool create = random() % 2 == 0;
    const bool replace = !create && random() % 2 == 0;
    // An empty table does not say when it was added among others at its
    // offset, so replacing one is only exact when the tables are not empty.
    const int count = 1 + static_cast<int>(random() % 8);
    for (int i = 0; i < count; ++i) {
      const std::string text = random_source(random, !replace);
      sources.push_back("src/s" + std::to_string(i) + ".h");
      in_list.push_back("s" + std::to_string(i) + ".h");
      one_by_one.set_file(sources.back(), text);
      listed.set_file(sources.back(), text);
    }
    if (!create) {
      const std::string old = random_source(random, !replace);
      const std::string old2 = random_source(random, !replace);
      for (FakeFileSystem* fs : {&one_by_one, &listed}) {
        fs->set_file("old.h", old);
        fs->set_file("old2.h", old2);
        ASSERT_EQ(run_in(*fs, {"-c", "-told.h", "-hinc/names.h", "out/app.msg"}).code, 0);
        ASSERT_EQ(run_in(*fs, {"-told2.h", "-hinc/names.h", "out/app.msg"}).code, 0);
      }
    }
    std::string warnings;
    run_one_by_one(one_by_one, sources, create, replace, &warnings);
    listed.set_file("src/app.lst", list_of(in_list));
    std::vector<std::string> args;
    if (create) args.push_back("-c");
    if (replace) args.push_back("-r");
    args.insert(args.end(), {"-lsrc/app.lst", "-hinc/names.h", "out/app.msg"});
    Result r = run_in(listed, args);
    ASSERT_EQ(r.code, 0) << r.out << r.err;
    std::string reads;
    for (const std::string& source : sources) reads += "  read " + source + "\n";
    EXPECT_EQ(r.out, kBanner + reads + "  build OUT/APP.MSG\n.. end\n");
    // The same findings and warnings; one run tells the sources' findings
    // first, then the tables' warnings.
    EXPECT_EQ(sorted_lines(r.err), sorted_lines(warnings));
    auto expected = snapshot(one_by_one);
    expected["src/app.lst"] = list_of(in_list);
    ASSERT_EQ(snapshot(listed), expected);
  }
}

TEST(ListRun, OnTheDiskGivesTheFilesOfTheRunsItStandsFor) {
  // On the disk, worker threads read the sources from their files while the
  // build writes the ones before: what in memory they read from a copy.
  std::mt19937 random(4417);
  testing::TempDir listed, one_by_one;
  std::vector<std::string> sources;
  std::string large;
  for (int id = 0; id < 6000; ++id) {
    large += "#message " + std::to_string(id) + " M" + std::to_string(id) + " \"text " +
             std::to_string(id * 7) + "\"\n";
  }
  for (int i = 0; i < 9; ++i) {
    const std::string text = i == 4 ? message_source("EN", large) : random_source(random, false);
    sources.push_back("s" + std::to_string(i) + ".h");
    for (const testing::TempDir* dir : {&listed, &one_by_one}) {
      testing::write_file(*dir / sources.back(), text);
    }
  }
  for (size_t i = 0; i < sources.size(); ++i) {
    std::vector<std::string> args = {"-t" + sources[i], "-hnames.h", "app.msg"};
    if (i == 0) args.insert(args.begin(), "-c");
    ASSERT_EQ(testing::run_tolvane(args, one_by_one.path()).exit_code, 0);
  }
  testing::write_file(listed / "app.lst", list_of(sources));
  const testing::RunResult r =
      testing::run_tolvane({"-c", "-lapp.lst", "-hnames.h", "app.msg"}, listed.path());
  ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_EQ(testing::read_file(listed / "app.msg"), testing::read_file(one_by_one / "app.msg"));
  EXPECT_EQ(testing::read_file(listed / "names.h"), testing::read_file(one_by_one / "names.h"));
}

TEST(ReplaceRun, GivesTheFileOfTheSequenceWithTheNewSourceInPlaceOfTheOld) {
  std::mt19937 random(777);
  int replaced = 0;
  for (int scenario = 0; scenario < 60; ++scenario) {
    SCOPED_TRACE("scenario " + std::to_string(scenario));
    std::vector<std::string> texts;
    const int count = 2 + static_cast<int>(random() % 8);
    for (int i = 0; i < count; ++i) texts.push_back(random_source(random));
    // Every source that is the first of its language and type is replaced
    // in turn: the first, a middle and the last table of a language.
    std::map<std::string, bool> seen;
    for (int i = 0; i < count; ++i) {
      const std::string key = texts[i].substr(0, texts[i].find("// #APPLITYPE"));
      const std::string language = key.substr(0, key.find('\n'));
      const std::string type = key.substr(key.find("// #FILETYPE"));
      if (seen[language + type]) continue;
      seen[language + type] = true;
      // An empty table does not say when it was added among the others at
      // its offset: only one that holds texts has one place to be replaced in.
      if (texts[i].find('"') == std::string::npos) continue;
      SCOPED_TRACE("replacing source " + std::to_string(i));
      std::string edited = random_source(random);
      edited = language + "\n" + edited.substr(edited.find('\n') + 1);
      edited = edited.substr(0, edited.find("// #FILETYPE")) + type +
               edited.substr(edited.find("// #APPLITYPE"));
      FakeFileSystem rebuilt, in_place;
      for (int k = 0; k < count; ++k) {
        rebuilt.set_file("s" + std::to_string(k) + ".h", k == i ? edited : texts[k]);
        in_place.set_file("s" + std::to_string(k) + ".h", texts[k]);
      }
      in_place.set_file("new.h", edited);
      std::vector<std::string> names;
      for (int k = 0; k < count; ++k) names.push_back("s" + std::to_string(k) + ".h");
      std::string ignored;
      run_one_by_one(rebuilt, names, true, false, &ignored);
      run_one_by_one(in_place, names, true, false, &ignored);
      Result r = run_in(in_place, {"-r", "-tnew.h", "-hinc/names.h", "out/app.msg"});
      ASSERT_EQ(r.code, 0) << r.out << r.err;
      EXPECT_EQ(r.err.find("warning: the new table"), std::string::npos) << r.err;
      std::string want, got;
      rebuilt.get_file("out/app.msg", &want);
      in_place.get_file("out/app.msg", &got);
      ASSERT_EQ(got, want);
      ++replaced;
    }
  }
  EXPECT_GT(replaced, 100);
}

TEST(ReplaceRun, AddsTheTableWhenNoneHasItsLanguageAndType) {
  FakeFileSystem replaced, added;
  for (FakeFileSystem* fs : {&replaced, &added}) {
    fs->set_file("en.h", message_source("EN", "#message 1 A \"a\"\n"));
    fs->set_file("fr.h", message_source("FR", "#message 1 A \"b\"\n", "UNICODE"));
    fs->set_file("en3.h", message_source("EN", "#message 2 B \"c\"\n", "ISO8859", "F", "3"));
    ASSERT_EQ(run_in(*fs, {"-c", "-ten.h", "-hn.h", "app.msg"}).code, 0);
  }
  for (const char* source : {"-tfr.h", "-ten3.h"}) {
    EXPECT_EQ(run_in(replaced, {"-r", source, "-hn.h", "app.msg"}).code, 0);
    EXPECT_EQ(run_in(added, {source, "-hn.h", "app.msg"}).code, 0);
  }
  EXPECT_EQ(snapshot(replaced), snapshot(added));
}

TEST(SecondTable, IsKeptAndTheRunWarnsThatALookupNeverReachesIt) {
  FakeFileSystem fs;
  fs.set_file("fr.h", message_source("FR", "#message 1 A \"a\"\n"));
  fs.set_file("fr_other_type.h", message_source("FR", "#message 1 A \"a\"\n", "ISO8859", "F", "7"));
  fs.set_file("list", "fr.h\nfr_other_type.h\nfr.h\n");
  Result r = run_in(fs, {"-c", "-llist", "-hn.h", "app.msg"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.err,
            "fr.h: warning: the new table FR:3 has the language and type of FR:1, and a lookup of "
            "the first matching table never reaches it; -r replaces FR:1 instead\n");
  // With -r the same list replaces FR:1 instead, and says nothing.
  r = run_in(fs, {"-r", "-llist", "-hn.h", "app.msg"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.err, "");
}

TEST(ListRun, AFailingSourceLeavesEverythingAsItWas) {
  struct Case {
    std::string source, message;
  };
  const Case cases[] = {
      {message_source("FR", "#message 1 A \"a\"\n#message x B \"b\"\n"),
       "  Error in src/bad.h: 1 error\n"},
      {message_source("FR", "#message 1 A \"\\x\"\n"),
       "Error : src/bad.h: \\x: hex constants must have at least one hex digit\n"},
      {"no directive\n",
       "  Error in src/bad.h:specify the name of the language to create:\n    ex :// #LANGUAGE "
       "EN\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    FakeFileSystem fs;
    fs.set_file("src/en.h", message_source("EN", "#message 1 A \"a\"\n"));
    fs.set_file("src/de.h", message_source("DE", "#message 2 B \"b\"\n"));
    ASSERT_EQ(run_in(fs, {"-c", "-tsrc/en.h", "-hnames.h", "app.msg"}).code, 0);
    fs.set_file("src/bad.h", c.source);
    fs.set_file("src/list.txt", "de.h\nbad.h\nen.h\n");
    const auto before = snapshot(fs);
    Result r = run_in(fs, {"-lsrc/list.txt", "-hnames.h", "app.msg"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, kBanner +
                         "  read src/de.h\n  read src/bad.h\n  read src/en.h\n  build "
                         "APP.MSG\n" +
                         c.message);
    EXPECT_EQ(snapshot(fs), before);
  }
}

TEST(ListRun, NothingAfterTheFailingSourceIsTheFailureReported) {
  // Sources after the failing one may already be read when it fails: a file
  // operation on them that fails then is never what the run reports.
  auto prepare = [](FakeFileSystem& fs) {
    std::string body;
    for (int id = 0; id < 400; ++id) {
      body += "#message " + std::to_string(id) + " M" + std::to_string(id) + " \"text\"\n";
    }
    fs.set_file("en.h", message_source("EN", body));
    fs.set_file("bad.h", message_source("FR", "#message 1 M1 \"a\"\n#message x B \"b\"\n"));
    fs.set_file("de.h", message_source("DE", body));
    fs.set_file("ja.h", message_source("JA", body));
    fs.set_file("list", "en.h\nbad.h\nde.h\nja.h\n");
  };
  FakeFileSystem clean;
  prepare(clean);
  const Result expected = run_in(clean, {"-c", "-llist", "-hn.h", "x.msg"});
  ASSERT_EQ(expected.code, 1);
  ASSERT_NE(expected.err.find("bad.h:7:"), std::string::npos) << expected.err;
  // For each later source: 0 before the plan reads its directive lines, 1
  // while it does (until it closes the file), 2 after.
  std::map<std::string, int> stage;
  for (long n = 1; n <= clean.operations(); ++n) {
    FakeFileSystem fs;
    prepare(fs);
    fs.fail_at(n, false);
    const Result r = run_in(fs, {"-c", "-llist", "-hn.h", "x.msg"});
    const std::string at = fs.injected_at();
    const std::string path = at.substr(at.find(' ') + 1);
    // The plan looks at every source's directive lines before any source is
    // read: what fails there is the run's failure.
    if (path != "de.h" && path != "ja.h") continue;
    int& step = stage[path];
    if (step == 0 && at.rfind("read ", 0) == 0) {
      step = 1;
    } else if (step == 1 && at.rfind("close ", 0) == 0) {
      step = 2;
    } else if (step == 2) {
      SCOPED_TRACE("failure at operation " + std::to_string(n) + ": " + at);
      EXPECT_EQ(r.code, 1);
      EXPECT_EQ(r.out, expected.out);
      EXPECT_EQ(r.err, expected.err);
    }
  }
}

TEST(ListRun, CommandLineMistakesAreUsageFailures) {
  FakeFileSystem fs;
  fs.set_file("en.h", message_source("EN", ""));
  fs.set_file("list", "en.h\n");
  fs.set_file("empty", "# nothing\n\n");
  fs.set_file("wrong", "en.h\nen.txt\n");
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"-llist", "-ten.h", "-hn.h", "a.msg"},
       "Error : -l and -t cannot be used together: the list names every source\n"},
      {{"-c", "-r", "-ten.h", "-hn.h", "a.msg"},
       "Error : -r and -c cannot be used together: -r replaces a table of a MSG file\n"},
      {{"-lmissing", "-hn.h", "a.msg"}, "Error : missing does not exist or cannot be opened\n"},
      {{"-lempty", "-hn.h", "a.msg"}, "Error : empty names no message source\n"},
      {{"-lwrong", "-hn.h", "a.msg"}, "Error : en.txt is not a h file:\n"},
      {{"-llist", "-hen.h", "a.msg"},
       "Error : the message source en.h and the names header en.h are the same file\n"},
  };
  for (const auto& [args, message] : cases) {
    Result r = run_in(fs, args);
    EXPECT_EQ(r.code, 1);
    // A list run is a build's and never waits for a key; the others do.
    const bool list = args[0].rfind("-l", 0) == 0;
    EXPECT_EQ(r.out, kBanner + message + (list ? "" : "press key..<pause>"));
  }
}

TEST(ListRun, AnInterruptAtAnyOperationUndoesEverythingOrLetsTheRunStand) {
  auto prepare = [](FakeFileSystem& fs) {
    fs.set_file("en.h", message_source("EN", "#message 1 A \"a\"\n"));
    fs.set_file("fr.h", message_source("FR", "#message 2 B \"b\"\n#message 1 A \"c\"\n"));
    fs.set_file("ja.h", message_source("JA", "#message 3 C \"\\x30\\x53\"\n", "UNICODE"));
    fs.set_file("list", "fr.h\nja.h\nen.h\n");
    fs.set_file("n.h", "#define A 1\n");
  };
  FakeFileSystem clean;
  prepare(clean);
  ASSERT_EQ(run_in(clean, {"-c", "-ten.h", "-hn.h", "x.msg"}).code, 0);
  const auto before = snapshot(clean);
  const long start = clean.operations();
  ASSERT_EQ(run_in(clean, {"-r", "-llist", "-hn.h", "x.msg"}).code, 0);
  const long operations = clean.operations() - start;
  const auto built = snapshot(clean);
  bool undone = false, stood = false;
  for (long n = 1; n <= operations; ++n) {
    SCOPED_TRACE("interrupt at operation " + std::to_string(n));
    FakeFileSystem fs;
    prepare(fs);
    ASSERT_EQ(run_in(fs, {"-c", "-ten.h", "-hn.h", "x.msg"}).code, 0);
    fs.interrupt_at(fs.operations() + n, SIGINT);
    Result r = run_in(fs, {"-r", "-llist", "-hn.h", "x.msg"});
    EXPECT_EQ(interrupt_signal(), SIGINT);
    set_interrupt_signal(0);
    if (r.code == 1) {
      undone = true;
      EXPECT_EQ(r.err, "Interrupted: X.MSG and n.h are as they were\n");
      EXPECT_EQ(snapshot(fs), before);
    } else {
      stood = true;
      EXPECT_EQ(snapshot(fs), built);
    }
    if (HasFailure()) break;
  }
  EXPECT_TRUE(undone && stood);
}

}  // namespace
}  // namespace tolvane
