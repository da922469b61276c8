#include "platform/ini/ini_text.h"

#include <algorithm>
#include <cstring>

#include "platform/cp1252.h"
#include "platform/text_compare.h"

namespace kw::ini {
namespace {

enum class Encoding { kAnsi, kUtf8, kUtf16Le, kUtf16Be };

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// Blanks as the profile functions skip them; ^Z is a DOS end-of-file mark.
bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r' || c == '\n' || c == '\x1a';
}

std::string_view TrimLeft(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && IsBlank(s[i])) ++i;
  return s.substr(i);
}

std::string_view Trim(std::string_view s) {
  s = TrimLeft(s);
  size_t n = s.size();
  while (n > 0 && IsBlank(s[n - 1])) --n;
  return s.substr(0, n);
}

// The part of a text that a C string would hold.
std::string_view CutNul(std::string_view s) { return s.substr(0, s.find('\0')); }

// Lower case for the letters of code page 1252.
std::string Fold(std::string_view s) { return Utf8ToCp1252(FoldText(Cp1252ToUtf8(s))); }

struct Body {
  Encoding encoding = Encoding::kAnsi;
  std::string text;
  bool exact = true;  // false when the text could not be held without loss

  // Code page 1252 bytes of a part of the text, and back.
  std::string Decode(std::string_view raw) const {
    return encoding == Encoding::kAnsi ? std::string(raw) : Utf8ToCp1252(raw);
  }
  std::string Encode(std::string_view bytes) const {
    return encoding == Encoding::kAnsi ? std::string(bytes) : Cp1252ToUtf8(bytes);
  }
  std::string Serialize() const;
};

Body Load(const std::optional<std::string_view>& file) {
  Body b;
  if (!file) return b;
  const std::string_view f = *file;
  const bool le = f.size() >= 2 && f[0] == '\xFF' && f[1] == '\xFE';
  const bool be = f.size() >= 2 && f[0] == '\xFE' && f[1] == '\xFF';
  if (f.substr(0, 3) == kUtf8Bom) {
    b.encoding = Encoding::kUtf8;
    b.text = f.substr(3);
  } else if (le || be) {
    b.encoding = le ? Encoding::kUtf16Le : Encoding::kUtf16Be;
    const size_t units = (f.size() - 2) / 2;
    b.exact = (f.size() % 2) == 0;
    auto unit = [&](size_t k) -> uint32_t {
      const auto lo = static_cast<unsigned char>(f[2 + 2 * k + (le ? 0 : 1)]);
      const auto hi = static_cast<unsigned char>(f[2 + 2 * k + (le ? 1 : 0)]);
      return lo | (hi << 8);
    };
    b.text.reserve(units);
    for (size_t k = 0; k < units; ++k) {
      uint32_t cp = unit(k);
      if (cp >= 0xD800 && cp < 0xDC00 && k + 1 < units && unit(k + 1) >= 0xDC00 &&
          unit(k + 1) < 0xE000) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (unit(k + 1) - 0xDC00);
        ++k;
      } else if (cp >= 0xD800 && cp < 0xE000) {
        cp = 0xFFFD;
        b.exact = false;
      }
      AppendUtf8(b.text, cp);
    }
  } else {
    b.text = f;
  }
  return b;
}

std::string Body::Serialize() const {
  switch (encoding) {
    case Encoding::kAnsi:
      return text;
    case Encoding::kUtf8:
      return std::string(kUtf8Bom) + text;
    case Encoding::kUtf16Le:
    case Encoding::kUtf16Be: {
      const bool le = encoding == Encoding::kUtf16Le;
      std::string out = le ? "\xFF\xFE" : "\xFE\xFF";
      auto put = [&](uint32_t u) {
        const char lo = static_cast<char>(u & 0xFF);
        const char hi = static_cast<char>(u >> 8);
        out += le ? lo : hi;
        out += le ? hi : lo;
      };
      for (size_t i = 0; i < text.size();) {
        const uint32_t cp = NextUtf8(text, i);
        if (cp >= 0x10000 && cp < 0x110000) {
          put(0xD800 + ((cp - 0x10000) >> 10));
          put(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
          put(cp < 0x10000 ? cp : 0xFFFD);
        }
      }
      return out;
    }
  }
  return text;
}

enum class LineKind { kBlank, kHeader, kEntry, kText };

struct Line {
  size_t start = 0;  // first byte
  size_t end = 0;    // end of the text, where the line end starts
  size_t next = 0;   // first byte after the line end
  LineKind kind = LineKind::kBlank;
  std::string_view name;   // section or key name as spelt in the file, without blanks
  std::string_view value;  // entry value without blanks around it
};

// Walks the lines of a text from a given offset.
class LineScanner {
 public:
  explicit LineScanner(std::string_view text, size_t from = 0) : text_(text), pos_(from) {}

  bool Next(Line& line) {
    if (pos_ >= text_.size()) return false;
    line = Line{};
    line.start = pos_;
    const size_t eol = text_.find_first_of("\r\n", pos_);
    line.end = eol == std::string_view::npos ? text_.size() : eol;
    line.next = line.end;
    if (line.next < text_.size()) {
      line.next +=
          (text_[line.next] == '\r' && line.next + 1 < text_.size() && text_[line.next + 1] == '\n')
              ? 2
              : 1;
    }
    pos_ = line.next;
    const std::string_view content = Trim(text_.substr(line.start, line.end - line.start));
    const size_t close = content.rfind(']');
    const size_t eq = content.find('=');
    if (content.empty()) {
      line.kind = LineKind::kBlank;
    } else if (content[0] == '[' && close != std::string_view::npos && close > 0) {
      line.kind = LineKind::kHeader;
      line.name = Trim(content.substr(1, close - 1));
    } else if (eq != std::string_view::npos) {
      line.kind = LineKind::kEntry;
      line.name = Trim(content.substr(0, eq));
      line.value = Trim(content.substr(eq + 1));
    } else {
      line.kind = LineKind::kText;
      line.name = content;
    }
    return true;
  }

 private:
  std::string_view text_;
  size_t pos_;
};

// A name in the file against a folded name asked for.
bool Matches(const Body& b, std::string_view nameInFile, const std::string& foldedWanted) {
  return Fold(b.Decode(CutNul(nameInFile))) == foldedWanted;
}

// The folded form of a name as the caller passed it.
std::string WantedName(std::string_view name) { return Fold(Trim(CutNul(name))); }

// Where the first section of a name lies. The section "" is the part above
// the first header, and always exists.
struct Span {
  bool found = false;
  bool hasHeader = false;
  Line header;
  size_t bodyStart = 0;  // first line after the header
  size_t end = 0;        // start of the next header, or the end of the text
};

Span FindSection(const Body& b, const std::string& wanted) {
  Span span;
  LineScanner scan(b.text);
  Line line;
  if (wanted.empty()) span.found = true;
  while (scan.Next(line)) {
    if (line.kind != LineKind::kHeader) continue;
    if (span.found) {
      span.end = line.start;
      return span;
    }
    if (Matches(b, line.name, wanted)) {
      span.found = span.hasHeader = true;
      span.header = line;
      span.bodyStart = line.next;
    }
  }
  span.end = b.text.size();
  return span;
}

std::optional<std::string> FindInBody(const Body& b, std::string_view section,
                                      std::string_view key) {
  const Span span = FindSection(b, WantedName(section));
  if (!span.found) return std::nullopt;
  const std::string wantedKey = WantedName(key);
  LineScanner scan(std::string_view(b.text).substr(0, span.end), span.bodyStart);
  Line line;
  while (scan.Next(line)) {
    if (line.kind == LineKind::kEntry && Matches(b, line.name, wantedKey)) {
      return b.Decode(CutNul(line.value));
    }
  }
  return std::nullopt;
}

// The keys of a section, each followed by a NUL; comments and lines without
// '=' are not listed. nullopt when the section is missing.
std::optional<std::string> KeyNames(const Body& b, std::string_view section) {
  const Span span = FindSection(b, WantedName(section));
  if (!span.found) return std::nullopt;
  std::string list;
  LineScanner scan(std::string_view(b.text).substr(0, span.end), span.bodyStart);
  Line line;
  while (scan.Next(line)) {
    if (line.kind != LineKind::kEntry) continue;
    const std::string name = b.Decode(CutNul(line.name));
    if (name.empty() || name[0] == ';') continue;
    list += name;
    list += '\0';
  }
  return list;
}

std::string SectionNames(const Body& b) {
  std::string list;
  LineScanner scan(b.text);
  Line line;
  while (scan.Next(line)) {
    if (line.kind != LineKind::kHeader) continue;
    const std::string name = b.Decode(CutNul(line.name));
    if (name.empty()) continue;
    list += name;
    list += '\0';
  }
  return list;
}

uint32_t CopyText(std::string_view text, char* buffer, uint32_t size) {
  const size_t n = std::min<size_t>(text.size(), size - 1);
  if (n > 0) std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
  return static_cast<uint32_t>(n);
}

// A list of NUL-terminated names plus the NUL that ends the list; when it
// does not fit, the last name is cut and the count is size - 2.
uint32_t CopyList(std::string_view list, char* buffer, uint32_t size) {
  if (size == 1) {
    buffer[0] = '\0';
    return 0;
  }
  if (list.size() + 1 <= size) {
    if (!list.empty()) std::memcpy(buffer, list.data(), list.size());
    buffer[list.size()] = '\0';
    if (list.empty()) buffer[1] = '\0';
    return static_cast<uint32_t>(list.size());
  }
  std::memcpy(buffer, list.data(), size - 2);
  buffer[size - 2] = '\0';
  buffer[size - 1] = '\0';
  return size - 2;
}

std::string_view StripQuotes(std::string_view v) {
  if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0]) {
    return v.substr(1, v.size() - 2);
  }
  return v;
}

std::string LineEndOf(std::string_view text) {
  const size_t eol = text.find_first_of("\r\n");
  if (eol == std::string_view::npos) return "\r\n";
  if (text[eol] == '\n') return "\n";
  return eol + 1 < text.size() && text[eol + 1] == '\n' ? "\r\n" : "\r";
}

EditResult Changed(Body& b, size_t from, size_t to, std::string_view with) {
  b.text.replace(from, to - from, with);
  return {EditStatus::kChanged, b.Serialize()};
}

// Drops the lines for which drop(line, inSection) says so, where inSection
// tells whether the line lies in a section of the wanted name (first copy
// only when firstOnly).
template <typename Drop>
EditResult DropLines(Body& b, const std::string& wanted, bool firstOnly, Drop drop) {
  std::string out;
  out.reserve(b.text.size());
  bool inSection = wanted.empty();
  bool seen = inSection;
  bool dropped = false;
  LineScanner scan(b.text);
  Line line;
  while (scan.Next(line)) {
    if (line.kind == LineKind::kHeader) {
      inSection = (!firstOnly || !seen) && Matches(b, line.name, wanted);
      seen = seen || inSection;
    }
    if (drop(line, inSection)) {
      dropped = true;
    } else {
      out.append(b.text, line.start, line.next - line.start);
    }
  }
  if (!dropped) return {};
  b.text = std::move(out);
  return {EditStatus::kChanged, b.Serialize()};
}

}  // namespace

std::optional<std::string> FindValue(std::string_view file, std::string_view section,
                                     std::string_view key) {
  return FindInBody(Load(file), section, key);
}

uint32_t GetString(const std::optional<std::string_view>& file,
                   const std::optional<std::string>& section, const std::optional<std::string>& key,
                   const std::optional<std::string>& defaultValue, char* buffer, uint32_t size) {
  if (!buffer || size == 0) return 0;
  const Body b = Load(file);
  if (!section) return CopyList(SectionNames(b), buffer, size);
  if (!key) {
    const std::optional<std::string> list = KeyNames(b, *section);
    if (list && !list->empty()) return CopyList(*list, buffer, size);
  } else if (const auto value = FindInBody(b, *section, *key)) {
    return CopyText(StripQuotes(*value), buffer, size);
  }
  std::string_view def = defaultValue ? CutNul(*defaultValue) : std::string_view();
  while (!def.empty() && def.back() == ' ') def.remove_suffix(1);
  return CopyText(def, buffer, size);
}

EditResult SetString(const std::optional<std::string_view>& file, const std::string& section,
                     const std::optional<std::string>& key,
                     const std::optional<std::string>& value) {
  Body b = Load(file);
  if (!b.exact) return {EditStatus::kFailed, {}};
  const std::string wantedSection = WantedName(section);
  if (!key) {
    return DropLines(b, wantedSection, false,
                     [](const Line&, bool inSection) { return inSection; });
  }
  const std::string wantedKey = WantedName(*key);
  if (!value) {
    return DropLines(b, wantedSection, true, [&](const Line& line, bool inSection) {
      return inSection && line.kind == LineKind::kEntry && Matches(b, line.name, wantedKey);
    });
  }

  const std::string v(TrimLeft(CutNul(*value)));
  const std::string eol = LineEndOf(b.text);
  const std::string entry = b.Encode(TrimLeft(CutNul(*key))) + "=" + b.Encode(v) + eol;
  const Span span = FindSection(b, wantedSection);
  if (!span.found) {
    const bool ended = b.text.empty() || b.text.back() == '\n' || b.text.back() == '\r';
    const std::string add =
        (ended ? "" : eol) + "[" + b.Encode(TrimLeft(CutNul(section))) + "]" + eol + entry;
    return Changed(b, b.text.size(), b.text.size(), add);
  }

  // Replace the first entry of the key, or add one after the section's last
  // line that is not blank.
  std::optional<Line> last;
  if (span.hasHeader) last = span.header;
  LineScanner scan(std::string_view(b.text).substr(0, span.end), span.bodyStart);
  Line line;
  while (scan.Next(line)) {
    if (line.kind == LineKind::kEntry && Matches(b, line.name, wantedKey)) {
      if (b.Decode(CutNul(line.value)) == v) return {};
      const std::string replaced = std::string(line.name) + "=" + b.Encode(v);
      return Changed(b, line.start, line.end, replaced);
    }
    if (line.kind != LineKind::kBlank) last = line;
  }
  if (!last) return Changed(b, span.bodyStart, span.bodyStart, entry);
  const bool ended = last->next > last->end;
  return Changed(b, last->next, last->next, (ended ? "" : eol) + entry);
}

}  // namespace kw::ini
