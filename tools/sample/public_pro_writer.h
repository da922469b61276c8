#pragma once
// Writes the host product's client list "public.pro" as the product lays it
// out: a 92-byte file head, a row of 8-byte header entries (position and
// length of a block), a block of general settings and the client block.
#include <string>
#include <vector>

#include "hostdata/client_list.h"

namespace kw::sample {

// The file's bytes; texts are written in code page 1252. The client block
// begins at position 121.
std::string EncodePublicPro(const std::vector<MandantRecord>& clients);
// Writes EncodePublicPro(clients) to a host path; throws on failure.
void WritePublicPro(const std::string& hostPath, const std::vector<MandantRecord>& clients);

}  // namespace kw::sample
