// How one run that takes several sources lays out the new catalogue: exactly
// as the same runs, one source each, made one after the other would have.
//
// Each source is a step that adds a table (a new language's entry and record
// last; a known language's record after its others) or, when asked, takes
// the place of the first table of its language and type. The new file is
// the header area of the last step, then the blocks in the order the tables
// were first added: the old file's blocks, where a replaced one gives its
// place to the new block, then the blocks the run adds. The plan is made
// from the sources' directive lines alone; the blocks' sizes come in as the
// sources are read, and with them where every block lies.
#ifndef TOLVANE_MSGFILE_CATALOGUE_PLAN_H_
#define TOLVANE_MSGFILE_CATALOGUE_PLAN_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/failure.h"
#include "msgfile/catalogue.h"
#include "msgfile/records.h"

namespace tolvane {

// A place in the new file's data area, in file order.
struct BlockSlot {
  // A piece of the old file carried over unchanged: [old_begin, old_end).
  // For a replaced old block, the range it held.
  bool carried = false;
  uint64_t old_begin = 0, old_end = 0;
  int step = -1;  // the step whose block fills it (the last one to replace it)
  bool size_known = false;
  uint64_t size = 0;
  bool placed = false;  // position is final
  uint64_t position = 0;
};

// What one step does to the catalogue.
struct PlannedStep {
  size_t slot = 0;                 // where its block goes
  bool replaces = false;           // it takes the place of a table
  int previous_step = -1;          // the step whose block it takes the place of
  uint64_t previous_size = 0;      // the size of an old block it takes the place of
  uint64_t header_area = 0;        // size of the header area after the step
  std::string table;               // the table it writes, such as "FR:2"
  std::string same_as;             // an added table's earlier twin of its language and type
  std::optional<Failure> refusal;  // the format's limits the step would break
};

class CataloguePlan {
 public:
  // `name` is the MSG file as messages show it.
  CataloguePlan(const Catalogue& old, std::string name);

  // Plans the next step. Returns false, with the step's refusal set, when it
  // would break the format's limits; no further step may then be planned.
  bool add_step(const std::string& language, uint32_t type_key, bool replace);
  size_t steps() const { return steps_.size(); }
  const PlannedStep& step(size_t i) const { return steps_[i]; }

  // Once every step is planned: the order of the slots in the file.
  void finish_planning();
  // Records the size of a step's block and the table record its source
  // gives (message_count included), and places every slot whose place is
  // now known. Steps are read in order.
  void set_block(size_t step, const TableRecord& record, uint64_t block_size);
  // The size of the file right after `step`, were its block `block_size`
  // bytes; the steps before it must have been read, and not `step` itself.
  uint64_t file_size_after(size_t step, uint64_t block_size) const;
  const BlockSlot& slot(size_t i) const { return slots_[i]; }
  // Slots in file order.
  const std::vector<size_t>& order() const { return order_; }

  // The final header area; every slot must be placed.
  std::string header_area() const;
  uint64_t header_area_size() const;

 private:
  struct Table {
    int old_table = -1;  // carried over as it was, from Catalogue::tables
    size_t slot = 0;     // otherwise the slot of its block
    uint32_t type_key = 0;
  };
  struct Language {
    char code[kLanguageWidth] = {};
    std::vector<Table> tables;
  };
  uint64_t old_table_position(size_t old_table) const;
  void place();

  const Catalogue& old_;
  std::string name_;
  uint64_t old_area_ = 0;
  std::vector<Language> languages_;
  size_t table_total_ = 0;
  std::vector<BlockSlot> slots_;
  std::vector<size_t> new_slots_;  // slots of added tables, in the order added
  std::vector<size_t> cuts_;       // slots of replaced old blocks
  std::vector<size_t> pieces_;     // carried pieces of the old file, in file order
  std::vector<uint64_t> step_sizes_;
  uint64_t blocks_total_ = 0;  // the data area's size after the last step read
  std::vector<PlannedStep> steps_;
  std::vector<TableRecord> records_;  // per step, once read
  std::vector<size_t> order_;
  size_t placed_until_ = 0;  // slots of order_ before this one are placed
  uint64_t next_position_ = 0;
};

}  // namespace tolvane

#endif  // TOLVANE_MSGFILE_CATALOGUE_PLAN_H_
