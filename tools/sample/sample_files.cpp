#include "tools/sample/sample_files.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "platform/cp1252.h"

namespace kw::sample {

void PutInt16(std::string& out, int16_t v) {
  const auto u = static_cast<uint16_t>(v);
  out += static_cast<char>(u & 0xFF);
  out += static_cast<char>(u >> 8);
}

void PutInt32(std::string& out, int32_t v) {
  auto u = static_cast<uint32_t>(v);
  for (int i = 0; i < 4; ++i, u >>= 8) out += static_cast<char>(u & 0xFF);
}

void PutText(std::string& out, std::string_view utf8) {
  const std::string bytes = Utf8ToCp1252(utf8);
  PutInt16(out, static_cast<int16_t>(bytes.size()));
  out += bytes;
}

void WriteFile(const std::string& hostPath, std::string_view bytes) {
  const std::filesystem::path p(hostPath);
  if (p.has_parent_path()) std::filesystem::create_directories(p.parent_path());
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!f) throw std::runtime_error("cannot write " + hostPath);
}

}  // namespace kw::sample
