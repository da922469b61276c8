// Feeds arbitrary bytes to the client list reader as "public.pro".
// Besides crashes and sanitizer reports it stops on a broken promise: the
// file left open, a list whose size does not match its count, or more text
// than the file holds. Run from the build directory of a -DKW_FUZZ=ON build:
//   ./client_list_fuzz ../fuzz/corpus-client_list ../fuzz/seeds/client_list
#include <cstdint>
#include <cstdlib>
#include <string>

#include "hostdata/client_list.h"
#include "platform/fakes/fake_window.h"
#include "tests/support/refusing_platform.h"
#include "platform/fakes/fake_clock.h"
#include "platform/fakes/fake_filesystem.h"
#include "platform/cp1252.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kw;
  FakeClock clock;
  FakeFileSystem fs(clock);
  FakeWindow window;
  kw::testing::RefusingPlatform host{fs, clock, window};
  KwandorModul m;
  m.PublicDir = "C:\\Daten\\Public\\";
  const std::string file = m.PublicDir + "public.pro";
  fs.Add(file, std::string(reinterpret_cast<const char*>(data), size));

  FileTable files;
  ClientList list;
  const bool result = PublicProRead(host.Get(), m, files, list, kClientListKind);

  if (fs.Find(file)->lockedByUs) abort();
  if (result != (list.MandantCount > 0)) abort();
  if (result && list.Mandanten.size() != static_cast<size_t>(list.MandantCount) + 1) abort();
  if (!result && list.MandantCount <= 0 && !list.Mandanten.empty()) abort();
  size_t textBytes = 0;
  for (const MandantRecord& r : list.Mandanten) {
    textBytes += Utf8ToCp1252(r.Name).size() + Utf8ToCp1252(r.Directory).size();
  }
  if (textBytes > size) abort();
  return 0;
}
