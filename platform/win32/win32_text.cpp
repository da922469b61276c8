#include "platform/win32/win32_text.h"

#include "platform/cp1252.h"

namespace kw::win32 {

std::string AnsiPath(std::string_view utf8Path) { return Utf8ToCp1252(utf8Path); }

std::string ErrorText(DWORD error) {
  char* text = nullptr;
  const DWORD n = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), reinterpret_cast<char*>(&text),
      0, nullptr);
  std::string out;
  if (n > 0 && text != nullptr) out = Cp1252ToUtf8(std::string_view(text, n));
  if (text != nullptr) LocalFree(text);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ' || out.back() == '.'))
    out.pop_back();
  if (out.empty()) out = "error " + std::to_string(error);
  return out;
}

}  // namespace kw::win32
