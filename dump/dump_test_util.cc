#include "dump/dump_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "msgfile/coding.h"
#include "msgfile/records.h"

namespace tolvane::dump::testing {

using tolvane::testing::read_file;
using tolvane::testing::run_tolvane;
using tolvane::testing::RunResult;
using tolvane::testing::write_file;

std::string build_catalogue(const tolvane::testing::TempDir& dir,
                            const std::vector<std::string>& sources, const std::string& msg_name) {
  for (size_t i = 0; i < sources.size(); ++i) {
    std::string source = "source" + std::to_string(i) + ".h";
    write_file(dir / source, sources[i]);
    std::vector<std::string> args;
    if (i == 0) args.push_back("-c");
    args.push_back("-t" + source);
    args.push_back("-hnames.h");
    args.push_back(msg_name);
    RunResult run = run_tolvane(args, dir.path());
    EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
  }
  return read_file(dir / msg_name);
}

RunResult run_dump(const std::vector<std::string>& args, const std::string& cwd) {
  return tolvane::testing::run_binary(TOLVANE_DUMP_BINARY, args, cwd);
}

void put16(std::string* bytes, uint64_t offset, uint32_t value) {
  encode_u16(bytes->data() + offset, value);
}

void put32(std::string* bytes, uint64_t offset, uint32_t value) {
  encode_u32(bytes->data() + offset, value);
}

std::string table_block(const std::string& catalogue, size_t record) {
  ByteReader in(catalogue);
  MsgFileHeader header;
  read_header(in, &header);
  uint32_t tables = 0;
  for (int i = 0; i < header.language_count; ++i) {
    LanguageEntry entry;
    read_language_entry(in, &entry);
    tables += entry.table_count;
  }
  std::vector<uint32_t> starts;
  uint32_t begin = 0;
  uint32_t count = 0;
  for (uint32_t i = 0; i < tables; ++i) {
    TableRecord r;
    read_table_record(in, &r);
    if (r.message_count > 0) starts.push_back(r.index_offset);
    if (i == record) {
      begin = r.index_offset;
      count = r.message_count;
    }
  }
  if (count == 0) return "";
  uint64_t end = catalogue.size();
  for (uint32_t start : starts) {
    if (start > begin) end = std::min<uint64_t>(end, start);
  }
  return catalogue.substr(begin, end - begin);
}

}  // namespace tolvane::dump::testing
