#pragma once
// The host product's client list "public.pro" in the general data directory.
//
// Layout (little-endian; positions count from 1, offsets from 0):
//   offset 100: signed 32-bit position P of the client block (0 or less: none)
//   position P: signed 32-bit count n, then n records back to back, each a
//               16-bit length and the bytes of Name, then the same for
//               Directory, both in code page 1252.
// Nothing else in the file is read.
#include <cstdint>
#include <string>
#include <vector>

#include "config/modul.h"
#include "hostdata/shared_file.h"
#include "platform/platform.h"

namespace kw {

struct MandantRecord {
  std::string Name;       // as the product shows it (UTF-8)
  std::string Directory;  // relative to DataDir
};

struct ClientList {
  std::vector<MandantRecord> Mandanten;  // indexes 1..n; [0] unused
  int16_t MandantCount = 0;              // the client pass walks 1..MandantCount
};

constexpr int16_t kClientListKind = 1;

// Reads the list of Kind 1 from PublicDir + "public.pro" (opened with
// FileOpenRetry, created empty when missing) into list and closes the file.
// True when a client block with a count above 0 was read. A count that was
// read sets MandantCount even when it is 0 or negative; a count outside the
// 16-bit range, like every failure, leaves list as it was. A record that the
// file does not hold in full stays empty. Any other Kind: false, nothing is
// opened or changed.
bool PublicProRead(Platform& p, const KwandorModul& m, FileTable& files, ClientList& list,
                   int16_t Kind);

}  // namespace kw
