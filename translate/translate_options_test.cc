#include "translate/translate_options.h"

#include <gtest/gtest.h>

#include "base/failure.h"
#include "test_util/test_util.h"

namespace tolvane::translate {
namespace {

TEST(TranslateOptions, ReadsEachCommandsOperandsAndOptions) {
  TranslateOptions o = parse_translate_options(
      {"export", "--format=xliff", "--charset", "CP1252", "--translation", "fr.h", "en.h"});
  EXPECT_EQ(o.command, Command::kExport);
  EXPECT_EQ(o.format, Format::kXliff);
  EXPECT_EQ(o.reference, "en.h");
  EXPECT_EQ(o.reference_charset_name(), "CP1252");  // the same unless given
  o = parse_translate_options({"import", "--reference", "en.h", "--language", "FR", "--font", "F",
                               "--coding", "CP1252", "--file-type", "1", "--application-type",
                               "0x2a", "--reference-charset", "ISO-8859-1", "fr.po"});
  EXPECT_EQ(o.translation, "fr.po");
  EXPECT_EQ(o.reference_charset_name(), "ISO-8859-1");
  o = parse_translate_options({"pseudo", "--expand", "50", "en.h"});
  EXPECT_EQ(o.pseudo_language, "XA");
  EXPECT_EQ(o.expand, 50u);
}

TEST(TranslateOptions, RefusesWhatCannotBeFollowed) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {},
           {"translate", "en.h"},
           {"export"},
           {"export", "en.h", "fr.h"},
           {"export", "--format", "csv", "en.h"},
           {"export", "--fuzzy", "en.h"},
           {"import", "fr.po"},                         // no --reference
           {"import", "--reference", "en.h", "fr.po"},  // no directives
           {"import", "--reference", "en.h", "--directives", "fr.h", "--language", "FR", "fr.po"},
           {"import", "--reference", "en.h", "--language", "FR", "--font", "F", "--coding", "C",
            "--file-type", "1g", "--application-type", "2", "fr.po"},
           {"pseudo", "--translation", "fr.h", "en.h"},
           {"pseudo", "--expand", "-5", "en.h"},
           {"export", "--charset", "", "en.h"},
       }) {
    const Failure failure = testing::catch_failure([&] { parse_translate_options(args); });
    EXPECT_EQ(failure.kind(), FailureKind::kUsage) << ::testing::PrintToString(args);
  }
}

}  // namespace
}  // namespace tolvane::translate
