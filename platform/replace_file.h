// Replacing a file as a whole: the new content is written under a temporary name in the
// target's directory and renamed over the target only once it is complete, so a reader (or
// a crash, or a full disk) sees either the old file or the new one, never a mix.
#pragma once

#include <string>

namespace platform {

// Creates an empty file that did not exist before, named path + ".~" + a number, in
// path's directory (so that ReplaceFile stays a rename within one file system). False when
// none can be created (missing directory, no permission).
bool CreateTempFileFor(const std::string& path, std::string* temp);

// Makes `from` durable on disk, gives it the permission bits of `to` when `to` exists, and
// renames it over `to`. False (nothing renamed) on any failure; `from` is then left for
// the caller to remove.
bool ReplaceFile(const std::string& from, const std::string& to);

}  // namespace platform
