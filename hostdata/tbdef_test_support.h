#pragma once
// A platform for the table-definition tests and fuzz target: in-memory files,
// clock and window; the seams this code never uses fail loudly if touched.
#include <cstddef>
#include <cstdint>
#include <string>

#include "hostdata/tbdef_read.h"
#include "platform/fakes/fake_clock.h"
#include "platform/fakes/fake_filesystem.h"
#include "platform/fakes/fake_window.h"
#include "platform/platform.h"
#include "platform/run_error.h"

namespace kw::tbdef_test {

[[noreturn]] inline void NotExpected(const char* seam) {
  throw RunError(std::string(seam) + " not expected here");
}

class NoDatabase : public DatabaseEngine {
 public:
  std::unique_ptr<Database> OpenDatabase(std::string_view, bool, bool) override {
    NotExpected("database engine");
  }
  void CommitPending() override { NotExpected("database engine"); }
};

class NoRegistry : public RegistryStore {
 public:
  long RegOpenKeyA(RegKey, const std::optional<std::string>&, RegKey&) override {
    NotExpected("registry");
  }
  long RegQueryValueExA(RegKey, const std::optional<std::string>&, uint32_t*, uint8_t*,
                        uint32_t*) override {
    NotExpected("registry");
  }
  long RegCloseKey(RegKey) override { NotExpected("registry"); }
};

class NoProfiles : public ProfileFiles {
 public:
  uint32_t GetPrivateProfileStringA(const std::optional<std::string>&,
                                    const std::optional<std::string>&,
                                    const std::optional<std::string>&, char*, uint32_t,
                                    const std::string&) override {
    NotExpected("profile files");
  }
  bool WritePrivateProfileStringA(const std::string&, const std::optional<std::string>&,
                                  const std::optional<std::string>&, const std::string&) override {
    NotExpected("profile files");
  }
};

struct TestPlatform {
  FakeClock clock;
  FakeFileSystem fs{clock};
  FakeWindow window;
  NoDatabase db;
  NoRegistry registry;
  NoProfiles profiles;
  Platform p{db, registry, profiles, fs, clock, window};
};

// Runs the reader over arbitrary bytes the way the fuzz target does, and then
// walks the columns as the client pass does. Byte 0: bits 0-1 the number of
// calls less one, bit 2 WithColumns; then 2 bytes per call, a 16-bit table
// number (with bit 14 set, taken modulo 64); the rest is the file. False when
// a call left a file open.
inline bool ReplayTbDefInput(const uint8_t* data, size_t size) {
  if (size < 1) return true;
  const size_t calls = 1 + (data[0] & 3);
  const bool withColumns = (data[0] & 4) != 0;
  const size_t head = 1 + 2 * calls;
  if (size < head) return true;
  TestPlatform t;
  KwandorModul m;
  m.MandantDir = "C:\\Daten\\M1\\";
  m.AdoSettings.resize(4);
  m.AdoSettings[3].DBName = "NoltData";
  t.fs.Add(m.MandantDir + "NoltData.def",
           std::string(reinterpret_cast<const char*>(data + head), size - head));
  FileTable files;
  TbDefState s;
  for (size_t i = 0; i < calls; ++i) {
    const auto raw = static_cast<uint16_t>(data[1 + 2 * i] | (data[2 + 2 * i] << 8));
    const auto table = static_cast<int16_t>((raw & 0x4000) ? raw % 64 : raw);
    const bool ok = TbDefRead(t.p, m, files, s, table, withColumns, true);
    for (const auto& f : files.open)
      if (f) return false;
    if (!ok || table < 1) continue;
    try {
      const TbDef& d = s.TbDefs(table);
      for (int j = 1; j <= d.ColCount; ++j) {
        const std::string flags = d.ColFlags(j) + "  ";
        if (flags[1] == 'V') (void)(d.ColName(j) + d.ColCaption(j));
      }
    } catch (const RunError&) {
      // An index error is the client pass's to hand to the run's handler.
    }
  }
  return true;
}

}  // namespace kw::tbdef_test
