#pragma once
// A usage map: a bitmap of pages, kept in a row of a data page. Either the
// bitmap follows in the row itself after its first page number (type 0,
// "inline"), or the row lists pages of type 05 that each hold the bitmap of
// 32,736 pages (type 1, "reference"). A table has two: the pages it owns and
// those of them with free space; the database has one on page 1, of the
// pages that are free.
//
// The map is read from its row each time it is used, so that a change
// built in an edit that is then thrown away leaves nothing behind here.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/jet/page_edit.h"
#include "platform/jet/table_def.h"

namespace kw::jet {

class UsageMap {
 public:
  // Checks the map once; `what` names it in errors ("the pages of table 'X'").
  static UsageMap Read(PageStore& store, RowRef where, std::string what);

  // Every page whose bit is set, in ascending order; a bit of a page beyond
  // the end of the file is the damaged-file error.
  std::vector<uint32_t> Pages(PageStore& store) const;
  // Sets or clears page n's bit in `edit`. False, with nothing changed, when
  // the map has no bit for page n.
  bool Mark(PageEdit& edit, uint32_t n, bool on) const;
  // Sets page n's bit in `edit`, making room for it where the map has none,
  // as Jet does: a reference map gets a new map page (appended to the file,
  // and given in `newMapPages`) for the slice of pages that holds n; an
  // inline map moves its first page nearer to n, or becomes a reference map
  // when its pages and n are too far apart for that. False, with nothing
  // changed, when even that leaves no room (a file beyond 2 GiB).
  bool Add(PageEdit& edit, uint32_t n, std::vector<uint32_t>& newMapPages) const;

 private:
  // The map as its row holds it now.
  struct View {
    uint8_t type = 0;
    size_t start = 0, end = 0;       // the row's bytes on its page
    uint32_t firstPage = 0;          // type 0
    std::vector<uint32_t> mapPages;  // type 1: 0 where there is none
  };
  View Parse(const PageBytes& page, const std::string& file) const;
  std::vector<uint32_t> PagesOf(const View& v, const std::function<const PageBytes&(uint32_t)>& page,
                                const std::string& file, uint32_t pageCount) const;
  bool Promote(PageEdit& edit, const View& v, const std::vector<uint32_t>& pages,
               std::vector<uint32_t>& newMapPages) const;

  RowRef where_;
  std::string what_;
};

}  // namespace kw::jet
