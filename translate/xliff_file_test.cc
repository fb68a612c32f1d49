#include "translate/xliff_file.h"

#include <gtest/gtest.h>

#include "base/failure.h"
#include "test_util/test_util.h"

namespace tolvane::translate {
namespace {

TranslationEntry entry(const char* name, const char* source, const char* target, bool fuzzy) {
  TranslationEntry entry;
  entry.name = name;
  entry.source = source;
  entry.target = target;
  entry.fuzzy = fuzzy;
  return entry;
}

TEST(XliffFile, ReadsBackWhatItWritesWithStatesAndNotes) {
  TranslationFile file;
  file.source_language = "en";
  file.target_language = "fr";
  TranslationEntry done = entry("MSG_A", "a <b> & \"c\"\r\n", "\xC3\xA9t\xC3\xA9", false);
  done.notes = {"first", "second"};
  const TranslationEntry review = entry("MSG_B", "b", "bb", true);
  const TranslationEntry empty = entry("MSG_C", "c", "", false);
  file.entries = {done, review, empty};
  const TranslationFile back = read_xliff(write_xliff(file, "en.h"), "x.xlf");
  EXPECT_EQ(back.target_language, "fr");
  ASSERT_EQ(back.entries.size(), 3u);
  EXPECT_EQ(back.entries[0].source, "a <b> & \"c\"\r\n");
  EXPECT_EQ(back.entries[0].target, "\xC3\xA9t\xC3\xA9");
  EXPECT_EQ(back.entries[0].notes, done.notes);
  EXPECT_FALSE(back.entries[0].fuzzy);
  EXPECT_TRUE(back.entries[1].fuzzy);
  EXPECT_TRUE(back.entries[2].target.empty());
  EXPECT_EQ(back.entries[1].line, 12);  // the first source takes two lines
}

TEST(XliffFile, MalformedFilesAreRefusedWithTheirLine) {
  const Failure failure = testing::catch_failure(
      [] { read_xliff("<?xml version=\"1.0\"?>\n<xliff>\n<file><body>\n</xliff>\n", "fr.xlf"); });
  EXPECT_EQ(failure.message(), "fr.xlf:4: mismatched tag");
  const Failure other = testing::catch_failure([] { read_xliff("<html></html>", "page.xlf"); });
  EXPECT_NE(other.message().find("no XLIFF"), std::string::npos);
  EXPECT_FALSE(xml_can_hold("bell\a"));
  EXPECT_TRUE(xml_can_hold("tab\tline\n"));
}

}  // namespace
}  // namespace tolvane::translate
