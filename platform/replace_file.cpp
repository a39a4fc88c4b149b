#include "platform/replace_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace platform {

bool CreateTempFileFor(const std::string& path, std::string* temp) {
  const std::string base = path + ".~" + std::to_string(long(getpid())) + "-";
  for (int n = 0; n < 100; ++n) {
    std::string name = base + std::to_string(n);
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      *temp = std::move(name);
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

bool ReplaceFile(const std::string& from, const std::string& to) {
  const int fd = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool synced = ::fsync(fd) == 0;
  ::close(fd);
  if (!synced) return false;
  struct stat target;
  if (::stat(to.c_str(), &target) == 0) ::chmod(from.c_str(), target.st_mode & 07777);
  return std::rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace platform
