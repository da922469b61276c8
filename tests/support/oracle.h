#pragma once
// For tests: the results recorded from Wine's own profile and registry
// functions (tests/data/oracle), and their replay against any
// implementation of the seam. The Linux implementations and the Windows
// build's calls into the real API are checked by the same cases.
#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "platform/profile.h"
#include "platform/registry.h"

namespace kw::testing {

using nlohmann::json;

inline constexpr char kSentinel[] = "@@@NOTFOUND@@@";

// tests/data/oracle/<name>, parsed.
const json& Oracle(const std::string& name);

std::string Hex(std::string_view bytes);
std::string Unhex(const std::string& hex);
// The recorded profile texts are Latin-1: each character stands for one byte.
std::optional<std::string> Latin1(const json& text);
// The registry probe's arguments were code page 1252 bytes.
std::optional<std::string> Cp1252Arg(const json& text);

// Replays one recorded registry query (RegOpenKeyA below HKLM or HKCU, a
// query without a buffer, one with a buffer of the reported size filled
// with blanks and a guard byte, RegCloseKey) and checks every result.
void ReplayRegistryQuery(RegistryStore& registry, const json& query);

// Where a recorded profile case lays down and finds its files, by their
// Windows paths.
struct ProfileFilesAt {
  std::function<void(const std::string& windowsPath, const std::string& bytes)> write;
  std::function<std::optional<std::string>(const std::string& windowsPath)> read;
};

// Lays down the files of a recorded profile case.
void LayDownProfileCase(const ProfileFilesAt& files, const json& entry);
// Replays one recorded read (after LayDownProfileCase) and checks the count,
// the bytes of the buffer and that nothing was written past it.
void ReplayProfileRead(ProfileFiles& profiles, const json& entry);
// Replays the writes of one recorded write case and its read-backs; `after`
// is the file's content afterwards (nullopt: no file).
std::optional<std::string> ReplayProfileWrite(ProfileFiles& profiles, const ProfileFilesAt& files,
                                              const json& entry);

}  // namespace kw::testing
