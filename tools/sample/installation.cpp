#include "tools/sample/installation.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <random>
#include <stdexcept>

#include "tools/sample/def_writer.h"
#include "tools/sample/public_pro_writer.h"
#include "tools/sample/sample_files.h"
#include "tools/sample/table_sink.h"

namespace kw::sample {
namespace {

namespace fs = std::filesystem;

struct Place {
  const char* land;
  const char* plz;
  const char* ort;
  const char* telvor;
};

// Places of the old area code 01 (Zürich and around).
constexpr Place kZurich[] = {
    {"CH", "8001", "Zürich", "01"},         {"CH", "8002", "Zürich", "01"},
    {"CH", "8003", "Zürich", "01"},         {"CH", "8004", "Zürich", "01"},
    {"CH", "8005", "Zürich", "01"},         {"CH", "8006", "Zürich", "01"},
    {"CH", "8008", "Zürich", "01"},         {"CH", "8032", "Zürich", "01"},
    {"CH", "8037", "Zürich", "01"},         {"CH", "8038", "Zürich", "01"},
    {"CH", "8041", "Zürich", "01"},         {"CH", "8044", "Zürich", "01"},
    {"CH", "8045", "Zürich", "01"},         {"CH", "8046", "Zürich", "01"},
    {"CH", "8047", "Zürich", "01"},         {"CH", "8048", "Zürich", "01"},
    {"CH", "8049", "Zürich", "01"},         {"CH", "8050", "Zürich", "01"},
    {"CH", "8051", "Zürich", "01"},         {"CH", "8052", "Zürich", "01"},
    {"CH", "8053", "Zürich", "01"},         {"CH", "8055", "Zürich", "01"},
    {"CH", "8057", "Zürich", "01"},         {"CH", "8064", "Zürich", "01"},
    {"CH", "8102", "Oberengstringen", "01"}, {"CH", "8103", "Unterengstringen", "01"},
    {"CH", "8104", "Weiningen ZH", "01"},   {"CH", "8105", "Regensdorf", "01"},
    {"CH", "8134", "Adliswil", "01"},       {"CH", "8135", "Langnau am Albis", "01"},
    {"CH", "8142", "Uitikon Waldegg", "01"}, {"CH", "8152", "Glattbrugg", "01"},
    {"CH", "8153", "Rümlang", "01"},        {"CH", "8302", "Kloten", "01"},
    {"CH", "8304", "Wallisellen", "01"},    {"CH", "8305", "Dietlikon", "01"},
    {"CH", "8600", "Dübendorf", "01"},      {"CH", "8700", "Küsnacht ZH", "01"},
    {"CH", "8702", "Zollikon", "01"},       {"CH", "8703", "Erlenbach ZH", "01"},
    {"CH", "8800", "Thalwil", "01"},        {"CH", "8802", "Kilchberg ZH", "01"},
    {"CH", "8803", "Rüschlikon", "01"},     {"CH", "8810", "Horgen", "01"},
    {"CH", "8902", "Urdorf", "01"},         {"CH", "8952", "Schlieren", "01"},
    {"CH", "8953", "Dietikon", "01"},
};

// Swiss places with other area codes, and values that must stay as they are.
constexpr Place kSwiss[] = {
    {"CH", "3011", "Bern", "031"},        {"CH", "3600", "Thun", "033"},
    {"CH", "4001", "Basel", "061"},       {"CH", "1201", "Genève", "022"},
    {"CH", "1003", "Lausanne", "021"},    {"CH", "6003", "Luzern", "041"},
    {"CH", "9000", "St. Gallen", "071"},  {"CH", "8400", "Winterthur", "052"},
    {"CH", "7000", "Chur", "081"},        {"CH", "6900", "Lugano", "091"},
    {"CH", "2000", "Neuchâtel", "032"},   {"CH", "1700", "Fribourg", "026"},
    {"CH", "5000", "Aarau", "062"},       {"CH", "8200", "Schaffhausen", "052"},
    {"CH", "6300", "Zug", "041"},         {"CH", "1950", "Sion", "027"},
    {"CH", "2502", "Biel/Bienne", "032"}, {"CH", "8500", "Frauenfeld", "052"},
    {"CH", "4500", "Solothurn", "032"},   {"CH", "8620", "Wetzikon ZH", "01"},
    {"CH", "8001", "Zürich", "044"},      {"CH", "8050", "Zürich", "043"},
    {"CH", "8610", "Uster", "010"},       {"CH", "8340", "Hinwil", "1"},
};

// Other countries, some with an area code 01 of their own.
constexpr Place kForeign[] = {
    {"A", "1010", "Wien", "01"},        {"A", "6020", "Innsbruck", "0512"},
    {"F", "75001", "Paris", "01"},      {"D", "80331", "München", "089"},
    {"D", "78462", "Konstanz", "07531"}, {"FL", "9490", "Vaduz", "075"},
    {"I", "20121", "Milano", "02"},
};

constexpr const char* kFirst[] = {"Anna", "Beat", "Claudia", "Daniel", "Eva", "Felix", "Gabriela",
                                  "Hans", "Irène", "Jürg", "Käthi", "Lukas", "Monika", "Niklaus",
                                  "Olivia", "Peter", "Regula", "Stefan", "Ursula", "Werner"};
constexpr const char* kLast[] = {"Müller", "Meier", "Schmid", "Keller", "Weber", "Huber",
                                 "Schneider", "Meyer", "Steiner", "Fischer", "Gerber", "Brunner",
                                 "Baumann", "Frei", "Zimmermann", "Moser", "Widmer", "Graf"};
constexpr const char* kStreets[] = {"Bahnhofstrasse", "Dorfstrasse", "Hauptstrasse",
                                    "Seestrasse", "Kirchweg", "Schulhausstrasse", "Im Grüt",
                                    "Rosenweg", "Industriestrasse", "Limmatquai"};

template <class T, size_t N>
const T& Pick(const T (&a)[N], std::mt19937& rng) {
  return a[rng() % N];
}

// About a third of all rows are Swiss rows with "01"; the rest mixes other
// Swiss codes, values that only look alike, and other countries.
const Place& PickPlace(std::mt19937& rng) {
  const auto r = rng() % 6;
  if (r < 2) return Pick(kZurich, rng);
  if (r < 5) return Pick(kSwiss, rng);
  return Pick(kForeign, rng);
}

std::string Digits(std::mt19937& rng, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += static_cast<char>('0' + rng() % 10);
  return s;
}

void WriteRegistry(const SampleInstallation& setup) {
  std::string system =
      "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win64\n\n";
  if (!setup.dataDir.empty()) {
    std::string escaped;
    for (char c : setup.dataDir) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
    system += "[Software\\\\Wow6432Node\\\\Nolt\\\\Orbica-Kontor 5\\\\Settings] 1796740065\n"
              "#time=1dd87204af0262c\n\"NoltDataDir\"=\"" + escaped + "\"\n\n";
  }
  WriteFile(setup.prefix + "/system.reg", system);
  WriteFile(setup.prefix + "/user.reg",
            "WINE REGISTRY Version 2\n;; All keys relative to "
            "REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n\n#arch=win64\n\n");
}

void Link(const std::string& target, const std::string& link) {
  fs::remove(link);
  fs::create_directory_symlink(target, link);
}

void WriteClients(const SampleInstallation& setup, const std::string& dataDir) {
  std::vector<MandantRecord> list;
  uint32_t seed = setup.seed;
  for (const SampleClient& c : setup.clients) {
    list.push_back({c.name, c.directory});
    const std::string dir = HostPath(setup.prefix, dataDir + c.directory + "\\");
    fs::create_directories(dir);
    std::string ini = "[AdoMand]\r\nProvider=Microsoft.Jet.OLEDB.4.0;\r\nDBName=NoltData\r\n"
                      "DBExtension=.mdb\r\n";
    if (!c.version.empty()) ini += "Version=" + c.version + "\r\n";
    WriteFile(dir + "NoltData.ini", ini);
    if (c.withDatabase) WriteAddresses(dir + "NoltData.mdb", c.rows, ++seed, setup.format, setup.areaCodeIndexes);
    if (c.withDefinition) WriteFile(dir + "NoltData.def", SampleAddressDefinitionFile());
  }
  WriteFile(HostPath(setup.prefix, dataDir + "Public\\public.pro"), EncodePublicPro(list));
}

}  // namespace

std::string HostPath(const std::string& prefix, const std::string& windowsPath) {
  std::string rel = windowsPath.substr(2);
  for (char& c : rel)
    if (c == '\\') c = '/';
  const char drive = static_cast<char>(std::tolower(static_cast<unsigned char>(windowsPath[0])));
  return prefix + "/drive_" + drive + rel;
}

PostalCodesExtra PostalCodesIndexing(AreaCodeIndexes areaCodeIndexes) {
  PostalCodesExtra extra;
  if (areaCodeIndexes != AreaCodeIndexes::kNone) extra.indexes.push_back({"TELVOR", {"TELVOR"}});
  if (areaCodeIndexes == AreaCodeIndexes::kAloneAndWithOthers) extra.indexes.push_back({"LANDTELVOR", {"LAND", "TELVOR"}});
  return extra;
}

void WritePostalCodes(const std::string& hostPath, int64_t rows, uint32_t seed, DbFormat format,
                      const PostalCodesExtra& extra) {
  std::vector<SinkIndex> indexes = {{"PLZ", {"PLZ"}}};
  indexes.insert(indexes.end(), extra.indexes.begin(), extra.indexes.end());
  auto sink = TableSink::Create(format, hostPath, "PLZSTM", "PLZNR",
                                {{"LAND", 3}, {"PLZ", 10}, {"ORT", 40}, {"TELVOR", 5}, {"KANTON", 2},
                                 {"GEAENDERT", 10}},
                                indexes);
  std::mt19937 rng(seed);
  std::vector<std::optional<std::string>> v(6);
  for (int64_t i = 0; i < rows; ++i) {
    const Place& pl = PickPlace(rng);
    v[0] = pl.land;
    v[1] = pl.plz;
    v[2] = pl.ort;
    v[3] = pl.telvor;
    v[4] = std::string(pl.land) == "CH" ? (pl.plz[0] == '8' ? "ZH" : "--") : "";
    v[5] = "2005-0" + std::to_string(1 + rng() % 9) + "-1" + std::to_string(rng() % 10);
    if (extra.edit) extra.edit(i, v);
    sink->Add(v);
  }
  sink->Finish();
}

void WriteAddresses(const std::string& hostPath, int64_t rows, uint32_t seed, DbFormat format,
                    AreaCodeIndexes areaCodeIndexes) {
  std::vector<SinkIndex> indexes = {{"NAME", {"NAME", "VORNAME"}}};
  if (areaCodeIndexes != AreaCodeIndexes::kNone) indexes.push_back({"TELVOR", {"TELVOR"}});
  if (areaCodeIndexes == AreaCodeIndexes::kAloneAndWithOthers) indexes.push_back({"PLZFAXVOR", {"PLZ", "FAXVOR", "NAME"}});
  auto sink = TableSink::Create(format, hostPath, "ADRSTM", "ADRNR",
                                {{"ANREDE", 10},
                                 {"NAME", 50},
                                 {"VORNAME", 30},
                                 {"FIRMA", 60},
                                 {"STRASSE", 50},
                                 {"LAND", 3},
                                 {"PLZ", 10},
                                 {"ORT", 40},
                                 {"TELVOR", 5},
                                 {"TELNR", 20},
                                 {"FAXVOR", 5},
                                 {"FAXNR", 20},
                                 {"EMAIL", 80},
                                 {"BEMERKUNG", 0, true}},
                                indexes);
  std::mt19937 rng(seed);
  std::vector<std::optional<std::string>> v(14);
  for (int64_t i = 0; i < rows; ++i) {
    const Place& pl = PickPlace(rng);
    const std::string first = Pick(kFirst, rng), last = Pick(kLast, rng);
    const bool company = rng() % 4 == 0;
    const bool fax = rng() % 3 == 0;
    v[0] = company ? "Firma" : (rng() % 2 ? "Herr" : "Frau");
    v[1] = last;
    v[2] = first;
    v[3] = company ? last + " AG" : "";
    v[4] = std::string(Pick(kStreets, rng)) + " " + std::to_string(1 + rng() % 120);
    v[5] = pl.land;
    v[6] = pl.plz;
    v[7] = pl.ort;
    v[8] = pl.telvor;
    v[9] = Digits(rng, 3) + " " + Digits(rng, 2) + " " + Digits(rng, 2);
    if (fax) {
      // Mostly the same area code as the telephone, sometimes the old one
      // left behind when the telephone was already changed.
      v[10] = rng() % 5 == 0 ? "01" : pl.telvor;
      v[11] = Digits(rng, 3) + " " + Digits(rng, 2) + " " + Digits(rng, 2);
    } else {
      v[10].reset();
      v[11].reset();
    }
    v[12] = company ? "info@" + last + ".ch" : "";
    v[13] = "";
    sink->Add(v);
  }
  sink->Finish();
}

std::vector<SampleClient> DefaultClients(int count, int64_t rowsPerClient) {
  std::vector<SampleClient> out;
  for (int i = 1; i <= count; ++i) {
    SampleClient c;
    char nr[16];
    std::snprintf(nr, sizeof nr, "%02d", i);
    c.name = std::string("Mandant ") + nr;
    c.directory = std::string("Mand") + nr;
    c.rows = rowsPerClient;
    c.version = i % 3 == 0 ? "6.5" : "6.4";
    out.push_back(c);
  }
  if (count >= 3) out[1].version = "6.3";          // reported, left unchanged
  if (count >= 4) out[2].name = "   ";            // passed over in silence
  if (count >= 5) out[3].withDatabase = false;    // passed over in silence
  return out;
}

void WriteInstallation(const SampleInstallation& setup) {
  fs::create_directories(setup.prefix + "/dosdevices");
  fs::create_directories(setup.prefix + "/drive_c/windows");
  fs::create_directories(setup.prefix + "/drive_d");
  Link("../drive_c", setup.prefix + "/dosdevices/c:");
  Link("../drive_d", setup.prefix + "/dosdevices/d:");
  WriteRegistry(setup);
  const std::string dataDir = setup.dataDir.empty() ? "D:\\Daten\\" : setup.dataDir;
  WritePostalCodes(HostPath(setup.prefix, dataDir + "Public\\Public.mdb"), setup.plzRows, setup.seed,
                   setup.format, PostalCodesIndexing(setup.areaCodeIndexes));
  WriteClients(setup, dataDir);
}

}  // namespace kw::sample
