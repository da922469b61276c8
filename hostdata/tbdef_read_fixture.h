#pragma once
// What the tests of the table-definition reader share: byte helpers and a
// fixture with one client's definition file in memory.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "hostdata/tbdef_read.h"
#include "hostdata/tbdef_test_support.h"
#include "tools/sample/def_writer.h"

namespace kw::tbdef_test {

using sample::DefFileContent;
using sample::DefTable;

inline std::string Le16(int v) { return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8 & 0xFF)}; }
inline std::string Le32(int64_t v) {
  return Le16(static_cast<int>(v & 0xFFFF)) + Le16(static_cast<int>(v >> 16 & 0xFFFF));
}

inline void Patch(std::string& bytes, size_t offset, const std::string& with) {
  bytes.replace(offset, with.size(), with);
}

// Offset of the first occurrence of a text as stored (2-byte length, bytes).
inline size_t StoredText(const std::string& bytes, const std::string& text) {
  const size_t at = bytes.find(Le16(static_cast<int>(text.size())) + text);
  EXPECT_NE(at, std::string::npos) << text;
  return at;
}

class TbDefReadTest : public ::testing::Test {
 protected:
  TbDefReadTest() {
    m.DataDir = "C:\\Orbica\\Daten\\";
    m.PublicDir = m.DataDir + "Public\\";
    m.MandantDir = m.DataDir + "M001\\";
    m.AdoSettingsCount = 4;
    m.AdoSettings.resize(5);
    m.AdoSettings[3].DBName = "NoltData";
  }
  std::string DefPath() const { return m.MandantDir + "NoltData.def"; }
  void PutFile(std::string bytes) { t.fs.Add(DefPath(), std::move(bytes)); }
  void PutTables(std::vector<DefTable> tables, int32_t tableMax = 40) {
    DefFileContent f;
    f.TableMax = tableMax;
    f.tables = std::move(tables);
    PutFile(sample::DefFileBytes(f));
  }
  bool Read(int16_t table, bool withColumns = false) {
    return TbDefRead(t.p, m, files, s, table, withColumns, true);
  }
  bool AllClosed() {
    for (const auto& f : files.open)
      if (f) return false;
    const auto* e = t.fs.Find(DefPath());
    return !e || !e->lockedByUs;
  }

  TestPlatform t;
  KwandorModul m;
  FileTable files;
  TbDefState s;
};

}  // namespace kw::tbdef_test
