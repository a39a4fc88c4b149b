// The plane buffers of the planar video readers (YUV4MPEG2, PAL-DV, NTSC-DV): one allocation with
// up to four 8-bit planes (luma, Cb, Cr, alpha) whose row strides are multiples of 16 bytes, two
// luma-wide scratch rows for the upsampled chroma of the current row, and the row record handed
// to the YCbCr converter. Owned by the context's decoder_state; freed by FreePlaneBufferSet.
#pragma once

#include <cstdint>

#include "image/pixel_convert.h"

namespace ImageFileIO {

struct ImageFileContext;

struct PlaneBufferSet {
  struct Plane {
    uint8_t* data;
    int32_t stride;
    int32_t width;
    int32_t rows;
  };
  Plane plane[4];          // luma, Cb, Cr, alpha; absent planes have null data
  uint8_t* chroma_row[2];  // upsampled Cb and Cr of the current row
  PlanarRows rows;
  bool frame_header_pending;  // YUV4MPEG2: a FRAME line precedes the next frame's planes
};

// Chroma plane size for a chroma_format (2 4:2:0, 3 4:1:1, 4 4:2:2, 5 4:4:0, 6 and 7 4:4:4);
// other formats have no chroma planes (0 x 0). Odd luma sizes round the chroma size up.
void ChromaPlaneSize(int32_t chroma_format, int32_t width, int32_t height, int32_t* chroma_width,
                     int32_t* chroma_height);

// Allocates the set for a width x height image of the chroma format (sizes already validated);
// null when the allocation fails.
PlaneBufferSet* AllocatePlaneBufferSet(int32_t width, int32_t height, int32_t chroma_format);

// Close hook of the planar readers: frees decoder_state.
int32_t FreePlaneBufferSet(ImageFileContext* ctx);

}  // namespace ImageFileIO
