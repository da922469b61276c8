#pragma once
// Writes a sample installation of the host product into a Wine-style prefix:
// the registry value naming the data directory, the drive links, the general
// database with its postal-code master and, for each client, its directory
// with database, profile file and table definitions, and the client list.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tools/sample/table_sink.h"

namespace kw::sample {

// Indexes holding the area codes, beside the product's own: none; TELVOR
// alone; or TELVOR alone and with other columns (PLZSTM on (LAND, TELVOR),
// ADRSTM on (PLZ, FAXVOR, NAME)).
enum class AreaCodeIndexes { kNone, kAlone, kAloneAndWithOthers };

struct SampleClient {
  std::string name;
  std::string directory;       // relative to the data directory, as public.pro stores it
  std::string version = "6.4";  // "" writes no Version key
  bool withDatabase = true;
  bool withDefinition = true;
  int64_t rows = 1000;
};

struct SampleInstallation {
  std::string prefix;                  // host path of the prefix to create
  std::string dataDir = "D:\\Daten\\";  // the registry value; "" writes none
  int64_t plzRows = 5000;
  std::vector<SampleClient> clients;
  uint32_t seed = 1;
  DbFormat format = DbFormat::kSqlite;  // of Public.mdb and every NoltData.mdb
  AreaCodeIndexes areaCodeIndexes = AreaCodeIndexes::kNone;
};

// A realistic set of clients: most at 6.4 or later, one older, one without a
// name, one without a database.
std::vector<SampleClient> DefaultClients(int count, int64_t rowsPerClient);

// Creates the prefix (the folder may exist; files are replaced).
void WriteInstallation(const SampleInstallation& setup);

// Host path of a Windows path below the prefix's drives C: and D:.
std::string HostPath(const std::string& prefix, const std::string& windowsPath);

// What a postal-code master may have beyond the product's: further indexes
// (it always has the primary key PLZNR and the index PLZ), and a change to
// each generated row before it is written (its values in the order LAND,
// PLZ, ORT, TELVOR, KANTON, GEAENDERT; row counts from 0).
struct PostalCodesExtra {
  std::vector<SinkIndex> indexes;
  std::function<void(int64_t row, std::vector<std::optional<std::string>>& values)> edit;
};

// The postal-code master's indexes of its area codes.
PostalCodesExtra PostalCodesIndexing(AreaCodeIndexes indexes);

// The databases alone, for tests and benchmarks.
void WritePostalCodes(const std::string& hostPath, int64_t rows, uint32_t seed,
                      DbFormat format = DbFormat::kSqlite, const PostalCodesExtra& extra = {});
void WriteAddresses(const std::string& hostPath, int64_t rows, uint32_t seed,
                    DbFormat format = DbFormat::kSqlite, AreaCodeIndexes indexes = AreaCodeIndexes::kNone);

}  // namespace kw::sample
