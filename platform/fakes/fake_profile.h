#pragma once
// Profile files in memory, for tests: file name -> bytes, read and written
// by the same functions as the real files. A name without '\' or '/' stands
// for the file in C:\windows; names compare without regard to ASCII case,
// and '/' counts as '\'.
#include <cctype>
#include <map>
#include <optional>
#include <string>

#include "platform/ini/ini_text.h"
#include "platform/profile.h"

namespace kw {

class FakeProfileFiles : public ProfileFiles {
 public:
  void Add(const std::string& fileName, std::string bytes) {
    files_[Key(fileName)] = std::move(bytes);
  }
  void Remove(const std::string& fileName) { files_.erase(Key(fileName)); }
  // The bytes of a file, or nullptr when there is none.
  const std::string* Find(const std::string& fileName) const {
    auto it = files_.find(Key(fileName));
    return it == files_.end() ? nullptr : &it->second;
  }
  size_t FileCount() const { return files_.size(); }

  uint32_t GetPrivateProfileStringA(const std::optional<std::string>& section,
                                    const std::optional<std::string>& key,
                                    const std::optional<std::string>& defaultValue, char* buffer,
                                    uint32_t size, const std::string& fileName) override {
    ++reads;
    const std::string* file = Find(fileName);
    return ini::GetString(file ? std::optional<std::string_view>(*file) : std::nullopt, section,
                          key, defaultValue, buffer, size);
  }

  bool WritePrivateProfileStringA(const std::string& section, const std::optional<std::string>& key,
                                  const std::optional<std::string>& value,
                                  const std::string& fileName) override {
    ++writes;
    if (failWrites) return false;
    const std::string* file = Find(fileName);
    ini::EditResult edit = ini::SetString(
        file ? std::optional<std::string_view>(*file) : std::nullopt, section, key, value);
    if (edit.status == ini::EditStatus::kFailed) return false;
    if (edit.status == ini::EditStatus::kChanged) files_[Key(fileName)] = std::move(edit.bytes);
    return true;
  }

  bool failWrites = false;  // every write fails and changes nothing
  int reads = 0;
  int writes = 0;  // write calls, failed ones included

 private:
  static std::string Key(const std::string& fileName) {
    std::string k = fileName.substr(0, fileName.find('\0'));
    for (char& c : k) {
      if (c == '/') c = '\\';
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (k.find('\\') == std::string::npos) k = "c:\\windows\\" + k;
    return k;
  }

  std::map<std::string, std::string> files_;
};

}  // namespace kw
