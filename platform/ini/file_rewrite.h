#pragma once
// Rewrites a whole file as the profile functions of Windows do: the file
// keeps its name, its mode, its owner (where allowed), its extended
// attributes (with them its ACLs) and its other hard links.
#include <sys/stat.h>

#include <optional>
#include <string>

namespace kw {

// Gives the file at path the content bytes. old: the status of the file
// replaced, or none when path does not exist yet. A file with one name is
// replaced atomically by a new file renamed over it, so that it holds the
// old or the new text whatever happens. A file with other hard links, or
// in a folder that cannot take a new file, or whose extended attributes
// cannot be given to a new one, is written in place and flushed.
// False when the content could not be written whole.
bool RewriteFile(const std::string& path, const std::string& bytes,
                 const std::optional<struct stat>& old);

}  // namespace kw
