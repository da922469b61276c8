#include "platform/wine/reg_file.h"

#include <gtest/gtest.h>

#include "platform/registry.h"

namespace kw {
namespace {

const std::string kHead = "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n";

// The key at a backslash path, or -1.
int64_t Find(const RegFile& f, std::u16string_view path) {
  int64_t key = RegFile::kRoot;
  while (!path.empty() && key >= 0) {
    const size_t cut = std::min(path.find(u'\\'), path.size());
    key = f.Child(static_cast<uint32_t>(key), path.substr(0, cut));
    path.remove_prefix(std::min(cut + 1, path.size()));
  }
  return key;
}

const RegFileValue* Value(const RegFile& f, std::u16string_view key, std::u16string_view name) {
  const int64_t k = Find(f, key);
  return k < 0 ? nullptr : f.Value(static_cast<uint32_t>(k), name);
}

std::u16string Units(const RegFileValue* v) {
  std::u16string out;
  for (size_t i = 0; v && i + 1 < v->data.size(); i += 2)
    out += static_cast<char16_t>(static_cast<uint8_t>(v->data[i]) |
                                 (static_cast<uint8_t>(v->data[i + 1]) << 8));
  return out;
}

TEST(ParseRegFile, StringEscapesAsWineWritesThem) {
  const RegFile f = ParseRegFile(kHead +
                                 "[K] 1\n"
                                 "\"Ctrl\"=\"Tab\\tNew\\nLine\\rEnd\"\n"
                                 "\"Quote\"=\"say \\\"hi\\\" \\\\ back\"\n"
                                 "\"Nul\"=\"abc\\0def\"\n"
                                 "\"Euro\"=\"\\x20ac 5\"\n"
                                 "\"Four\"=\"St\\x00fcck1\"\n"   // at most four hex digits
                                 "\"Short\"=\"M\\xfcller\"\n"
                                 "\"Octal\"=\"\\101\\1012\"\n"   // at most three octal digits
                                 "\"BareX\"=\"\\xyz\"\n"
                                 "\"Other\"=\"\\q\"\n"
                                 "\"Gr\\xf6\\x00dfe\"=\"named\"\n");
  EXPECT_EQ(Units(Value(f, u"K", u"Ctrl")), std::u16string(u"Tab\tNew\nLine\rEnd\0", 17));
  EXPECT_EQ(Units(Value(f, u"K", u"Quote")), std::u16string(u"say \"hi\" \\ back\0", 16));
  EXPECT_EQ(Units(Value(f, u"K", u"Nul")), std::u16string(u"abc\0def\0", 8));
  EXPECT_EQ(Units(Value(f, u"K", u"Euro")), std::u16string(u"\u20ac 5\0", 4));
  EXPECT_EQ(Units(Value(f, u"K", u"Four")), std::u16string(u"St\u00fcck1\0", 7));
  EXPECT_EQ(Units(Value(f, u"K", u"Short")), std::u16string(u"M\u00fcller\0", 7));
  EXPECT_EQ(Units(Value(f, u"K", u"Octal")), std::u16string(u"AA2\0", 4));
  EXPECT_EQ(Units(Value(f, u"K", u"BareX")), std::u16string(u"xyz\0", 4));
  EXPECT_EQ(Units(Value(f, u"K", u"Other")), std::u16string(u"q\0", 2));
  EXPECT_EQ(Units(Value(f, u"K", u"GR\u00d6\u00dfE")), std::u16string(u"named\0", 6));
}

TEST(ParseRegFile, TypesAndSizes) {
  const RegFile f = ParseRegFile(kHead +
                                 "[K] 1\n"
                                 "@=\"dflt\"\n"
                                 "\"Empty\"=\"\"\n"
                                 "\"EmptyNoNul\"=hex(1):\n"
                                 "\"Expand\"=str(2):\"%TEMP%\"\n"
                                 "\"Multi\"=str(7):\"a\\0b\\0\"\n"
                                 "\"Str\"=str:\"s\"\n"
                                 "\"Dword\"=dword:0000abcd\n"
                                 "\"Qword\"=hex(b):08,07,06,05,04,03,02,01\n"
                                 "\"Bin\"=hex:00,01,\\\n"
                                 "  02,ff,\\\n"
                                 "  10\n"
                                 "\"After\"=dword:1\n");
  const RegFileValue* v = Value(f, u"K", u"");
  ASSERT_TRUE(v);
  EXPECT_EQ(v->type, kRegSz);
  EXPECT_EQ(v->data.size(), 10u);
  EXPECT_EQ(Value(f, u"K", u"Empty")->data.size(), 2u);
  EXPECT_EQ(Value(f, u"K", u"EmptyNoNul")->type, kRegSz);
  EXPECT_EQ(Value(f, u"K", u"EmptyNoNul")->data.size(), 0u);
  EXPECT_EQ(Value(f, u"K", u"Expand")->type, kRegExpandSz);
  EXPECT_EQ(Units(Value(f, u"K", u"Multi")), std::u16string(u"a\0b\0\0", 5));
  EXPECT_EQ(Value(f, u"K", u"Multi")->type, kRegMultiSz);
  EXPECT_EQ(Value(f, u"K", u"Str")->type, kRegSz);
  EXPECT_EQ(Value(f, u"K", u"Dword")->data, std::string("\xcd\xab\0\0", 4));
  EXPECT_EQ(Value(f, u"K", u"Qword")->type, 11u);
  EXPECT_EQ(Value(f, u"K", u"Qword")->data, "\x08\x07\x06\x05\x04\x03\x02\x01");
  EXPECT_EQ(Value(f, u"K", u"Bin")->type, kRegBinary);
  EXPECT_EQ(Value(f, u"K", u"Bin")->data, std::string("\x00\x01\x02\xff\x10", 5));
  EXPECT_EQ(Value(f, u"K", u"After")->data, std::string("\x01\0\0\0", 4));
}

TEST(ParseRegFile, KeysNeedNoBlockOfTheirOwnAndIgnoreCase) {
  const RegFile f = ParseRegFile(kHead + "[Software\\\\Nolt\\\\Orbica-Kontor 5\\\\Settings] 1\n"
                                         "[software\\\\NOLT\\\\Other] 2\n"
                                         "[A\\\\\\\\B\\\\] 3\n");  // doubled and trailing separators
  EXPECT_GE(Find(f, u"Software"), 0);
  EXPECT_GE(Find(f, u"SOFTWARE\\nolt"), 0);
  EXPECT_GE(Find(f, u"software\\nolt\\orbica-kontor 5\\SETTINGS"), 0);
  EXPECT_EQ(Find(f, u"Software\\Nolt"), Find(f, u"SOFTWARE\\nolt"));
  EXPECT_GE(Find(f, u"Software\\Nolt\\Other"), 0);
  EXPECT_EQ(f.keys[static_cast<size_t>(Find(f, u"software\\nolt"))].name, u"Nolt");
  EXPECT_GE(Find(f, u"A\\B"), 0);
  EXPECT_LT(Find(f, u"Software\\Missing"), 0);
}

TEST(ParseRegFile, TheLastOfEqualValueNamesCountsAndBadDataLeavesAnEmptyValue) {
  const RegFile f = ParseRegFile(kHead +
                                 "[K] 1\n"
                                 "\"V\"=\"first\"\n"
                                 "\"v\"=\"second\"\n"
                                 "\"Open\"=\"no closing quote\n"
                                 "\"Hex\"=hex:0g\n"
                                 "\"BigHex\"=hex:100\n"
                                 "\"Type\"=word:1\n"
                                 "\"NoEq\" \"x\"\n"
                                 "\"Cut\"=hex:01,\\\n"
                                 "[K2] 1\n"
                                 "\"W\"=\"w\"\n");
  EXPECT_EQ(Units(Value(f, u"K", u"V")), std::u16string(u"second\0", 7));
  for (const char16_t* bad : {u"Open", u"Hex", u"BigHex", u"Type"}) {
    const RegFileValue* v = Value(f, u"K", bad);
    ASSERT_TRUE(v) << static_cast<int>(bad[0]);
    EXPECT_EQ(v->type, kRegNone);
    EXPECT_TRUE(v->data.empty());
  }
  EXPECT_EQ(Value(f, u"K", u"NoEq"), nullptr);
  // A continuation line is taken whatever it holds, as Wine takes it.
  EXPECT_EQ(Value(f, u"K", u"Cut")->type, kRegNone);
  // So the key line after it is lost, and its value lands in the key before.
  EXPECT_LT(Find(f, u"K2"), 0);
  EXPECT_EQ(Units(Value(f, u"K", u"W")), std::u16string(u"w\0", 2));
}

TEST(ParseRegFile, HeaderArchAndLineEnds) {
  EXPECT_EQ(ParseRegFile("REGEDIT4\n[K] 1\n\"V\"=\"x\"\n").keys.size(), 1u);
  EXPECT_EQ(ParseRegFile("").keys.size(), 1u);
  const RegFile f = ParseRegFile(
      "WINE REGISTRY Version 2\r\n;; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\r\n"
      "\r\n#arch=win64\r\n\r\n  [K] 1\r\n\"V\"=\"x\"\r\n#arch=win32\r\n\"Last\"=\"y\"");
  EXPECT_EQ(f.arch, "win64");
  EXPECT_EQ(f.relativeTo, u"REGISTRY\\User\\S-1-5-21-0-0-0-1000");
  EXPECT_EQ(Units(Value(f, u"K", u"V")), std::u16string(u"x\0", 2));
  EXPECT_EQ(Units(Value(f, u"K", u"Last")), std::u16string(u"y\0", 2));
}

TEST(ParseRegFile, ValuesBeforeAnyKeyAndOverlongKeysAreSkipped) {
  const std::string longName(kMaxKeyNameLength + 1, 'n');
  std::string deep;
  for (size_t i = 0; i <= kMaxKeyDepth; ++i) deep += "d\\\\";
  const RegFile f = ParseRegFile(kHead + "\"Orphan\"=\"x\"\n[" + longName + "] 1\n\"V\"=\"x\"\n[" +
                                 deep + "] 1\n\"V\"=\"x\"\n[" + std::string(kMaxKeyNameLength, 'n') +
                                 "] 1\n");
  EXPECT_EQ(f.Value(RegFile::kRoot, u"Orphan"), nullptr);
  EXPECT_EQ(f.keys.size(), 2u);  // the root and the 255-character key
}

TEST(ParseRegFile, FoldNameCoversThe1252Letters) {
  EXPECT_EQ(FoldName(u"m\u00fcller \u0161\u0153\u017e\u00ff \u00f7"),
            u"M\u00dcLLER \u0160\u0152\u017d\u0178 \u00f7");
}

}  // namespace
}  // namespace kw
