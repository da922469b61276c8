#include "platform/jet/text_codec.h"

#include "platform/cp1252.h"

namespace kw::jet {
namespace {

void AppendUnits(std::string& out, const std::vector<uint16_t>& units) {
  for (size_t i = 0; i < units.size(); ++i) {
    uint32_t u = units[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      u = 0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      u = 0xFFFD;
    }
    AppendUtf8(out, u);
  }
}

std::vector<uint32_t> CodePoints(std::string_view text) {
  std::vector<uint32_t> out;
  for (size_t i = 0; i < text.size();) out.push_back(NextUtf8(text, i));
  return out;
}

}  // namespace

std::string DecodeText(const uint8_t* data, size_t size) {
  const bool compressed = size >= 2 && data[0] == 0xFF && data[1] == 0xFE;
  // Text of ASCII characters alone, the most common, is its own UTF-8.
  std::string ascii;
  const size_t step = compressed ? 1 : 2;
  size_t i = compressed ? 2 : 0;
  if (compressed || size % 2 == 0) {
    ascii.reserve((size - i) / step);
    for (; i < size; i += step) {
      if (data[i] == 0 || data[i] >= 0x80 || (!compressed && data[i + 1] != 0)) break;
      ascii.push_back(static_cast<char>(data[i]));
    }
    if (i >= size) return ascii;
  }
  std::vector<uint16_t> units;
  if (compressed) {
    bool oneByte = true;
    for (size_t k = 2; k < size;) {
      if (data[k] == 0) {
        oneByte = !oneByte;
        ++k;
      } else if (oneByte) {
        units.push_back(data[k++]);
      } else if (k + 1 < size) {
        units.push_back(static_cast<uint16_t>(data[k] | data[k + 1] << 8));
        k += 2;
      } else {
        break;
      }
    }
  } else {
    units.reserve(size / 2);
    for (size_t k = 0; k + 1 < size; k += 2)
      units.push_back(static_cast<uint16_t>(data[k] | data[k + 1] << 8));
  }
  std::string out;
  AppendUnits(out, units);
  return out;
}

std::vector<uint8_t> EncodeText(std::string_view text, bool compress) {
  const std::vector<uint32_t> cps = CodePoints(text);
  bool fits = compress && cps.size() > 2;
  for (uint32_t c : cps)
    if (c < 1 || c > 0xFF) fits = false;
  std::vector<uint8_t> out;
  if (fits) {
    out.reserve(cps.size() + 2);
    out.push_back(0xFF);
    out.push_back(0xFE);
    for (uint32_t c : cps) out.push_back(static_cast<uint8_t>(c));
    return out;
  }
  auto unit = [&](uint32_t u) {
    out.push_back(static_cast<uint8_t>(u));
    out.push_back(static_cast<uint8_t>(u >> 8));
  };
  for (uint32_t c : cps) {
    if (c >= 0x10000) {
      unit(0xD800 + ((c - 0x10000) >> 10));
      unit(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      unit(c);
    }
  }
  return out;
}

size_t TextUnits(std::string_view text) {
  size_t n = 0;
  for (uint32_t c : CodePoints(text)) n += c >= 0x10000 ? 2 : 1;
  return n;
}

}  // namespace kw::jet
