#include "platform/jet/format/index_key.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "platform/jet/format/text_codec.h"

namespace kw::jet {
namespace {

constexpr uint8_t kNullKey = 0x00;
constexpr uint8_t kValueKey = 0x7F;
constexpr uint8_t kDescendingNullKey = 0xFF;  // a descending key's value flag is ~kValueKey
constexpr uint8_t kEndOfText = 0x01;
constexpr uint8_t kEndOfExtras = 0x00;
constexpr uint8_t kPlainMark = 0x02;  // a character without an accent, among the accent marks
// An apostrophe or hyphen is recorded after the text as its place (counted
// in characters that have codes before it) and its own code.
constexpr uint8_t kApostrophe = 0x80, kHyphen = 0x82;
constexpr uint32_t kPassedOverBase = 7, kPassedOverStep = 4, kPassedOverFlag = 0x8000;
constexpr uint8_t kPassedOverMidfix = 0x06;

// Accent marks as the sort order records them after the letters.
constexpr uint8_t kGrave = 0x0F, kAcute = 0x0E, kCircumflex = 0x12, kTilde = 0x19, kDiaeresis = 0x13,
                  kRing = 0x1A, kCedilla = 0x1C;

// Sort codes of the printable ASCII characters from the space (0x20) to the
// tilde (0x7E), one or two bytes each; 0 for the apostrophe and the hyphen,
// which the sort order passes over and records after the text.
struct Code {
  uint8_t first, second;
};
constexpr Code kAscii[95] = {
    // space ! " # $ % & ' ( ) * + , - . /
    {0x07, 0}, {0x09, 0}, {0x0A, 0}, {0x0C, 0}, {0x0E, 0}, {0x10, 0}, {0x12, 0}, {0, 0},
    {0x14, 0}, {0x16, 0}, {0x18, 0}, {0x2C, 0}, {0x1A, 0}, {0, 0}, {0x1C, 0}, {0x1E, 0},
    // 0 to 9
    {0x36, 0}, {0x38, 0}, {0x3A, 0}, {0x3C, 0}, {0x3E, 0}, {0x40, 0}, {0x42, 0}, {0x44, 0},
    {0x46, 0}, {0x48, 0},
    // : ; < = > ? @
    {0x20, 0}, {0x22, 0}, {0x2E, 0}, {0x30, 0}, {0x32, 0}, {0x24, 0}, {0x26, 0},
    // A to Z
    {0x4A, 0}, {0x4C, 0}, {0x4D, 0}, {0x4F, 0}, {0x51, 0}, {0x53, 0}, {0x55, 0}, {0x57, 0},
    {0x59, 0}, {0x5B, 0}, {0x5C, 0}, {0x5E, 0}, {0x60, 0}, {0x62, 0}, {0x64, 0}, {0x66, 0},
    {0x68, 0}, {0x69, 0}, {0x6B, 0}, {0x6D, 0}, {0x6F, 0}, {0x71, 0}, {0x73, 0}, {0x75, 0},
    {0x76, 0}, {0x78, 0},
    // [ \ ] ^ _ `
    {0x27, 0}, {0x29, 0}, {0x2A, 0}, {0x2B, 0x02}, {0x2B, 0x03}, {0x2B, 0x07},
    // a to z sort as A to Z
    {0x4A, 0}, {0x4C, 0}, {0x4D, 0}, {0x4F, 0}, {0x51, 0}, {0x53, 0}, {0x55, 0}, {0x57, 0},
    {0x59, 0}, {0x5B, 0}, {0x5C, 0}, {0x5E, 0}, {0x60, 0}, {0x62, 0}, {0x64, 0}, {0x66, 0},
    {0x68, 0}, {0x69, 0}, {0x6B, 0}, {0x6D, 0}, {0x6F, 0}, {0x71, 0}, {0x73, 0}, {0x75, 0},
    {0x76, 0}, {0x78, 0},
    // { | } ~
    {0x2B, 0x09}, {0x2B, 0x0B}, {0x2B, 0x0D}, {0x2B, 0x0F},
};

// The sort code of a printable ASCII character; {0, 0} for any other.
Code PlainCode(char16_t c) { return c >= 0x20 && c <= 0x7E ? kAscii[c - 0x20] : Code{0, 0}; }

struct Accented {
  char16_t letter;
  char base;
  uint8_t mark;
};

// Upper-case letters of Latin-1 with their base letter and accent; the
// lower-case ones lie 0x20 above them.
constexpr Accented kAccented[] = {
    {u'\u00C0', 'A', kGrave},     {u'\u00C1', 'A', kAcute},     {u'\u00C2', 'A', kCircumflex},
    {u'\u00C3', 'A', kTilde},     {u'\u00C4', 'A', kDiaeresis}, {u'\u00C5', 'A', kRing},
    {u'\u00C7', 'C', kCedilla},   {u'\u00C8', 'E', kGrave},     {u'\u00C9', 'E', kAcute},
    {u'\u00CA', 'E', kCircumflex}, {u'\u00CB', 'E', kDiaeresis}, {u'\u00CC', 'I', kGrave},
    {u'\u00CD', 'I', kAcute},     {u'\u00CE', 'I', kCircumflex}, {u'\u00CF', 'I', kDiaeresis},
    {u'\u00D1', 'N', kTilde},     {u'\u00D2', 'O', kGrave},     {u'\u00D3', 'O', kAcute},
    {u'\u00D4', 'O', kCircumflex}, {u'\u00D5', 'O', kTilde},     {u'\u00D6', 'O', kDiaeresis},
    {u'\u00D9', 'U', kGrave},     {u'\u00DA', 'U', kAcute},     {u'\u00DB', 'U', kCircumflex},
    {u'\u00DC', 'U', kDiaeresis}, {u'\u00DD', 'Y', kAcute},
};

const Accented* FindAccented(char16_t c) {
  const char16_t upper = (c >= u'\u00E0' && c <= u'\u00FE') ? static_cast<char16_t>(c - 0x20) : c;
  for (const Accented& a : kAccented)
    if (a.letter == upper) return &a;
  if (c == u'\u00FF') {  // y with diaeresis has no upper case in Latin-1
    static constexpr Accented kYDiaeresis{u'\u00FF', 'Y', kDiaeresis};
    return &kYDiaeresis;
  }
  return nullptr;
}

std::string Describe(char16_t c) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "U+%04X", static_cast<unsigned>(c));
  return buf;
}

void AppendText(Bytes& key, const std::string& utf8) {
  std::u16string text = Utf16FromUtf8(utf8);
  while (!text.empty() && text.back() == u' ') text.pop_back();  // trailing spaces do not count
  Bytes marks;
  Bytes passedOver;
  bool accented = false;
  for (char16_t c : text) {
    if (c == u'\'' || c == u'-') {
      const uint32_t place = (kPassedOverBase + kPassedOverStep * static_cast<uint32_t>(marks.size())) | kPassedOverFlag;
      if (place > 0xFFFF) throw std::invalid_argument("the text is too long for an index");
      passedOver.push_back(static_cast<uint8_t>(place >> 8));
      passedOver.push_back(static_cast<uint8_t>(place));
      passedOver.push_back(kPassedOverMidfix);
      passedOver.push_back(c == u'-' ? kHyphen : kApostrophe);
    } else if (const Code code = PlainCode(c); code.first != 0) {
      key.push_back(code.first);
      if (code.second != 0) key.push_back(code.second);
      marks.push_back(kPlainMark);
    } else if (const Accented* a = FindAccented(c)) {
      key.push_back(PlainCode(static_cast<char16_t>(a->base)).first);
      marks.push_back(a->mark);
      accented = true;
    } else {
      throw std::invalid_argument("the character " + Describe(c) +
                                  " cannot be indexed (printable ASCII and accented Latin letters can)");
    }
  }
  key.push_back(kEndOfText);
  if (accented) {
    while (!marks.empty() && marks.back() == kPlainMark) marks.pop_back();
    AppendBytes(key, marks);
  }
  if (!passedOver.empty()) {
    key.insert(key.end(), {kEndOfText, kEndOfText, kEndOfText});
    AppendBytes(key, passedOver);
  }
  key.push_back(kEndOfExtras);
}

// Big-endian with the sign bit flipped: negative numbers sort first.
void AppendInteger(Bytes& key, uint32_t v, int bytes) {
  const uint32_t flipped = v ^ (1u << (8 * bytes - 1));
  for (int i = bytes - 1; i >= 0; --i) key.push_back(static_cast<uint8_t>(flipped >> (8 * i)));
}

// Big-endian IEEE: positive numbers get the sign bit flipped, negative ones
// every bit, so that larger magnitudes of negative numbers sort first.
void AppendDouble(Bytes& key, double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  bits = (bits >> 63) ? ~bits : bits ^ (uint64_t{1} << 63);
  for (int i = 7; i >= 0; --i) key.push_back(static_cast<uint8_t>(bits >> (8 * i)));
}

[[noreturn]] void WrongValue() { throw std::invalid_argument("the value does not match the column's type"); }

}  // namespace

bool IndexableType(ColumnType type) {
  switch (type) {
    case ColumnType::kInteger:
    case ColumnType::kLong:
    case ColumnType::kDouble:
    case ColumnType::kDateTime:
    case ColumnType::kText:
      return true;
    default:
      return false;
  }
}

void AppendIndexKey(Bytes& key, ColumnType type, const KeyValue& value, KeyOrder order) {
  const bool descending = order == KeyOrder::kDescending;
  if (std::holds_alternative<std::monostate>(value)) {
    key.push_back(descending ? kDescendingNullKey : kNullKey);
    return;
  }
  Bytes out{kValueKey};
  switch (type) {
    case ColumnType::kInteger:
    case ColumnType::kLong: {
      const int32_t* n = std::get_if<int32_t>(&value);
      if (!n) WrongValue();
      if (type == ColumnType::kInteger && (*n < INT16_MIN || *n > INT16_MAX))
        throw std::invalid_argument("the value does not fit a short integer");
      AppendInteger(out, static_cast<uint32_t>(*n), type == ColumnType::kInteger ? 2 : 4);
      break;
    }
    case ColumnType::kDouble:
    case ColumnType::kDateTime: {
      const double* d = std::get_if<double>(&value);
      if (!d) WrongValue();
      AppendDouble(out, *d);
      break;
    }
    case ColumnType::kText: {
      const std::string* s = std::get_if<std::string>(&value);
      if (!s) WrongValue();
      AppendText(out, *s);
      break;
    }
    default:
      throw std::invalid_argument("a column of this type cannot be indexed");
  }
  if (descending) {
    for (uint8_t& b : out) b = static_cast<uint8_t>(~b);
    if (type == ColumnType::kText) out.push_back(kEndOfExtras);
  }
  AppendBytes(key, out);
}

}  // namespace kw::jet
