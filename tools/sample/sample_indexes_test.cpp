// The sample's Jet files carry the product's primary keys and indexes, none
// of them on a column the program converts.
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>

#include "tests/jet_readers.h"
#include "tools/sample/installation.h"

namespace kw::sample {
namespace {

namespace jr = kw::jet_readers;

struct IndexCase {
  const char* table;
  std::function<void(const std::string&)> write;
  std::vector<std::string> indexes;  // name: columns
};

TEST(SampleIndexesTest, JetTablesHaveTheProductsKeysAndIndexes) {
  ASSERT_EQ(jr::MissingReaders(), "");
  const std::string file = "/tmp/kw_sample_indexes_" + std::to_string(getpid()) + ".mdb";
  const std::vector<IndexCase> cases = {
      {"PLZSTM", [](const std::string& f) { WritePostalCodes(f, 3000, 7, DbFormat::kJet); },
       {"PLZ: PLZ", "PRIMARY KEY: PLZNR"}},
      {"ADRSTM", [](const std::string& f) { WriteAddresses(f, 3000, 7, DbFormat::kJet); },
       {"NAME: NAME VORNAME", "PRIMARY KEY: ADRNR"}},
  };
  for (const IndexCase& c : cases) {
    c.write(file);
    const auto schema = jr::MdbSchema(file);
    ASSERT_EQ(schema.size(), 1u);
    EXPECT_EQ(schema[0].name, c.table);
    std::vector<std::string> indexes;
    for (const auto& i : schema[0].indexes) {
      std::string s = i.name + ":";
      for (const auto& col : i.columns) s += " " + col;
      indexes.push_back(s);
    }
    std::sort(indexes.begin(), indexes.end());
    EXPECT_EQ(indexes, c.indexes) << c.table;
    EXPECT_EQ(jr::NodeRead(file).at(0).rows.size(), 3000u) << c.table;
  }
  std::remove(file.c_str());
}

}  // namespace
}  // namespace kw::sample
