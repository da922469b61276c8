#include "tests/support/oracle.h"

#include <cstdio>
#include <fstream>
#include <map>
#include <vector>

#include "platform/cp1252.h"

namespace kw::testing {

const json& Oracle(const std::string& name) {
  static std::map<std::string, json> loaded;
  auto it = loaded.find(name);
  if (it == loaded.end()) {
    std::ifstream in(std::string(KW_TEST_DATA) + "/oracle/" + name, std::ios::binary);
    it = loaded.emplace(name, in ? json::parse(in) : json()).first;
  }
  return it->second;
}

std::string Hex(std::string_view bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

std::string Unhex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

std::optional<std::string> Latin1(const json& j) {
  if (j.is_null()) return std::nullopt;
  const std::string utf8 = j.get<std::string>();
  std::string out;
  for (size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (c >= 0xC0 && i + 1 < utf8.size()) {
      out += static_cast<char>(((c & 0x1F) << 6) | (static_cast<unsigned char>(utf8[++i]) & 0x3F));
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::optional<std::string> Cp1252Arg(const json& j) {
  if (j.is_null()) return std::nullopt;
  return Utf8ToCp1252(j.get<std::string>());
}

void ReplayRegistryQuery(RegistryStore& reg, const json& q) {
  SCOPED_TRACE(q.at("case").get<std::string>());
  const RegKey root = q.at("root") == "HKCU" ? kHkeyCurrentUser : kHkeyLocalMachine;
  RegKey h = 0;
  ASSERT_EQ(reg.RegOpenKeyA(root, Cp1252Arg(q.at("path")), h), q.at("open_rc").get<long>());
  if (q.at("open_rc") != 0) return;
  const auto name = Cp1252Arg(q.at("name"));
  uint32_t type1 = 0xdeadbeef, size1 = 0xdeadbeef;
  EXPECT_EQ(reg.RegQueryValueExA(h, name, &type1, nullptr, &size1), q.at("rc1").get<long>());
  EXPECT_EQ(type1, q.at("type1").get<uint32_t>());
  EXPECT_EQ(size1, q.at("size1").get<uint32_t>());
  if (q.at("rc1") == 0) {
    std::vector<uint8_t> buf(size1 + 1, ' ');
    uint32_t type2 = 0xdeadbeef, size2 = size1;
    EXPECT_EQ(reg.RegQueryValueExA(h, name, &type2, buf.data(), &size2), q.at("rc2").get<long>());
    EXPECT_EQ(type2, q.at("type2").get<uint32_t>());
    EXPECT_EQ(size2, q.at("size2").get<uint32_t>());
    EXPECT_EQ(Hex(std::string_view(reinterpret_cast<const char*>(buf.data()), size1)),
              q.at("buf_hex").get<std::string>());
    EXPECT_EQ(buf[size1] == ' ', q.at("guard_intact").get<bool>());
  }
  EXPECT_EQ(reg.RegCloseKey(h), kErrorSuccess);
}

void LayDownProfileCase(const ProfileFilesAt& files, const json& e) {
  if (!e["file_bytes_hex"].is_null()) files.write(*Latin1(e["path"]), Unhex(e["file_bytes_hex"]));
  if (e.contains("other_files")) {
    for (const auto& [path, hex] : e["other_files"].items()) files.write(*Latin1(json(path)), Unhex(hex));
  }
}

void ReplayProfileRead(ProfileFiles& profiles, const json& e) {
  const uint32_t size = e["size"];
  std::vector<char> buffer(size + 8, '\0');
  std::fill(buffer.begin() + size, buffer.end(), 'Z');  // guard past the buffer
  const uint32_t count = profiles.GetPrivateProfileStringA(Latin1(e["section"]), Latin1(e["key"]),
                                                           Latin1(e["default"]), buffer.data(), size,
                                                           *Latin1(e["path"]));
  EXPECT_EQ(count, e["count"].get<uint32_t>());
  EXPECT_EQ(Hex(std::string_view(buffer.data(), std::min(count, size))), e["value_hex"]);
  size_t last = 0;
  for (size_t i = 0; i < size; ++i)
    if (buffer[i] != '\0') last = i + 1;
  EXPECT_EQ(Hex(std::string_view(buffer.data(), last)), e.contains("buf_hex") ? e["buf_hex"] : e["value_hex"]);
  EXPECT_EQ(std::string(buffer.begin() + size, buffer.end()), std::string(8, 'Z'));
}

std::optional<std::string> ReplayProfileWrite(ProfileFiles& profiles, const ProfileFilesAt& files,
                                              const json& e) {
  const std::string path = *Latin1(e["path"]);
  const json writes = e.contains("writes") ? e["writes"] : json::array({e});
  for (const json& w : writes) {
    const bool ret = profiles.WritePrivateProfileStringA(*Latin1(w["section"]), Latin1(w["key"]),
                                                         Latin1(w["value"]), path);
    EXPECT_EQ(ret, w["ret"].get<int>() != 0);
  }
  const std::string where = e["file_found_at"].empty() ? path : e["file_found_at"][0].get<std::string>();
  const std::optional<std::string> after = files.read(where);
  for (const json& r : e["readback"]) {
    char buffer[512] = {};
    const uint32_t count =
        profiles.GetPrivateProfileStringA(Latin1(r["section"]), Latin1(r["key"]), kSentinel, buffer, 512, path);
    EXPECT_EQ(count, r["count"].get<uint32_t>());
    EXPECT_EQ(Hex(std::string_view(buffer, count)), r["value_hex"]);
  }
  return after;
}

}  // namespace kw::testing
