// The readers of the image-file library by format id. One row per format, each on its own line
// between comment lines so that readers landing from different files do not touch each other's
// rows. A row holding nullptr answers as an unknown format (-2).
#include "image/image_file_io.h"

namespace ImageFileIO {
namespace {

constexpr OpenRoutine kOpenRoutines[16] = {
    // 0: no format
    nullptr,
    // 1: PNM
    Adapt<OpenPNM>,
    // 2: TGA
    Adapt<OpenTGA>,
    // 3: BMP
    Adapt<OpenBMP>,
    // 4: PNG
    Adapt<OpenPNG>,
    // 5: JPEG
    Adapt<OpenJPEG>,
    // 6: GIF
    nullptr,
    // 7: DPX
    nullptr,
    // 8: Cineon
    nullptr,
    // 9: YUV4MPEG2
    nullptr,
    // 10: refused
    nullptr,
    // 11: PM
    Adapt<OpenPM>,
    // 12: CYUV
    nullptr,
    // 13: PAL-DV frame file
    nullptr,
    // 14: NTSC-DV frame file
    nullptr,
    // 15: TIFF (opened by name)
    OpenTIFF,
};

}  // namespace

OpenRoutine FindOpenRoutine(int32_t format_id) {
  if (format_id < 1 || format_id > 15) return nullptr;
  return kOpenRoutines[format_id];
}

}  // namespace ImageFileIO
