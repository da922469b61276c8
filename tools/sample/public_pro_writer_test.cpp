#include "tools/sample/public_pro_writer.h"

#include <gtest/gtest.h>

#include "platform/fakes/fake_window.h"
#include "tests/support/refusing_platform.h"
#include "platform/fakes/fake_clock.h"
#include "platform/fakes/fake_filesystem.h"

namespace kw::sample {
namespace {

class PublicProWriterTest : public ::testing::Test {
 protected:
  ClientList ReadBack(const std::string& bytes, bool* result = nullptr) {
    fs.Add("C:\\Daten\\Public\\public.pro", bytes);
    KwandorModul m;
    m.PublicDir = "C:\\Daten\\Public\\";
    FileTable files;
    ClientList list;
    const bool r = PublicProRead(host.Get(), m, files, list, 1);
    if (result) *result = r;
    return list;
  }
  FakeClock clock;
  FakeFileSystem fs{clock};
  FakeWindow window;
  kw::testing::RefusingPlatform host{fs, clock, window};
};

TEST_F(PublicProWriterTest, ClientsRoundTripThroughTheReader) {
  const std::vector<MandantRecord> clients = {
      {"Muster AG", "Mand01"}, {"", "Mand02"}, {"Müller & Söhne", "Mand03"}, {" Blank ", "X\\Y"}};
  const std::string bytes = EncodePublicPro(clients);
  // The client position sits at offset 100 and points past the header.
  EXPECT_EQ(bytes.substr(100, 4), std::string("\x79\x00\x00\x00", 4));
  bool result = false;
  const ClientList list = ReadBack(bytes, &result);
  EXPECT_TRUE(result);
  ASSERT_EQ(list.MandantCount, 4);
  ASSERT_EQ(list.Mandanten.size(), 5u);
  for (size_t i = 0; i < clients.size(); ++i) {
    EXPECT_EQ(list.Mandanten[i + 1].Name, clients[i].Name);
    EXPECT_EQ(list.Mandanten[i + 1].Directory, clients[i].Directory);
  }
}

TEST_F(PublicProWriterTest, AnEmptyListIsACountOfZero) {
  bool result = true;
  const ClientList list = ReadBack(EncodePublicPro({}), &result);
  EXPECT_FALSE(result);
  EXPECT_EQ(list.MandantCount, 0);
}

}  // namespace
}  // namespace kw::sample
