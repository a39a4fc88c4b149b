// The frames of a sequence checked before a batch run: every frame file is read once, so
// that a frame that cannot be read, or whose picture has another size than the rest, is
// named before hours of tracking instead of being tracked as a wrong or empty picture.
//
// Only files holding one picture each are read (a multi-frame file is one stream whose
// frames the reader checks itself). The reference size is the size most frames have.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image/packed_string_list.h"

struct FrameFault {
  int32_t number = 0;  // the entry's frame number (the number in the file name)
  std::string file;
  std::string what;  // the reason, or the picture size "W x H"
};

struct SequenceFrameCheck {
  int32_t width = 0;  // the size most readable frames have; 0 when none is readable
  int32_t height = 0;
  std::vector<FrameFault> unreadable;
  std::vector<FrameFault> other_size;
};

// Reads every entry of files through the image-file library. Never throws.
SequenceFrameCheck CheckSequenceFrames(const PackedStringList& files);
