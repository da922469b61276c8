#pragma once
// Small helpers shared by the sample writers.
#include <cstdint>
#include <string>
#include <string_view>

namespace kw::sample {

void PutInt16(std::string& out, int16_t v);
void PutInt32(std::string& out, int32_t v);
// A 2-byte length, then the text in code page 1252.
void PutText(std::string& out, std::string_view utf8);
// Writes bytes to a host path, creating parent directories; throws on failure.
void WriteFile(const std::string& hostPath, std::string_view bytes);

}  // namespace kw::sample
