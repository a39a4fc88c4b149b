// Rules for naming frames and building file lists: the extension test that picks a
// frame source, the frame-selector test, the frame list of a multi-frame file, image
// list files ("txt") and the search of a directory for a numbered sequence.
// Plain functions without state; each call builds its own list. For `first` and
// `last`, a negative value means no bound. None of them logs.
#pragma once

#include <cstdint>
#include <string>

#include "image/packed_string_list.h"

// True when the path's extension (ignoring a trailing frame selector ":123" or
// ":@123") equals one of the '/'-separated items of `extensions`, ignoring ASCII
// case. A bare name equal to an item has no extension and matches nothing.
bool HasExtension(const char* path, const char* extensions);

// True when the path ends with ':' and digits (at position >= 1) or ":@" and digits
// (at position >= 2): the frame-number and byte-offset selectors.
bool HasFrameSuffix(const char* path);

// One entry per frame n = first..last of a multi-frame file, named path + ":%06ld".
// A negative first becomes 0, a negative last count - 1; empty handle when last < first.
PackedStringListPtr MakeFrameList(const char* path, std::int32_t count, std::int32_t first,
                                  std::int32_t last);

// Reads an image list file: one name per line, '#' lines and blank lines skipped and
// not counted; counted line n becomes entry {n, name}. Relative names are taken
// relative to the list file's directory, absolute ones as they stand. Empty handle
// when the file cannot be opened or holds no counted line. Accepts LF and CRLF.
PackedStringListPtr ReadImageListFile(const char* path, std::int32_t first, std::int32_t last);

// Expands one file of a numbered sequence into all files of its directory whose names
// differ only in the last run of digits, sorted by number; the current index names
// `path` itself (0 when it was not found). Empty handle only when the directory
// cannot be read; an empty list when nothing matches.
PackedStringListPtr FindSequenceFiles(const char* path, std::int32_t first, std::int32_t last);

// Compares two names around their last runs of digits. Returns the value of the found
// name's digits, or -2 (one name has digits, the other not), -3 (the texts before or
// after the runs differ in length), -4 (the text before differs), -5 (the text after
// differs). A given name without digits matches only itself, with number 0.
std::int64_t MatchSequenceName(const char* given, const char* found);

// The last run of decimal digits in name: [*start, *end). Returns false (and sets
// both to the name's length) when there is none.
bool FindLastDigitRun(const char* name, std::size_t* start, std::size_t* end);
