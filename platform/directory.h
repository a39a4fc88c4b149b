// Listing of a directory's entries (used to find the files of a numbered image
// sequence).
#pragma once

#include <string>
#include <vector>

namespace platform {

struct DirectoryEntry {
  std::string name;           // file name without directory, never "." or ".."
  bool is_directory = false;  // true for directories (symbolic links are followed)
};

// Lists the entries of the directory `path` ("" means the working directory),
// sorted by name byte for byte. Returns false (and leaves *entries empty) when the
// directory cannot be opened.
bool ListDirectory(const std::string& path, std::vector<DirectoryEntry>* entries);

}  // namespace platform
