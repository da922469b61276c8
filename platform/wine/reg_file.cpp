#include "platform/wine/reg_file.h"

#include <limits>

#include "platform/registry.h"

namespace kw {
namespace {

constexpr std::string_view kHeader = "WINE REGISTRY Version 2";

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsOctal(char c) { return c >= '0' && c <= '7'; }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool At(std::string_view s, size_t i, char c) { return i < s.size() && s[i] == c; }
bool HexAt(std::string_view s, size_t i) { return i < s.size() && HexDigit(s[i]) >= 0; }

size_t SkipSpaces(std::string_view s, size_t i) {
  while (i < s.size() && IsSpace(s[i])) ++i;
  return i;
}

// strtoul(s + pos, &end, 16) as the C library reads it: blanks, a sign, an
// optional 0x, hex digits. pos moves to the end of what was read; it stays
// where it was when there are no digits.
uint64_t StrToULHex(std::string_view s, size_t& pos) {
  size_t i = SkipSpaces(s, pos);
  bool negative = false;
  if (At(s, i, '+') || At(s, i, '-')) negative = s[i++] == '-';
  if (At(s, i, '0') && (At(s, i + 1, 'x') || At(s, i + 1, 'X')) && HexAt(s, i + 2)) i += 2;
  if (!HexAt(s, i)) return 0;
  uint64_t v = 0;
  bool overflow = false;
  for (; HexAt(s, i); ++i) {
    if (v > (std::numeric_limits<uint64_t>::max() >> 4)) overflow = true;
    v = (v << 4) | static_cast<uint64_t>(HexDigit(s[i]));
  }
  pos = i;
  if (overflow) return std::numeric_limits<uint64_t>::max();
  return negative ? ~v + 1 : v;
}

// Undoes Wine's string escapes in text up to the first unescaped `end`
// character: \\ \" \a \b \e \f \n \r \t \v, \x with up to four hex digits,
// up to three octal digits; any other escaped character stands for itself.
// Characters of the file are taken as Latin-1. False when `end` is missing.
bool UnescapeRegString(std::string_view text, char end, std::u16string& out, size_t& used) {
  std::u16string units;
  size_t i = 0;
  while (i < text.size() && text[i] != end) {
    if (text[i] != '\\') {
      units += static_cast<char16_t>(static_cast<unsigned char>(text[i++]));
      continue;
    }
    if (++i == text.size()) return false;  // a backslash with nothing after it
    const char c = text[i];
    switch (c) {
      case 'a': units += u'\a'; ++i; continue;
      case 'b': units += u'\b'; ++i; continue;
      case 'e': units += u'\x1b'; ++i; continue;
      case 'f': units += u'\f'; ++i; continue;
      case 'n': units += u'\n'; ++i; continue;
      case 'r': units += u'\r'; ++i; continue;
      case 't': units += u'\t'; ++i; continue;
      case 'v': units += u'\v'; ++i; continue;
      default: break;
    }
    if (c == 'x') {
      ++i;
      if (!HexAt(text, i)) {
        units += u'x';
        continue;
      }
      unsigned v = 0;
      for (int k = 0; k < 4 && HexAt(text, i); ++k) v = v * 16 + HexDigit(text[i++]);
      units += static_cast<char16_t>(v);
    } else if (IsOctal(c)) {
      unsigned v = 0;
      for (int k = 0; k < 3 && i < text.size() && IsOctal(text[i]); ++k) v = v * 8 + (text[i++] - '0');
      units += static_cast<char16_t>(v);
    } else {
      units += static_cast<char16_t>(static_cast<unsigned char>(text[i++]));
    }
  }
  if (i == text.size()) return false;
  out = std::move(units);
  used = i + 1;
  return true;
}

void AppendUtf16(std::string& out, std::u16string_view units) {
  for (char16_t u : units) {
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>(u >> 8);
  }
}

// The lines of the file: line ends LF or CR LF; a line ends at a NUL byte, as
// the server reads lines as C strings.
class Lines {
 public:
  explicit Lines(std::string_view text) : text_(text) {}
  bool Next(std::string_view& line) {
    if (pos_ >= text_.size()) return false;
    size_t end = text_.find('\n', pos_);
    if (end == std::string_view::npos) end = text_.size();
    line = text_.substr(pos_, end - pos_);
    pos_ = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (size_t nul = line.find('\0'); nul != std::string_view::npos) line = line.substr(0, nul);
    return true;
  }

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

class Parser {
 public:
  explicit Parser(std::string_view text) : lines_(text) {}

  RegFile Run() {
    std::string_view line;
    if (!lines_.Next(line) || line != kHeader) return std::move(file_);
    while (lines_.Next(line)) {
      const size_t p = SkipSpaces(line, 0);
      if (p == line.size()) continue;
      const std::string_view rest = line.substr(p);
      switch (rest[0]) {
        case '[':
          key_ = LoadKey(rest.substr(1));
          seenKey_ = true;
          break;
        case '@':
        case '"':
          if (key_ >= 0) LoadValue(file_.keys[static_cast<size_t>(key_)], rest);
          break;
        case '#':
          if (key_ >= 0) {
            if (rest.substr(0, 5) == "#link") file_.keys[static_cast<size_t>(key_)].link = true;
          } else if (!seenKey_ && rest.substr(0, 6) == "#arch=") {
            file_.arch = std::string(rest.substr(6));
          }
          break;
        case ';':
          if (rest.substr(0, 24) == ";; All keys relative to " && file_.relativeTo.empty()) {
            // The rest of the line: lines hold no line feed, so it serves as the end.
            size_t used = 0;
            UnescapeRegString(std::string(rest.substr(24)) + '\n', '\n', file_.relativeTo, used);
          }
          break;
        default:
          break;  // not a line Wine reads
      }
    }
    return std::move(file_);
  }

 private:
  // "[path] seconds": creates the key and the keys above it. -1 when the
  // line cannot be read; its values are then skipped.
  int64_t LoadKey(std::string_view text) {
    std::u16string path;
    size_t used = 0;
    if (!UnescapeRegString(text, ']', path, used)) return -1;
    std::vector<std::u16string_view> parts;
    std::u16string_view rest(path);
    while (!rest.empty()) {
      const size_t cut = std::min(rest.find(u'\\'), rest.size());
      if (cut > kMaxKeyNameLength) return -1;
      if (cut > 0) parts.push_back(rest.substr(0, cut));
      rest.remove_prefix(std::min(cut + 1, rest.size()));
    }
    if (parts.size() > kMaxKeyDepth) return -1;
    uint32_t key = RegFile::kRoot;
    for (std::u16string_view part : parts) {
      const std::u16string folded = FoldName(part);
      auto& children = file_.keys[key].children;
      auto it = children.find(folded);
      if (it != children.end()) {
        key = it->second;
        continue;
      }
      const auto index = static_cast<uint32_t>(file_.keys.size());
      file_.keys[key].children.emplace(folded, index);
      file_.keys.emplace_back().name = std::u16string(part);
      key = index;
    }
    return key;
  }

  // One value line, and the continuation lines of a hex value. A line whose
  // name reads but whose data does not gives a kRegNone value without data.
  void LoadValue(RegFileKey& key, std::string_view line) {
    std::u16string name;
    size_t pos = 1;
    if (line[0] == '"') {
      size_t used = 0;
      if (!UnescapeRegString(line.substr(1), '"', name, used)) return;
      pos = 1 + used;
    }
    pos = SkipSpaces(line, pos);
    if (!At(line, pos, '=')) return;
    pos = SkipSpaces(line, pos + 1);
    RegFileValue& value = key.values.emplace_back();
    value.name = std::move(name);
    uint32_t type = kRegNone;
    std::string data;
    if (ReadData(line.substr(pos), type, data)) {
      value.type = type;
      value.data = std::move(data);
    }
  }

  bool ReadData(std::string_view s, uint32_t& type, std::string& data) {
    static constexpr struct {
      std::string_view tag;
      uint32_t type;
    } kStrings[] = {{"\"", kRegSz}, {"str:\"", kRegSz}, {"str(2):\"", kRegExpandSz},
                    {"str(7):\"", kRegMultiSz}};
    for (const auto& t : kStrings) {
      if (s.substr(0, t.tag.size()) != t.tag) continue;
      std::u16string text;
      size_t used = 0;
      if (!UnescapeRegString(s.substr(t.tag.size()), '"', text, used)) return false;
      text += u'\0';
      AppendUtf16(data, text);
      type = t.type;
      return true;
    }
    if (s.substr(0, 6) == "dword:") {
      size_t pos = 6;
      const auto v = static_cast<uint32_t>(StrToULHex(s, pos));
      for (int i = 0; i < 4; ++i) data += static_cast<char>((v >> (8 * i)) & 0xFF);
      type = kRegDword;
      return true;
    }
    size_t pos;
    if (s.substr(0, 4) == "hex:") {
      type = kRegBinary;
      pos = 4;
    } else if (s.substr(0, 4) == "hex(") {
      pos = 4;
      type = static_cast<uint32_t>(StrToULHex(s, pos));
      if (s.substr(pos, 2) != "):") return false;
      pos += 2;
    } else {
      return false;
    }
    return ReadHex(s.substr(pos), data);
  }

  // Comma-separated hex bytes; a line ending in a backslash goes on in the
  // next line.
  bool ReadHex(std::string_view s, std::string& data) {
    for (;;) {
      size_t i = 0;
      while (HexAt(s, i)) {
        size_t end = i;
        const uint64_t v = StrToULHex(s, end);
        if (end == i || v > 0xFF) return false;
        data += static_cast<char>(v);
        i = SkipSpaces(s, end);
        if (At(s, i, ',')) ++i;
        i = SkipSpaces(s, i);
      }
      i = SkipSpaces(s, i);
      if (i == s.size()) return true;
      if (s[i] != '\\' || !lines_.Next(s)) return false;
      s = s.substr(SkipSpaces(s, 0));
    }
  }

  Lines lines_;
  RegFile file_;
  int64_t key_ = -1;
  bool seenKey_ = false;
};

}  // namespace

char16_t FoldUnit(char16_t c) {
  if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 32);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 32);
  switch (c) {
    case 0xFF: return 0x178;  // y with diaeresis
    case 0x161: return 0x160;  // s with caron
    case 0x153: return 0x152;  // oe
    case 0x17E: return 0x17D;  // z with caron
    default: return c;
  }
}

std::u16string FoldName(std::u16string_view s) {
  std::u16string out(s);
  for (char16_t& c : out) c = FoldUnit(c);
  return out;
}

int64_t RegFile::Child(uint32_t parent, std::u16string_view name) const {
  const auto& children = keys[parent].children;
  auto it = children.find(FoldName(name));
  return it == children.end() ? -1 : static_cast<int64_t>(it->second);
}

const RegFileValue* RegFile::Value(uint32_t key, std::u16string_view name) const {
  const std::u16string folded = FoldName(name);
  const auto& values = keys[key].values;
  for (auto it = values.rbegin(); it != values.rend(); ++it) {
    if (it->name.size() == folded.size() && FoldName(it->name) == folded) return &*it;
  }
  return nullptr;
}

RegFile ParseRegFile(std::string_view text) { return Parser(text).Run(); }

}  // namespace kw
