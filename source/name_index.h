// Names, each with the identifier and the place it was first given, held in
// one piece of memory: tens of thousands of them cost neither an allocation
// each nor more than a probe or two to look up.
#ifndef TOLVANE_SOURCE_NAME_INDEX_H_
#define TOLVANE_SOURCE_NAME_INDEX_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane {

class NameIndex {
 public:
  struct Entry {
    uint64_t hash = 0;              // of the name
    uint32_t offset = 0, size = 0;  // of the name in the index's memory
    int64_t id = 0;
    long line = 0;  // where it was first given
  };

  // Adds `name`, given as `id` at `line`, unless it is there already.
  // Returns the name's first entry: this one when it is new.
  const Entry& add(std::string_view name, int64_t id, long line);
  // Forgets every name, keeping the memory for the next ones.
  void clear();
  // Makes room for `count` names, so that adding them grows nothing.
  void reserve(size_t count);
  // The first entry of `name`, or null.
  const Entry* find(std::string_view name) const;
  // One entry per name, in the order first given.
  const std::vector<Entry>& entries() const { return entries_; }
  std::string_view name(const Entry& entry) const {
    return std::string_view(names_).substr(entry.offset, entry.size);
  }

 private:
  // The slot of `name` in slots_: the one holding it, or the empty one
  // where it goes.
  size_t slot(std::string_view name, uint64_t hash) const;
  // The part of `hash` a slot keeps, above the entry index.
  uint32_t tag(uint64_t hash) const;
  // Puts every entry in `slots` new slots.
  void rehash(size_t slots);

  std::string names_;
  std::vector<Entry> entries_;
  // Open addressing on four bytes a slot, so that a table of a source's
  // names stays small enough for the cache: entry index + 1 in the bits
  // below the slot count (at most three quarters of the slots are taken),
  // the hash's high bits above them; 0 for an empty slot. Most probes end
  // without touching an entry.
  std::vector<uint32_t> slots_;
  uint32_t mask_ = 0;  // slots_.size() - 1
};

}  // namespace tolvane

#endif  // TOLVANE_SOURCE_NAME_INDEX_H_
