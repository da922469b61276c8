#pragma once
// Helpers of the Jet engine's tests: the shared test files, an engine over
// one in-memory file, a conversion pass as the run makes it (in memory or
// over a file on disk), and the tables of a file as mdbtools' mdb-export
// reads them.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/fakes/fake_clock.h"
#include "platform/jet/file_page_store.h"
#include "platform/jet/file_store_test_support.h"
#include "platform/jet/jet_engine.h"
#include "platform/jet/memory_page_store.h"
#include "platform/text_compare.h"

namespace kw::jet::test {

inline std::string JetFile(const std::string& relative) { return std::string(KW_TEST_DATA) + "/jet/" + relative; }

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), {});
}

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// An engine over one in-memory file.
struct MemoryJet {
  explicit MemoryJet(std::vector<uint8_t> bytes, JetEngineOptions options = {})
      : store("D:\\Daten\\test.mdb", std::move(bytes)),
        engine([this](std::string_view) { return std::make_unique<BorrowedStore>(store); }, clock, options) {}
  MemoryPageStore store;
  FakeClock clock;
  JetEngine engine;
};

// The replacement pass as the run makes it; the number of rows changed.
inline long ConvertPass(DatabaseEngine& engine, const std::string& table, const std::string& column,
                        const std::string& newValue = "044", const std::string& oldValue = "01") {
  auto db = engine.OpenDatabase("D:\\Daten\\test.mdb", false, false);
  auto rs = db->OpenRecordset("SELECT * FROM " + table + " WHERE " + table + ".LAND = 'CH' AND " + table + "." +
                                  column + " = '" + oldValue + "'",
                              2);
  long n = 0;
  while (!rs->Eof()) {
    rs->Edit();
    rs->SetValue(column, newValue);
    rs->GetValue("PLZ");
    rs->GetValue("ORT");
    rs->Update();
    rs->MoveNext();
    ++n;
  }
  rs->Close();
  db->Close();
  return n;
}

// Converts TELVOR of PLZSTM in `bytes`, written to a file in dir, through the
// real file store: the error's text ("" when none), and in *after the file's
// bytes afterwards. No journal may be left beside it.
inline std::string ConvertFile(const std::vector<uint8_t>& bytes, const jet::testing::ScratchDir& dir,
                               std::vector<uint8_t>* after) {
  const std::string path = dir / "Public.mdb";
  jet::testing::WriteAll(path, bytes);
  FakeClock clock;
  JetEngine engine([&](std::string_view name) { return FilePageStore::Open(path, std::string(name)); }, clock);
  std::string error;
  try {
    ConvertPass(engine, "PLZSTM", "TELVOR");
  } catch (const RunError& e) {
    error = e.Description();
  }
  *after = jet::testing::ReadAll(path);
  EXPECT_FALSE(jet::testing::Exists(path + "-journal"));
  return error;
}

// mdb-export's lines of one table (header first, then the rows sorted).
inline std::vector<std::string> Export(const std::string& path, const std::string& table) {
  const std::string cmd = "mdb-export -d '\\t' -q '' '" + path + "' '" + table + "' 2>&1";
  std::vector<std::string> lines;
  if (FILE* p = popen(cmd.c_str(), "r")) {
    std::string line;
    for (int c; (c = fgetc(p)) != EOF;) {
      if (c == '\n') {
        lines.push_back(line);
        line.clear();
      } else {
        line += static_cast<char>(c);
      }
    }
    if (!line.empty()) lines.push_back(line);
    pclose(p);
  }
  if (lines.size() > 1) std::sort(lines.begin() + 1, lines.end());
  return lines;
}

inline std::vector<std::string> Split(const std::string& line) {
  std::vector<std::string> out(1);
  for (char c : line) {
    if (c == '\t') out.emplace_back();
    else out.back() += c;
  }
  return out;
}

// The export of `before` with the pass's change made by hand.
inline std::vector<std::string> Expected(const std::vector<std::string>& before, const std::string& column,
                                  const std::string& from, const std::string& to, long* changed) {
  std::vector<std::string> out = before;
  const std::vector<std::string> header = Split(before.at(0));
  const size_t land = std::find(header.begin(), header.end(), "LAND") - header.begin();
  const size_t col = std::find(header.begin(), header.end(), column) - header.begin();
  *changed = 0;
  for (size_t i = 1; i < out.size(); ++i) {
    std::vector<std::string> cells = Split(out[i]);
    if (cells.size() != header.size() || !JetTextEqual(cells[land], "CH") || cells[col] != from) continue;
    cells[col] = to;
    ++*changed;
    std::string line;
    for (size_t k = 0; k < cells.size(); ++k) line += (k ? "\t" : "") + cells[k];
    out[i] = line;
  }
  std::sort(out.begin() + 1, out.end());
  return out;
}

inline std::vector<std::string> Tables(const std::string& path) {
  std::vector<std::string> out;
  if (FILE* p = popen(("mdb-tables -1 '" + path + "'").c_str(), "r")) {
    char buf[512];
    while (fgets(buf, sizeof buf, p)) {
      std::string s(buf);
      while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
      if (!s.empty()) out.push_back(s);
    }
    pclose(p);
  }
  return out;
}

}  // namespace kw::jet::test
