#pragma once
// A usage map: a bitmap of pages, kept in a row of a data page. Either the
// bitmap follows in the row itself after its first page number (type 0), or
// the row lists pages of type 05 that each hold the bitmap of 32,736 pages
// (type 1). A table has two: the pages it owns and those of them with free
// space; the database has one on page 1, of the pages that are free.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/jet/page_edit.h"
#include "platform/jet/table_def.h"

namespace kw::jet {

class UsageMap {
 public:
  // `what` names the map in errors ("the pages of table 'X'").
  static UsageMap Read(PageStore& store, RowRef where, std::string what);

  // Every page whose bit is set, in ascending order; a bit of a page beyond
  // the end of the file is the damaged-file error.
  std::vector<uint32_t> Pages(PageStore& store) const;
  // Sets or clears page n's bit in `edit`. False, with nothing changed, when
  // the map has no bit for page n.
  bool Mark(PageEdit& edit, uint32_t n, bool on) const;

 private:
  struct Bit {
    uint32_t page;
    size_t byte;
    uint8_t mask;
  };
  std::optional<Bit> Locate(uint32_t n) const;

  RowRef where_;
  std::string what_;
  uint8_t type_ = 0;
  size_t rowStart_ = 0, rowEnd_ = 0;  // the row's bytes on its page
  uint32_t firstPage_ = 0;            // type 0
  std::vector<uint32_t> mapPages_;    // type 1: 0 where there is none
};

}  // namespace kw::jet
