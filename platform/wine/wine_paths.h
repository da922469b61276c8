#pragma once
// Maps the Windows path texts of the logic to host paths, as Wine does:
// X:\a\b is <prefix>/dosdevices/x:/a/b, \\server\share\a (a network share)
// is <prefix>/dosdevices/unc/server/share/a, a path that starts with one
// backslash is on the current drive, and each name, the server's and the
// share's too, is matched without regard to case when the exact name is not
// there.
#include <string>
#include <string_view>

namespace kw {

class WinePaths {
 public:
  explicit WinePaths(std::string prefix);
  // WINEPREFIX, or ~/.wine when it is unset or empty.
  static WinePaths FromEnvironment();

  const std::string& Prefix() const { return prefix_; }
  // Host path of the Windows directory C:\windows.
  std::string WindowsDir() const;
  // Host path for a Windows path; empty when it cannot be mapped (an unknown
  // drive, a share that is not mapped, a device). A missing last part keeps
  // its spelling, so that the result can be created.
  std::string ToHost(std::string_view windowsPath) const;

 private:
  std::string UncToHost(std::string_view afterSeparators) const;
  std::string CurrentDrive() const;
  std::string prefix_;
};

// Finds an entry of dir whose name equals name without regard to case;
// the exact name wins. Empty when there is none.
std::string FindNameNoCase(const std::string& dir, const std::string& name);

}  // namespace kw
