// How long reading a Wine prefix's registry takes.
//
//   registry_parse_bench                 a generated system.reg of about 8 MB
//   registry_parse_bench FILE [FILE...]  the given .reg files
//
// Prints the size of each text, the number of keys, and the time to parse it
// and to answer the start-up query on it (best of five).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "platform/wine/reg_file.h"
#include "platform/wine/wine_registry.h"

namespace {

// A text shaped like a real system.reg: nested keys with strings, dwords and
// wrapped hex values.
std::string Generate(size_t targetBytes) {
  std::string out = "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n"
                    "#arch=win64\n\n";
  for (int n = 0; out.size() < targetBytes; ++n) {
    out += "[Software\\\\Vendor" + std::to_string(n % 97) + "\\\\Product " + std::to_string(n % 13) +
           "\\\\Key" + std::to_string(n) + "] 1796740053\n#time=1dd872043ec16d8\n";
    out += "@=\"default value " + std::to_string(n) + "\"\n";
    out += "\"Path\"=\"C:\\\\Program Files\\\\Vendor\\\\M\\xfcller\\\\" + std::to_string(n) + "\"\n";
    out += "\"Count\"=dword:" + std::to_string(10000000 + n) + "\n";
    out += "\"Blob\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\n"
           "  16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,2d,2e\n\n";
  }
  out += "[Software\\\\Wow6432Node\\\\Nolt\\\\Orbica-Kontor 5\\\\Settings] 1\n"
         "\"NoltDataDir\"=\"D:\\\\Daten\\\\\"\n";
  return out;
}

double Best(const std::function<void()>& f) {
  double best = 1e9;
  for (int i = 0; i < 5; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    const std::chrono::duration<double, std::milli> ms = std::chrono::steady_clock::now() - t0;
    best = std::min(best, ms.count());
  }
  return best;
}

void Measure(const std::string& label, const std::string& text) {
  size_t keys = 0;
  const double parse = Best([&] { keys = kw::ParseRegFile(text).keys.size(); });
  const double query = Best([&] {
    kw::WineRegistry reg(text, "");
    kw::RegKey h = 0;
    if (reg.RegOpenKeyA(kw::kHkeyLocalMachine, std::string("Software\\Nolt\\Orbica-Kontor 5\\Settings"),
                        h) == 0) {
      uint32_t size = 0;
      reg.RegQueryValueExA(h, std::string("NoltDataDir"), nullptr, nullptr, &size);
      reg.RegCloseKey(h);
    }
  });
  std::printf("%-40s %8.2f MB %8zu keys  parse %7.1f ms  open+query %7.1f ms\n", label.c_str(),
              static_cast<double>(text.size()) / 1e6, keys, parse, query);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    Measure("generated", Generate(8u << 20));
    return 0;
  }
  for (int i = 1; i < argc; ++i) {
    std::ifstream in(argv[i], std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "cannot read %s\n", argv[i]);
      return 1;
    }
    std::stringstream ss;
    ss << in.rdbuf();
    Measure(argv[i], ss.str());
  }
  return 0;
}
