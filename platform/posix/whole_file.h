#pragma once
// Reading a small file whole, as the configuration readers do.
#include <sys/stat.h>

#include <cstddef>
#include <string>

namespace kw {

enum class WholeFileStatus { kOk, kMissing, kError };

// Reads a normal file of at most maxSize bytes; st receives its status. A
// directory, a device, a pipe (opening does not wait on it) and a file larger
// than maxSize, also one that grows beyond it while read, are an error.
WholeFileStatus ReadWholeFile(const std::string& path, size_t maxSize, std::string& out,
                              struct stat& st);

}  // namespace kw
