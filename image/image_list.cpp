#include "image/image_list.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/directory.h"
#include "platform/string_compare.h"

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Length of the path without a trailing frame selector.
std::size_t EffectiveLength(const char* path) {
  const std::size_t length = std::strlen(path);
  std::size_t i = length;
  while (i > 0 && (IsDigit(path[i - 1]) || path[i - 1] == '@')) --i;
  // i is the position after a possible ':'.
  if (i >= 2 && path[i - 1] == ':') return i - 1;
  return length;
}

bool IsAbsolute(const char* name) {
  return name[0] == '/' || name[0] == '\\' ||
         (((name[0] >= 'a' && name[0] <= 'z') || (name[0] >= 'A' && name[0] <= 'Z')) &&
          name[1] == ':' && (name[2] == '/' || name[2] == '\\'));
}

}  // namespace

bool HasExtension(const char* path, const char* extensions) {
  if (path == nullptr || extensions == nullptr) return false;
  const std::size_t length = EffectiveLength(path);
  const char* item = extensions;
  while (true) {
    const char* slash = std::strchr(item, '/');
    const std::size_t item_length =
        slash ? static_cast<std::size_t>(slash - item) : std::strlen(item);
    if (item_length > 0 && length > item_length && path[length - item_length - 1] == '.' &&
        platform::CompareNoCaseN(path + length - item_length, item, item_length) == 0) {
      return true;
    }
    if (slash == nullptr) return false;
    item = slash + 1;
  }
}

bool HasFrameSuffix(const char* path) {
  if (path == nullptr) return false;
  const std::size_t length = std::strlen(path);
  std::size_t i = length;
  while (i > 0 && IsDigit(path[i - 1])) --i;
  if (i == length) return false;  // no digits at the end
  if (i >= 1 && path[i - 1] == ':') return i - 1 >= 1;
  if (i >= 2 && path[i - 1] == '@' && path[i - 2] == ':') return i - 2 >= 2;
  return false;
}

PackedStringListPtr MakeFrameList(const char* path, std::int32_t count, std::int32_t first,
                                  std::int32_t last) {
  if (first < 0) first = 0;
  if (last < 0) last = count - 1;
  if (last < first || path == nullptr) return PackedStringListPtr();
  PackedStringListPtr list = PackedStringListPtr::Make();
  char suffix[16];
  for (std::int32_t n = first; n <= last; ++n) {
    std::snprintf(suffix, sizeof(suffix), ":%06ld", static_cast<long>(n));
    suffix[7] = '\0';  // the selector is cut to seven characters
    list->Append(suffix, n, -1, path, -1);
  }
  return list;
}

PackedStringListPtr ReadImageListFile(const char* path, std::int32_t first, std::int32_t last) {
  if (path == nullptr) return PackedStringListPtr();
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return PackedStringListPtr();
  const char* separator = nullptr;
  for (const char* p = path; *p; ++p) {
    if (*p == '/' || *p == '\\') separator = p;
  }
  const std::ptrdiff_t prefix_length = separator ? separator - path + 1 : 0;

  PackedStringListPtr list;
  char line[4096];
  std::int32_t counted = 0;
  while (std::fgets(line, sizeof(line), file) != nullptr) {
    line[std::strcspn(line, "\r\n")] = '\0';
    const char* visible = line;
    while (*visible != '\0' && static_cast<unsigned char>(*visible) <= 32) ++visible;
    if (*visible == '\0' || *visible == '#') continue;
    if (!list) list = PackedStringListPtr::Make();
    const std::int32_t n = counted++;
    if ((first < 0 || n >= first) && (last < 0 || n <= last)) {
      if (IsAbsolute(line)) {
        list->Append(line, n);
      } else {
        list->Append(line, n, -1, path, prefix_length);
      }
    }
  }
  std::fclose(file);
  return list;
}

bool FindLastDigitRun(const char* name, std::size_t* start, std::size_t* end) {
  const std::size_t length = std::strlen(name);
  std::size_t e = length;
  while (e > 0 && !IsDigit(name[e - 1])) --e;
  if (e == 0) {
    *start = *end = length;
    return false;
  }
  std::size_t s = e;
  while (s > 0 && IsDigit(name[s - 1])) --s;
  *start = s;
  *end = e;
  return true;
}

std::int64_t MatchSequenceName(const char* given, const char* found) {
  std::size_t gs, ge, fs, fe;
  const bool given_has = FindLastDigitRun(given, &gs, &ge);
  const bool found_has = FindLastDigitRun(found, &fs, &fe);
  if (given_has != found_has) return -2;
  // Without digits both runs are empty at the names' ends: the texts before them decide.
  const std::size_t given_after = std::strlen(given) - ge;
  const std::size_t found_after = std::strlen(found) - fe;
  if (gs != fs || given_after != found_after) return -3;
  if (std::memcmp(given, found, gs) != 0) return -4;
  if (std::memcmp(given + ge, found + fe, given_after) != 0) return -5;
  std::int64_t value = 0;
  for (std::size_t i = fs; i < fe; ++i) {
    value = value * 10 + (found[i] - '0');
    if (value > INT32_MAX) return -3;  // no frame number of this size exists
  }
  return value;
}

PackedStringListPtr FindSequenceFiles(const char* path, std::int32_t first, std::int32_t last) {
  if (path == nullptr) return PackedStringListPtr();
  const char* separator = nullptr;
  for (const char* p = path; *p; ++p) {
    if (*p == '/' || *p == '\\' || *p == ':') separator = p;
  }
  const std::string directory = separator ? std::string(path, separator + 1) : std::string();
  const char* name = separator ? separator + 1 : path;

  std::vector<platform::DirectoryEntry> entries;
  if (!platform::ListDirectory(directory, &entries)) return PackedStringListPtr();
  if (first < 0) first = 0;

  PackedStringListPtr list = PackedStringListPtr::Make();
  for (const platform::DirectoryEntry& entry : entries) {
    if (entry.is_directory) continue;
    const std::int64_t number = MatchSequenceName(name, entry.name.c_str());
    if (number < 0 || number < first || (last >= 0 && number > last)) continue;
    list->Append(entry.name.c_str(), static_cast<std::int32_t>(number), -1, directory.c_str(),
                 static_cast<std::ptrdiff_t>(directory.size()));
  }
  list->SortByNumber();
  for (std::int32_t i = 0; i < list->Count(); ++i) {
    if (std::strcmp(list->GetEntryName(i), path) == 0) {
      list->SetCurrentIndex(i);
      break;
    }
  }
  return list;
}
