// advapi32 in the 32-bit view, as the Windows build reads the registry:
// values set with Wine's own reg.exe are read back through the seam, and
// every query recorded from the API (tests/data/oracle) comes out as
// recorded.
#include "platform/win32/win32_registry.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "config/reg_edit.h"
#include "platform/fakes/fake_window.h"
#include "tests/support/child_process.h"
#include "tests/support/oracle.h"
#include "tests/support/refusing_platform.h"

namespace kw {
namespace {

using testing::json;

// Tests run side by side: each sets values of its own names.
const std::string kKey = "Software\\Nolt\\KwRegAddTest\\Settings";

// Sets a value as an installer does, with Wine's reg.exe, in the view given.
void RegAdd(const std::string& name, const std::string& type, const std::string& data,
            const std::string& view = "/reg:32", const std::string& key = kKey) {
  const testing::ChildResult r =
      testing::RunCommand({"reg", "add", "HKLM\\" + key, "/v", name, "/t", type, "/d", data, view, "/f"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
}

// The two-call read of the registry module: type and size, then the bytes.
struct Value {
  long rc = -1;
  uint32_t type = 0;
  std::string bytes;
};
Value Query(RegistryStore& reg, RegKey key, const std::string& name) {
  Value v;
  uint32_t size = 0;
  v.rc = reg.RegQueryValueExA(key, name, &v.type, nullptr, &size);
  if (v.rc != kErrorSuccess) return v;
  std::vector<uint8_t> buffer(size, ' ');
  uint32_t type2 = 0;
  v.rc = reg.RegQueryValueExA(key, name, &type2, buffer.data(), &size);
  v.bytes.assign(buffer.begin(), buffer.begin() + size);
  return v;
}

TEST(Win32Registry, ValuesSetWithRegAddReadBackThroughTheSeam) {
  RegAdd("Dir", "REG_SZ", "  D:\\Daten\\  ");
  RegAdd("Empty", "REG_SZ", "");
  RegAdd("Umlaut", "REG_SZ", "M\xFCller");  // code page 1252, as the product writes it
  RegAdd("Expand", "REG_EXPAND_SZ", "%TEMP%\\x");
  RegAdd("Dword", "REG_DWORD", "1");
  Win32Registry reg;
  RegKey key = 0;
  ASSERT_EQ(reg.RegOpenKeyA(kHkeyLocalMachine, kKey, key), kErrorSuccess);
  const struct {
    const char* name;
    uint32_t type;
    std::string bytes;
  } cases[] = {
      {"Dir", kRegSz, std::string("  D:\\Daten\\  \0", 14)},
      {"Empty", kRegSz, std::string("\0", 1)},
      {"Umlaut", kRegSz, std::string("M\xFCller\0", 7)},
      {"Expand", kRegExpandSz, std::string("%TEMP%\\x\0", 9)},
      {"Dword", kRegDword, std::string("\x01\0\0\0", 4)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Value v = Query(reg, key, c.name);
    EXPECT_EQ(v.rc, kErrorSuccess);
    EXPECT_EQ(v.type, c.type);
    EXPECT_EQ(testing::Hex(v.bytes), testing::Hex(c.bytes));
  }
  EXPECT_EQ(Query(reg, key, "Missing").rc, kErrorFileNotFound);
  EXPECT_EQ(reg.RegCloseKey(key), kErrorSuccess);
  EXPECT_EQ(reg.OpenKeyCount(), 0u);

  // The registry module over it: trailing blanks go, other types give the default.
  FakeWindow window;
  testing::RefusingPlatform host{reg, window};
  KwandorModul m;
  RegEditState s;
  EXPECT_EQ(RegRead(host.Get(), m, s, "HKEY_LOCAL_MACHINE", kKey, "Dir", "-"), "  D:\\Daten\\");
  EXPECT_EQ(RegRead(host.Get(), m, s, "HKEY_LOCAL_MACHINE", kKey, "Umlaut", "-"), "Müller");
  EXPECT_EQ(RegRead(host.Get(), m, s, "HKEY_LOCAL_MACHINE", kKey, "Expand", "-"), "-");
  EXPECT_EQ(reg.OpenKeyCount(), 0u);
}

TEST(Win32Registry, ReadsThe32BitViewWhereA32BitProgramWritesItsSettings) {
  const std::string only64 = "Software\\Nolt\\KwRegAddTest\\Only64";
  RegAdd("Dir", "REG_SZ", "D:\\64\\", "/reg:64", only64);
  RegAdd("View", "REG_SZ", "32", "/reg:32");
  RegAdd("View", "REG_SZ", "64", "/reg:64");
  Win32Registry reg;
  RegKey key = 0;
  EXPECT_EQ(reg.RegOpenKeyA(kHkeyLocalMachine, only64, key), kErrorFileNotFound);
  ASSERT_EQ(reg.RegOpenKeyA(kHkeyLocalMachine, kKey, key), kErrorSuccess);
  EXPECT_EQ(Query(reg, key, "View").bytes, std::string("32\0", 3));
  EXPECT_EQ(reg.RegCloseKey(key), kErrorSuccess);
}

TEST(Win32Registry, HandlesAreItsOwnNumbersValidUntilClosed) {
  RegAdd("Handles", "REG_SZ", "x");
  Win32Registry reg;
  RegKey parent = 0, child = 0;
  ASSERT_EQ(reg.RegOpenKeyA(kHkeyLocalMachine, "Software\\Nolt\\KwRegAddTest", parent), kErrorSuccess);
  ASSERT_EQ(reg.RegOpenKeyA(parent, "Settings", child), kErrorSuccess);  // below an open key
  EXPECT_NE(parent, child);
  EXPECT_LT(child, kHkeyClassesRoot);
  EXPECT_EQ(Query(reg, child, "Handles").rc, kErrorSuccess);
  RegKey same = 0;
  EXPECT_EQ(reg.RegOpenKeyA(parent, std::nullopt, same), kErrorSuccess);  // the key itself
  EXPECT_EQ(same, parent);
  EXPECT_EQ(reg.RegCloseKey(child), kErrorSuccess);
  EXPECT_EQ(reg.RegCloseKey(child), kErrorInvalidHandle);
  EXPECT_EQ(Query(reg, child, "Handles").rc, kErrorInvalidHandle);
  EXPECT_EQ(reg.RegOpenKeyA(0x1234, "x", child), kErrorInvalidHandle);
  EXPECT_EQ(reg.RegCloseKey(parent), kErrorSuccess);
  EXPECT_EQ(reg.RegCloseKey(kHkeyLocalMachine), kErrorSuccess);
  EXPECT_EQ(reg.OpenKeyCount(), 0u);
}

// The recorded values are set with the API where the probe set them; the
// recorded queries, replayed through the seam in the view they were made
// in, must answer as the API answered when they were recorded.
TEST(Win32RegistryOracle, EveryRecordedQueryGivesWhatTheApiGaveWhenRecorded) {
  const json& golden = testing::Oracle("reg_golden.json");
  for (const json& w : golden.at("written")) {
    const HKEY root = w.at("root") == "HKCU" ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    const REGSAM view = w.at("root") == "HKLM32" ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(root, testing::Cp1252Arg(w.at("path"))->c_str(), 0, nullptr, 0,
                              KEY_SET_VALUE | view, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    // The data as the probe had it in memory: the byte after it is a NUL,
    // or an 'X' where the note says so (the API looks past the count).
    std::string data = testing::Unhex(w.at("data_hex"));
    const DWORD count = static_cast<DWORD>(data.size());
    data += w.at("note").get<std::string>().find("is 'X'") != std::string::npos ? 'X' : '\0';
    const auto name = testing::Cp1252Arg(w.at("name"));
    EXPECT_EQ(RegSetValueExA(key, name ? name->c_str() : nullptr, 0, w.at("type").get<DWORD>(),
                             reinterpret_cast<const BYTE*>(data.data()), count),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }
  Win32Registry reg32, reg64(Win32Registry::View::k64);
  int checked = 0;
  for (const json& q : golden.at("queries")) {
    testing::ReplayRegistryQuery(q.at("call") == "query32" ? reg32 : reg64, q);
    ++checked;
  }
  EXPECT_EQ(checked, 44);
  EXPECT_EQ(reg32.OpenKeyCount(), 0u);
  EXPECT_EQ(reg64.OpenKeyCount(), 0u);
}

}  // namespace
}  // namespace kw
