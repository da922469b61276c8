#pragma once
// The postal-code master PLZSTM as a Jet file of any size with the indexes a
// test asks for, for the tests of the engine's index work:
//
//   MemoryJet jet(PostalFile(200000, {kTelvorIndex, kLandTelvorIndex}));
//
// Its columns and rows are the sample generator's (tools/sample/): PLZNR
// (autonumber, the primary key), LAND, PLZ, ORT, TELVOR, KANTON, GEAENDERT,
// about a third of the rows Swiss with TELVOR "01"; the product's index PLZ
// is always there. The file is written by our Jet writer.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/jet_test_support.h"
#include "tests/support/temp_dir.h"
#include "tools/sample/installation.h"

namespace kw::jet::test {

using PostalIndex = sample::SinkIndex;
using PostalRowEdit = decltype(sample::PostalCodesExtra::edit);

inline const PostalIndex kTelvorIndex{"Telvor", {"TELVOR"}};
inline const PostalIndex kLandTelvorIndex{"LandTelvor", {"LAND", "TELVOR"}};
inline const PostalIndex kPlzTelvorOrtIndex{"PlzTelvorOrt", {"PLZ", "TELVOR", "ORT"}};
inline const PostalIndex kUniqueTelvorIndex{"TelvorUnique", {"TELVOR"}, true};
inline const PostalIndex kDescendingTelvorIndex{"TelvorAb", {"TELVOR"}, false, {"TELVOR"}};

// The bytes of a PLZSTM file of `rows` rows with the indexes given besides
// PLZNR and PLZ; `edit` may change each row before it is written (a unique
// index on TELVOR needs TELVOR of its own in each row: DistinctTelvor).
inline std::vector<uint8_t> PostalFile(int64_t rows, const std::vector<PostalIndex>& indexes,
                                       const PostalRowEdit& edit = {}, uint32_t seed = 7) {
  const kw::testing::TempDir dir;
  const std::string path = dir / "Public.mdb";
  sample::WritePostalCodes(path, rows, seed, sample::DbFormat::kJet, {indexes, edit});
  return ReadBytes(path);
}

// A TELVOR that no other row has and no conversion looks for: "X" and the
// row's number in four letters and digits (rows 0 to 36^4 - 1).
inline std::string DistinctTelvor(int64_t row) {
  static constexpr char kDigits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  if (row < 0 || row >= 36 * 36 * 36 * 36) throw std::out_of_range("no distinct TELVOR for row " + std::to_string(row));
  std::string code = "X0000";
  for (size_t i = code.size() - 1; i > 0 && row > 0; --i, row /= 36) code[i] = kDigits[row % 36];
  return code;
}

}  // namespace kw::jet::test
