#include "foundation/runtime/split_path.h"

#include <cstring>

void SplitPath(const char* path, std::string* directory, std::string* name) {
  directory->clear();
  name->clear();
  if (path == nullptr) return;
  const char* separator = std::strrchr(path, '\\');
  if (separator == nullptr) separator = std::strrchr(path, '/');
  if (separator == nullptr) {
    *name = path;
    return;
  }
  directory->assign(path, separator);
  *name = separator + 1;
}
