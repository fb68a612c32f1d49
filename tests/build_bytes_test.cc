// Whole runs in memory write the very bytes that msgfile/'s pieces lay out
// (test_util/catalogue_bytes.h), on which the tests of the layers below the
// programs build their catalogues.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "driver/run.h"
#include "msgfile/records.h"
#include "platform/fake_file_system.h"
#include "test_util/catalogue_bytes.h"
#include "test_util/test_util.h"

namespace tolvane {
namespace {

using testing::add_table;
using testing::TestTable;

// Runs the tool once on app.msg with a source of `table`'s language and texts
// (which must need no escapes), and returns the file.
std::string build(FakeFileSystem& fs, bool create, const TestTable& table,
                  const std::string& coding = "ISO8859") {
  std::string body;
  for (const auto& [id, text] : table.texts) {
    body += "#message " + std::to_string(id) + " M" + std::to_string(id) + " \"" + text + "\"\n";
  }
  fs.set_file("src.h", testing::message_source(table.language, body, coding));
  testing::RecordingConsole console;
  std::vector<std::string> args = {"-tsrc.h", "-hNames.h", "app.msg"};
  if (create) args.insert(args.begin(), "-c");
  EXPECT_EQ(run_tolvane(args, fs, console), 0) << console.out << console.err;
  std::string bytes;
  EXPECT_TRUE(fs.get_file("app.msg", &bytes));
  return bytes;
}

// Random runs of a few languages, tables of no or some messages, identifiers
// repeated.
TEST(BuildBytes, RunsAddTheTablesTheTestHelperLaysOut) {
  std::mt19937 random(11);
  const char* const languages[] = {"EN", "FR", "JA"};
  for (int scenario = 0; scenario < 20; ++scenario) {
    SCOPED_TRACE("scenario " + std::to_string(scenario));
    FakeFileSystem fs;
    std::string laid_out;
    for (int run = 0; run < 4; ++run) {
      TestTable table;
      table.language = languages[random() % 3];
      for (int n = static_cast<int>(random() % 4); n > 0; --n) {
        table.texts.emplace_back(static_cast<int32_t>(random() % 9),
                                 std::string(random() % 5, 'x'));
      }
      laid_out = add_table(laid_out, table);
      ASSERT_EQ(build(fs, run == 0, table), laid_out);
    }
  }
}

// A file of no language, a UNICODE table: the tool takes the file as it is.
TEST(BuildBytes, AFileWithoutLanguagesAndAUnicodeTable) {
  std::string bytes;
  MsgFileHeader header;
  set_chars(header.name, kNameWidth, "OTHER.MSG");
  write_header(&bytes, header);
  FakeFileSystem fs;
  fs.set_file("app.msg", bytes);
  const std::string built = build(fs, false, {"EN", {{1, "a"}}});
  EXPECT_EQ(built, add_table(bytes, {"EN", {{1, "a"}}}));
  EXPECT_EQ(built.substr(2, 11), "\x01\x01OTHER.MSG");
  EXPECT_EQ(build(fs, false, {"JA", {{2, "\\x00\\x41"}}}, "UNICODE"),
            add_table(built, {"JA", {{2, std::string("\0A", 2)}}, kUnicodeCoding}));
}

}  // namespace
}  // namespace tolvane
