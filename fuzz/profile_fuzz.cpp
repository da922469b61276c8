// Feeds arbitrary bytes as a profile file to the INI text functions and
// checks what every read and write must keep true.
#include <fuzzer/FuzzedDataProvider.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/ini/ini_text.h"

namespace {

using kw::ini::EditResult;
using kw::ini::EditStatus;

#define CHECK(cond)                                                                 \
  do {                                                                              \
    if (!(cond)) {                                                                  \
      std::fprintf(stderr, "%s:%d: CHECK failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                 \
    }                                                                               \
  } while (0)

// A name or value of letters and digits only, so that what is written must
// read back exactly.
std::string Plain(const std::string& raw, bool allowEmpty) {
  static const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::string out;
  for (unsigned char c : raw) out += kAlphabet[c % (sizeof kAlphabet - 1)];
  if (out.empty() && !allowEmpty) out = "x";
  return out;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// A read into a buffer of exactly size bytes: the count stays below size and
// the NUL sits right after it.
void CheckedRead(std::string_view file, const std::optional<std::string>& section,
                 const std::optional<std::string>& key,
                 const std::optional<std::string>& defaultValue, uint32_t size) {
  std::vector<char> buffer(size);
  const uint32_t n = kw::ini::GetString(file, section, key, defaultValue, buffer.data(), size);
  if (size == 0) {
    CHECK(n == 0);
    return;
  }
  CHECK(n < size);
  CHECK(buffer[n] == '\0');
}

bool IsUtf16(std::string_view file) {
  return file.size() >= 2 &&
         ((file[0] == '\xFF' && file[1] == '\xFE') || (file[0] == '\xFE' && file[1] == '\xFF'));
}

// Everything but one stretch within a single line is kept byte for byte.
void CheckOnlyOneLineChanged(std::string_view before, std::string_view after) {
  size_t prefix = 0;
  while (prefix < before.size() && prefix < after.size() && before[prefix] == after[prefix]) {
    ++prefix;
  }
  size_t suffix = 0;
  while (suffix < before.size() - prefix && suffix < after.size() - prefix &&
         before[before.size() - 1 - suffix] == after[after.size() - 1 - suffix]) {
    ++suffix;
  }
  const std::string_view removed = before.substr(prefix, before.size() - prefix - suffix);
  CHECK(removed.find_first_of("\r\n") == std::string_view::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const std::string rawSection = in.ConsumeRandomLengthString(24);
  const std::string rawKey = in.ConsumeRandomLengthString(24);
  const std::string rawValue = in.ConsumeRandomLengthString(24);
  const std::string otherKey = Plain(in.ConsumeRandomLengthString(8), false);
  const uint32_t bufferSize = in.ConsumeIntegralInRange<uint32_t>(0, 600);
  const std::string file = in.ConsumeRemainingBytesAsString();

  // Reads of any names, and lists, never overrun the buffer.
  const std::optional<std::string> dflt =
      bufferSize % 3 == 0 ? std::nullopt : std::optional<std::string>(rawValue);
  CheckedRead(file, rawSection, rawKey, dflt, bufferSize);
  CheckedRead(file, rawSection, std::nullopt, dflt, bufferSize);
  CheckedRead(file, std::nullopt, std::nullopt, dflt, bufferSize);

  // Writes of any names and values give a file that reads again.
  for (const EditResult& r : {kw::ini::SetString(file, rawSection, rawKey, rawValue),
                              kw::ini::SetString(file, rawSection, rawKey, std::nullopt),
                              kw::ini::SetString(file, rawSection, std::nullopt, std::nullopt)}) {
    if (r.status == EditStatus::kChanged) CheckedRead(r.bytes, rawSection, rawKey, dflt, 512);
  }

  // A plain key written reads back exactly, changes nothing else and a second
  // write of it changes nothing at all; deleting it makes it missing again.
  const std::string section = Plain(rawSection, false);
  const std::string key = Plain(rawKey, false);
  const std::string value = Plain(rawValue, true);
  const EditResult w = kw::ini::SetString(file, section, key, value);
  if (w.status == EditStatus::kFailed) {
    CHECK(IsUtf16(file));
    return 0;
  }
  const std::string after = w.status == EditStatus::kChanged ? w.bytes : file;
  CHECK(kw::ini::FindValue(after, section, key) == value);
  if (w.status == EditStatus::kUnchanged) {
    CHECK(kw::ini::FindValue(file, section, key) == value);
  }
  if (w.status == EditStatus::kChanged && !IsUtf16(file)) CheckOnlyOneLineChanged(file, after);
  if (Lower(otherKey) != Lower(key)) {
    CHECK(kw::ini::FindValue(after, section, otherKey) ==
          kw::ini::FindValue(file, section, otherKey));
  }
  CHECK(kw::ini::SetString(after, section, key, value).status == EditStatus::kUnchanged);

  const EditResult d = kw::ini::SetString(after, section, key, std::nullopt);
  CHECK(d.status == EditStatus::kChanged);
  CHECK(!kw::ini::FindValue(d.bytes, section, key));
  if (Lower(otherKey) != Lower(key)) {
    CHECK(kw::ini::FindValue(d.bytes, section, otherKey) ==
          kw::ini::FindValue(file, section, otherKey));
  }
  return 0;
}
