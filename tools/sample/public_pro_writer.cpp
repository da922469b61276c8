#include "tools/sample/public_pro_writer.h"

#include "tools/sample/sample_files.h"

namespace kw::sample {
namespace {

constexpr size_t kHeadSize = 92;
constexpr size_t kEntries = 3;  // 0 general settings, 1 clients, 2 reserved

// One header entry: the block's position (counted from 1) and its length;
// an unused entry is all zero.
void PutEntry(std::string& out, size_t offset, size_t length) {
  PutInt32(out, length == 0 ? 0 : static_cast<int32_t>(offset + 1));
  PutInt32(out, static_cast<int32_t>(length));
}

}  // namespace

std::string EncodePublicPro(const std::vector<MandantRecord>& clients) {
  std::string out = "Orbica-Kontor 5 Public-Profil";
  out += '\x1a';
  out.resize(kHeadSize - 4, '\0');
  PutInt16(out, 6);  // data format 6.4
  PutInt16(out, 4);

  std::string settings;  // general settings: none
  PutInt32(settings, 0);

  std::string block;
  PutInt32(block, static_cast<int32_t>(clients.size()));
  for (const MandantRecord& c : clients) {
    PutText(block, c.Name);
    PutText(block, c.Directory);
  }

  const size_t settingsAt = kHeadSize + 8 * kEntries;  // 116
  const size_t blockAt = settingsAt + settings.size();   // 120: position 121
  PutEntry(out, settingsAt, settings.size());
  PutEntry(out, blockAt, block.size());
  PutEntry(out, 0, 0);
  out += settings;
  out += block;
  out.append(16, '\0');  // free space the product keeps at the end
  return out;
}

void WritePublicPro(const std::string& hostPath, const std::vector<MandantRecord>& clients) {
  WriteFile(hostPath, EncodePublicPro(clients));
}

}  // namespace kw::sample
