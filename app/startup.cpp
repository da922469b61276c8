#include "app/startup.h"

#include "config/paths.h"
#include "config/profile.h"
#include "config/reg_edit.h"

namespace kw {

bool DataDirectoryStep(Platform& p, RunState& s) {
  const std::string value = RegRead(p, s.modul, s.reg, "LOKAL", "", "NoltDataDir", "");
  s.modul.DataDir = AddBackslash(value);
  s.modul.PublicDir = s.modul.DataDir + "Public\\";
  if (!TrimBlanks(value).empty()) return true;
  p.window.ProcessEvents();
  p.window.ShowMessageBox(
      "[Orbica-Kontor]\rAllgemeineDaten= LW:\\Pfad\r\rEintrag ist im WIN.INI nicht vorhanden !",
      kMbIconCritical);
  return false;
}

void SettingsStep(Platform& p, RunState& s) {
  s.modul.AdoSettingsCount = 4;
  s.modul.AdoSettings.assign(5, AdoSetting{});
  AdoSetting& client = s.modul.AdoSettings[3];
  client.Provider = NoltDataIniRead(p, s.modul, "AdoMand", "Provider", "Microsoft.Jet.OLEDB.4.0;");
  client.DBName = NoltDataIniRead(p, s.modul, "AdoMand", "DBName", "NoltData");
  client.DBExtension = NoltDataIniRead(p, s.modul, "AdoMand", "DBExtension", ".mdb");
}

}  // namespace kw
