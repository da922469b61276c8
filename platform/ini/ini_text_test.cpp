#include "platform/ini/ini_text.h"

#include <gtest/gtest.h>

#include <cstring>

namespace kw::ini {
namespace {

using namespace std::string_literals;

const std::string kSentinel = "@@@NOTFOUND@@@";

std::string Get(std::optional<std::string_view> file, const std::string& section,
                const std::string& key, uint32_t size = 512) {
  std::string buffer(size, '\0');
  const uint32_t n = GetString(file, section, key, kSentinel, buffer.data(), size);
  return buffer.substr(0, n);
}

// The whole buffer after listing names (nullopt section or key).
std::string List(std::string_view file, const std::optional<std::string>& section, uint32_t size,
                 uint32_t* count = nullptr) {
  std::string buffer(size, 'Z');
  const uint32_t n = GetString(file, section, std::nullopt, kSentinel, buffer.data(), size);
  if (count) *count = n;
  return buffer;
}

std::string Set(std::optional<std::string_view> file, const std::string& section,
                const std::optional<std::string>& key, const std::optional<std::string>& value) {
  EditResult r = SetString(file, section, key, value);
  EXPECT_EQ(r.status, EditStatus::kChanged);
  return r.bytes;
}

std::string Utf16Le(std::u16string_view s) {
  std::string out = "\xFF\xFE";
  for (char16_t c : s) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>(c >> 8);
  }
  return out;
}

TEST(IniTextBuffer, CountExcludesTheNulAndNothingIsWrittenPastSize) {
  const std::string file = "[S]\r\nk=0123456789\r\nq=\"abcdef\"\r\n";
  std::string buffer(8, 'Z');
  EXPECT_EQ(GetString(file, "S"s, "k"s, kSentinel, buffer.data(), 5), 4u);
  EXPECT_EQ(buffer, "0123\0ZZZ"s);
  // The quotes go before the value is cut.
  EXPECT_EQ(Get(file, "S", "q", 4), "abc");
  EXPECT_EQ(GetString(file, "S"s, "k"s, kSentinel, buffer.data(), 1), 0u);
  EXPECT_EQ(buffer[0], '\0');
  buffer.assign(8, 'Z');
  EXPECT_EQ(GetString(file, "S"s, "k"s, kSentinel, buffer.data(), 0), 0u);
  EXPECT_EQ(GetString(file, "S"s, "k"s, kSentinel, nullptr, 8), 0u);
  EXPECT_EQ(buffer, std::string(8, 'Z'));
}

TEST(IniTextBuffer, DefaultIsCutLikeAValueAndLosesOnlyTrailingSpaces) {
  std::string buffer(16, 'Z');
  EXPECT_EQ(GetString(std::nullopt, "S"s, "k"s, std::nullopt, buffer.data(), 16), 0u);
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(GetString(std::nullopt, "S"s, "k"s, " \td f \t  "s, buffer.data(), 16), 7u);
  EXPECT_EQ(buffer.substr(0, 8), " \td f \t\0"s);
  EXPECT_EQ(GetString(std::nullopt, "S"s, "k"s, "ab\0cd"s, buffer.data(), 16), 2u);
  EXPECT_EQ(Get(std::nullopt, "S", "k", 5), "@@@N");
}

TEST(IniTextBuffer, ListsThatDoNotFitEndInTwoNulsAndCountSizeMinusTwo) {
  const std::string file = "[Alpha]\r\nk=1\r\n[Beta]\r\nb1=1\r\nb2=2\r\n";
  uint32_t n = 0;
  EXPECT_EQ(List(file, std::nullopt, 12, &n), "Alpha\0Beta\0\0"s);
  EXPECT_EQ(n, 11u);
  EXPECT_EQ(List(file, std::nullopt, 9, &n), "Alpha\0B\0\0"s);
  EXPECT_EQ(n, 7u);
  EXPECT_EQ(List(file, "Beta"s, 6, &n), "b1\0b\0\0"s);
  EXPECT_EQ(n, 4u);
  EXPECT_EQ(List(file, std::nullopt, 1, &n), "\0"s);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(List("", std::nullopt, 4, &n), "\0\0ZZ"s);
  EXPECT_EQ(n, 0u);
}

TEST(IniTextRead, NamesMatchWithoutRegardToCaseInCodePage1252) {
  const std::string file =
      "[\xC4rger]\r\n\xC9T\xC9=1\r\n\x8A\x8C\x8E\x9F=2\r\nstra\xDF"
      "e=3\r\n";
  EXPECT_EQ(Get(file, "\xE4RGER", "\xE9t\xE9"), "1");
  EXPECT_EQ(Get(file, "\xC4rger", "\x9A\x9C\x9E\xFF"), "2");
  EXPECT_EQ(Get(file, "\xC4rger",
                "STRA\xDF"
                "E"),
            "3");
  EXPECT_EQ(Get(file, "\xC4rger", "strasse"), kSentinel);
}

TEST(IniTextRead, NulEndsNamesAndValuesAsInCStrings) {
  const std::string file = "[S\0x]\r\nk\0y=ab\0cd\r\n"s;
  EXPECT_EQ(Get(file, "S", "k"), "ab");
  EXPECT_EQ(Get(file, "S\0other"s, "k\0other"s), "ab");
}

TEST(IniTextRead, Utf8BomFileNamesMatchTheirCodePage1252Form) {
  const std::string file =
      "\xEF\xBB\xBF[Gr\xC3\xBC\xC3\x9F"
      "e]\r\nM\xC3\xBCller=\xE2\x82\xAC 5\r\n";
  EXPECT_EQ(Get(file,
                "GR\xDC\xDF"
                "E",
                "m\xFCller"),
            "\x80 5");
}

TEST(IniTextRead, Utf16BigEndianIsReadToo) {
  std::string file = "\xFE\xFF";
  for (char c : "[S]\r\nu=M\xFCller\r\n"s) {
    file += '\0';
    file += c;
  }
  EXPECT_EQ(Get(file, "S", "u"), "M\xFCller");
}

TEST(IniTextRead, TextLinesAndCommentsAreNoEntriesAndAreNotListed) {
  const std::string file = "[S]\r\njusttext\r\n;c=1\r\n=empty\r\nk=v\r\n";
  EXPECT_EQ(Get(file, "S", "justtext"), kSentinel);
  EXPECT_EQ(List(file, "S"s, 8), "k\0\0ZZZZZ"s);
  EXPECT_EQ(Get(file, "S", ""), "empty");
}

TEST(IniTextRead, SectionWithoutListableKeysGivesTheDefault) {
  EXPECT_EQ(List("[S]\r\n;c=1\r\n[T]\r\n", "S"s, 16).substr(0, 15), kSentinel + '\0');
}

// --- Writing: only the line concerned changes --------------------------------

TEST(IniTextWrite, OtherLinesOfAnUntidyFileStayByteForByte) {
  const std::string head = "; top\n\n  [ A ]  extra\r\n\ta = 1 \r\n\r\nnoeq\n";
  const std::string tail = "\r\n\n[B]\rb=2\r\n  ; end";
  const std::string file = head + tail;
  EXPECT_EQ(Set(file, "a", "new", "v"), head + "new=v\n" + tail);
  EXPECT_EQ(Set(file, "A", "A", "9"), "; top\n\n  [ A ]  extra\r\na=9\r\n\r\nnoeq\n" + tail);
  // The comment at the end belongs to the section: the key goes after it.
  EXPECT_EQ(Set(file, "B", "c", "3"), file + "\nc=3\n");
  EXPECT_EQ(Set(file, "C", "c", "3"), file + "\n[C]\nc=3\n");
}

TEST(IniTextWrite, NewLinesEndLikeTheFilesFirstLine) {
  EXPECT_EQ(Set("[A]\ra=1\r"s, "A", "b", "2"), "[A]\ra=1\rb=2\r");
  EXPECT_EQ(Set("[A]\na=1"s, "A", "b", "2"), "[A]\na=1\nb=2\n");
  EXPECT_EQ(Set("[A]"s, "A", "b", "2"), "[A]\r\nb=2\r\n");
  EXPECT_EQ(Set("x=1"s, "A", "b", "2"), "x=1\r\n[A]\r\nb=2\r\n");
}

TEST(IniTextWrite, SectionAboveTheFirstHeaderIsTheFilesStart) {
  EXPECT_EQ(Set("[A]\r\na=1\r\n"s, "", "top", "1"), "top=1\r\n[A]\r\na=1\r\n");
  EXPECT_EQ(Set("; c\r\n\r\n[A]\r\n"s, "  ", "top", "1"), "; c\r\ntop=1\r\n\r\n[A]\r\n");
  EXPECT_EQ(Set("\xEF\xBB\xBF[A]\r\n"s, "", "top", "1"), "\xEF\xBB\xBFtop=1\r\n[A]\r\n");
  EXPECT_EQ(Get("top=1\r\n[A]\r\n"s, "", "top"), "1");
}

TEST(IniTextWrite, WritingWhatIsStoredChangesNothing) {
  const std::string file = "[A]\r\n  k =  v w  \r\nq=\"x\"\r\n";
  EXPECT_EQ(SetString(file, " a ", "K"s, "  v w"s).status, EditStatus::kUnchanged);
  EXPECT_EQ(SetString(file, "A", "q"s, "\"x\""s).status, EditStatus::kUnchanged);
  EXPECT_EQ(Set(file, "A", "q", "x"), "[A]\r\n  k =  v w  \r\nq=x\r\n");
  EXPECT_EQ(Set(file, "A", "k", "v w  "), "[A]\r\nk=v w  \r\nq=\"x\"\r\n");
}

TEST(IniTextWrite, InputsEndAtTheirFirstNul) {
  EXPECT_EQ(Set(std::nullopt, "S\0x"s, "k\0y"s, "v\0z"s), "[S]\r\nk=v\r\n");
}

TEST(IniTextWrite, TextLineOfTheKeysNameIsLeftAndAnEntryAdded) {
  const std::string out = Set("[S]\r\nk\r\n"s, "S", "k", "1");
  EXPECT_EQ(out, "[S]\r\nk\r\nk=1\r\n");
  EXPECT_EQ(Get(out, "S", "k"), "1");
}

TEST(IniTextWrite, Utf8BomFileGetsNamesAndValuesInUtf8) {
  const std::string out = Set("\xEF\xBB\xBF[A]\r\n"s, "\xC4", "\xFC", "\x80");
  EXPECT_EQ(out, "\xEF\xBB\xBF[A]\r\n[\xC3\x84]\r\n\xC3\xBC=\xE2\x82\xAC\r\n");
  EXPECT_EQ(Get(out, "\xE4", "\xDC"), "\x80");
}

TEST(IniTextWrite, Utf16FileStaysUtf16AndKeepsItsOtherText) {
  const std::string file = Utf16Le(u"[S]\r\n  x = \u20AC\U0001F600 \r\nu=1\r\n");
  const std::string out = Set(file, "S", "u", "M\xFCller");
  EXPECT_EQ(out, Utf16Le(u"[S]\r\n  x = \u20AC\U0001F600 \r\nu=M\u00FCller\r\n"));
  EXPECT_EQ(Get(out, "S", "x"), "\x80?");
}

TEST(IniTextWrite, Utf16FileThatCannotBeHeldExactlyIsNotRewritten) {
  const std::string odd = Utf16Le(u"[S]\r\nk=v\r\n") + "x";
  EXPECT_EQ(Get(odd, "S", "k"), "v");
  EXPECT_EQ(SetString(odd, "S", "k"s, "w"s).status, EditStatus::kFailed);
  const std::string lone = Utf16Le(u"[S]\r\nk=v\xD800\r\n");
  EXPECT_EQ(Get(lone, "S", "k"), "v?");
  EXPECT_EQ(SetString(lone, "S", "j"s, "w"s).status, EditStatus::kFailed);
}

TEST(IniTextDelete, KeyGoesFromTheFirstSectionOnlyWithAllItsCopies) {
  const std::string file = "[A]\r\nk=1\r\nx=0\r\nK=2\r\n[B]\r\nk=3\r\n[a]\r\nk=4";
  const std::string out = Set(file, "a", "k", std::nullopt);
  EXPECT_EQ(out, "[A]\r\nx=0\r\n[B]\r\nk=3\r\n[a]\r\nk=4");
  EXPECT_EQ(Get(out, "A", "k"), kSentinel);
  EXPECT_EQ(SetString(out, "A", "k"s, std::nullopt).status, EditStatus::kUnchanged);
  EXPECT_EQ(SetString(out, "Z", "k"s, std::nullopt).status, EditStatus::kUnchanged);
}

TEST(IniTextDelete, SectionGoesWithEveryCopyAndItsCommentsAndBlankLines) {
  const std::string file = "top=1\r\n[A]\r\n; c\r\na=1\r\n\r\n[B]\r\nb=1\r\n[ a ]\r\na=2\r\n";
  EXPECT_EQ(Set(file, "A", std::nullopt, std::nullopt), "top=1\r\n[B]\r\nb=1\r\n");
  EXPECT_EQ(Set(file, "", std::nullopt, std::nullopt), file.substr(7));
  EXPECT_EQ(SetString(file, "Z", std::nullopt, std::nullopt).status, EditStatus::kUnchanged);
  EXPECT_EQ(SetString(std::nullopt, "Z", std::nullopt, std::nullopt).status,
            EditStatus::kUnchanged);
}

}  // namespace
}  // namespace kw::ini
