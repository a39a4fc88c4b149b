#include "platform/directory.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>

namespace platform {

bool ListDirectory(const std::string& path, std::vector<DirectoryEntry>* entries) {
  entries->clear();
  const std::string dir = path.empty() ? std::string(".") : path;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return false;
  while (dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    DirectoryEntry entry;
    entry.name = name;
    if (e->d_type == DT_DIR) {
      entry.is_directory = true;
    } else if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
      struct stat st;
      const std::string full = dir + "/" + name;
      entry.is_directory = stat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }
    entries->push_back(std::move(entry));
  }
  closedir(d);
  std::sort(entries->begin(), entries->end(),
            [](const DirectoryEntry& a, const DirectoryEntry& b) { return a.name < b.name; });
  return true;
}

}  // namespace platform
