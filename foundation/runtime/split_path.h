// Splitting a path into its directory and file name.
#pragma once

#include <string>

// Splits at the last backslash, or when there is none at the last slash: directory
// is the text before the separator, name the text after it. Without a separator the
// directory is empty and the name is the whole path. A null path gives two empty texts.
void SplitPath(const char* path, std::string* directory, std::string* name);
