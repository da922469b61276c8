#pragma once
// Program-wide state of the main module `Kwandor_Modul` that the directory,
// profile and settings operations share. One run owns one of these.
#include <cstdint>
#include <string>
#include <vector>

namespace kw {

// One database's settings, named after the keys of section "AdoMand".
struct AdoSetting {
  std::string Provider;
  std::string DBName;
  std::string DBExtension;
  std::string DBDir;
  std::string User;
  std::string Password;
  std::string DBPassword;
  int16_t Timeout = 0;
  int16_t Options = 0;
};

struct KwandorModul {
  std::string DataDir;     // trimmed, ends in a backslash
  std::string PublicDir;   // DataDir + "Public\"
  std::string MandantDir;  // current client's directory; empty before the client pass
  int16_t AdoSettingsCount = 0;
  std::vector<AdoSetting> AdoSettings;  // slots 1..AdoSettingsCount; [0] unused
  int16_t MandantNr = 0;                // read only by the registry module
};

}  // namespace kw
