#include "msgfile/catalogue_plan.h"

#include <gtest/gtest.h>

#include <random>

#include "driver/run.h"
#include "platform/fake_file_system.h"
#include "test_util/test_util.h"

namespace tolvane {
namespace {

// One step added to a catalogue lays out the header area exactly as the
// single-table rebuild does, and places the new block after the old ones;
// random catalogues of a few languages, tables of no or some messages.
TEST(CataloguePlan, OneAddedTableIsTheSingleRunsHeaderArea) {
  std::mt19937 random(5);
  const char* const languages[] = {"EN", "FR", "JA"};
  for (int scenario = 0; scenario < 60; ++scenario) {
    SCOPED_TRACE("scenario " + std::to_string(scenario));
    FakeFileSystem fs;
    const int runs = static_cast<int>(random() % 6);
    for (int i = 0; i < runs; ++i) {
      std::string body;
      for (int n = static_cast<int>(random() % 4); n > 0; --n) {
        const std::string id = std::to_string(random() % 9);
        body += "#message " + id + " M" + id + " \"" + std::string(random() % 5, 'x') + "\"\n";
      }
      fs.set_file("s.h", testing::message_source(languages[random() % 3], body));
      testing::RecordingConsole console;
      std::vector<std::string> args = {"-ts.h", "-hn.h", "app.msg"};
      if (i == 0) args.insert(args.begin(), "-c");
      ASSERT_EQ(run_tolvane(args, fs, console), 0) << console.out;
    }
    Catalogue old;
    if (runs > 0) {
      auto file = fs.open("app.msg", OpenMode::kRead);
      ASSERT_FALSE(read_catalogue(*file, "APP.MSG", &old));
    } else {
      set_chars(old.header.name, kNameWidth, "APP.MSG");
    }
    const std::string language = languages[random() % 3];
    TableRecord record;
    record.type_key = 0x1002a;
    set_chars(record.font_file, kFontFileWidth, "FONT");
    const uint64_t block_size = 2 * (random() % 20);
    record.message_count = static_cast<uint16_t>(block_size / 10);

    HeaderArea area;
    plan_header_area(old, "APP.MSG", language, record, &area);
    std::string want = area.bytes;
    std::string final_record;
    TableRecord placed = area.new_record;
    placed.message_count = record.message_count;
    write_table_record(&final_record, placed);
    want.replace(area.record_pos, final_record.size(), final_record);

    CataloguePlan plan(old, "APP.MSG");
    ASSERT_TRUE(plan.add_step(language, record.type_key, false));
    plan.finish_planning();
    EXPECT_EQ(plan.file_size_after(0, block_size), area.data_start + block_size);
    plan.set_block(0, record, block_size);
    EXPECT_EQ(plan.header_area(), want);
    const BlockSlot& slot = plan.slot(plan.step(0).slot);
    EXPECT_TRUE(slot.placed);
    EXPECT_EQ(slot.position, area.data_start);
  }
}

}  // namespace
}  // namespace tolvane
