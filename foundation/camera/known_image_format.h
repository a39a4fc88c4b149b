// Well-known film and video frame formats, looked up by frame size to derive a
// sequence's pixel aspect and frame rate and to name its format.
#ifndef KALVEX_FOUNDATION_CAMERA_KNOWN_IMAGE_FORMAT_H_
#define KALVEX_FOUNDATION_CAMERA_KNOWN_IMAGE_FORMAT_H_

#include <cstdint>

struct KnownImageFormat {
  const char* name;     // display name
  double frame_aspect;  // width : height of the whole picture as shown
  uint32_t width;       // pixels
  uint32_t height;      // pixels
  double frame_rate;    // frames per second
};

inline constexpr int kNumKnownImageFormats = 22;
// The table, in lookup order. Some rows share a size with an earlier row and
// are never found by size; they stay for their names.
extern const KnownImageFormat kKnownImageFormats[kNumKnownImageFormats];

// First row of exactly this size: pixel_aspect = height * frame aspect / width,
// frame_aspect and frame_rate from the row; returns the row's name (static
// text). No match: pixel_aspect 1.0, frame_aspect width / height (1.0 when
// either is 0), frame_rate 25.0, and null.
const char* FindKnownImageFormat(uint32_t width, uint32_t height, double& pixel_aspect,
                                 double& frame_aspect, double& frame_rate);

// Name of the first row of exactly this size, or null.
const char* FindKnownImageFormatName(uint32_t width, uint32_t height);

#endif  // KALVEX_FOUNDATION_CAMERA_KNOWN_IMAGE_FORMAT_H_
