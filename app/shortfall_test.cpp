#include "app/shortfall.h"

#include <gtest/gtest.h>

#include "platform/window.h"

namespace kw {
namespace {

constexpr char kHead[] = "Die Umstellung der Vorwahlnummern ist nicht vollständig.";
constexpr char kTail[] =
    "\r\n\r\nStarten Sie die Umstellung erneut, sobald die Ursache behoben ist; sie stellt um, was "
    "noch fehlt.";

TEST(ClosingMessage, NothingLeftUndoneNeedsNoMessage) {
  const Shortfall none;
  EXPECT_FALSE(none.Any());
  EXPECT_EQ(ClosingMessage(none), "");
}

TEST(ClosingMessage, EachDatabaseThatLostRowsIsNamedOnce) {
  Shortfall s;
  s.LostRows("D:\\Daten\\Public\\Public.mdb");
  s.LostRows("\\\\srv\\daten\\Mand01\\NoltData.mdb");
  s.LostRows("D:\\Daten\\Public\\Public.mdb");
  EXPECT_EQ(ClosingMessage(s), std::string(kHead) +
                                   "\r\n\r\n"
                                   "In der Datenbank: D:\\Daten\\Public\\Public.mdb\r\n"
                                   " konnten geänderte Datensätze nicht gespeichert werden\r\n"
                                   "In der Datenbank: \\\\srv\\daten\\Mand01\\NoltData.mdb\r\n"
                                   " konnten geänderte Datensätze nicht gespeichert werden" +
                                   kTail);
  EXPECT_EQ(ClosingMessageStyle(s), kMbIconCritical);
  Shortfall unknown;
  unknown.LostRows("");
  EXPECT_EQ(ClosingMessage(unknown), std::string(kHead) +
                                         "\r\n\r\nGeänderte Datensätze konnten nicht gespeichert werden" +
                                         kTail);
}

TEST(ClosingMessage, AbandonedClientsAloneAreAWarning) {
  Shortfall s;
  s.Abandoned("Müller & Co", "Record is deleted.");
  EXPECT_EQ(ClosingMessage(s), std::string(kHead) +
                                   "\r\n\r\nDer Mandant: Müller & Co\r\n"
                                   " wurde nicht vollständig umgestellt (Record is deleted.)" +
                                   kTail);
  EXPECT_EQ(ClosingMessageStyle(s), kMbIconExclamation);
}

// A box taller than the screen would hide its OK button: ten entries of a
// kind are listed, the rest counted.
TEST(ClosingMessage, LongListsAreCutShortAndTheRestCounted) {
  const struct {
    int count;
    const char* clientsMore;    // "" when all are listed
    const char* databasesMore;
  } cases[] = {
      {10, "", ""},
      {11, "... und 1 weiterer Mandant", "... und 1 weitere Datenbank"},
      {25, "... und 15 weitere Mandanten", "... und 15 weitere Datenbanken"},
  };
  for (const auto& c : cases) {
    Shortfall s;
    for (int i = 1; i <= c.count; ++i) {
      s.Abandoned("Kunde " + std::to_string(i), "Record is deleted.");
      s.LostRows("D:\\Daten\\K" + std::to_string(i) + "\\NoltData.mdb");
    }
    const std::string text = ClosingMessage(s);
    EXPECT_NE(text.find("Der Mandant: Kunde 10\r\n"), std::string::npos) << c.count;
    EXPECT_EQ(text.find("Der Mandant: Kunde 11\r\n"), std::string::npos) << c.count;
    EXPECT_NE(text.find("In der Datenbank: D:\\Daten\\K10\\"), std::string::npos) << c.count;
    EXPECT_EQ(text.find("In der Datenbank: D:\\Daten\\K11\\"), std::string::npos) << c.count;
    for (const char* more : {c.clientsMore, c.databasesMore}) {
      if (*more) EXPECT_NE(text.find(std::string("\r\n") + more + "\r\n"), std::string::npos) << more;
    }
    if (!*c.clientsMore) EXPECT_EQ(text.find("... und"), std::string::npos) << c.count;
    size_t lines = 1;
    for (char ch : text) lines += ch == '\n';
    EXPECT_LE(lines, 48u) << c.count;
  }
}

}  // namespace
}  // namespace kw
