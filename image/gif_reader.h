// GIF reader of ImageFileIO: the first image of a GIF87a or GIF89a file, its LZW data decoded
// incrementally as rows are asked for, interlacing undone. Installed by OpenGIF (declared in
// image_file_io.h); the routines below are its hooks.
#pragma once

#include <cstdint>

namespace ImageFileIO {

struct ImageFileContext;

// Delivers the next `count` bytes (palette indices) of the image data in stream order into
// destination. 0, or -1 when the data is damaged or ends (zero-length block, end code, end of
// input) before count bytes were delivered; the end code also logs "Exit! n=<bytes owed>".
int32_t DecodeGIFLZW(uint8_t* destination, ImageFileContext* ctx, int32_t count);
// Row reader: 32-bit pixels through the palette (row_bytes = 4 x width), or null.
const uint8_t* ReadGIFRow(uint8_t* destination, ImageFileContext* ctx, int32_t row_bytes);
// Close hook: skips the rest of the image data, so the stream stands after it; frees the state.
int32_t CloseGIF(ImageFileContext* ctx);

}  // namespace ImageFileIO
