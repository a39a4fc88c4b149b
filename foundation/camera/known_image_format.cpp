#include "foundation/camera/known_image_format.h"

const KnownImageFormat kKnownImageFormats[kNumKnownImageFormats] = {
    {"PAL 4:3 (DV)", 4.0 / 3.0, 720, 576, 25.0},
    {"PAL 16:9 anamorphic (DV)", 16.0 / 9.0, 720, 576, 25.0},
    {"NTSC 4:3 (DV)", 4.0 / 3.0, 720, 486, 30.0},
    {"NTSC 4:3 anamorphic (DV)", 16.0 / 9.0, 720, 486, 30.0},
    {"HDV 1080i 16:9", 16.0 / 9.0, 1440, 1080, 25.0},
    {"HDTV 720  16:9", 16.0 / 9.0, 1280, 720, 25.0},
    {"HDTV 1080 16:9", 16.0 / 9.0, 1920, 1080, 25.0},
    {"4k Digital Cinema", 16.0 / 9.0, 4096, 2160, 24.0},
    {"2k Digital Cinema", 16.0 / 9.0, 2048, 1080, 24.0},
    {"35mm 1.33:1 Full Aperture (cine)", 1.33, 4096, 3072, 24.0},
    {"35mm 1.37:1 Academy (cine)", 1.37, 4096, 2987, 24.0},
    {"35mm 1.66:1 (cine)", 1.66, 4096, 2458, 24.0},
    {"35mm 1.75:1 (cine)", 1.75, 4096, 2340, 24.0},
    {"35mm 1.85:1 (cine)", 1.85, 4096, 2214, 24.0},
    {"35mm Anamorphic (2.35:1)", 2.35, 4096, 1743, 24.0},
    {"35mm Anamorphic (2.35:1) (Squeezed)", 2.35, 4096, 3486, 24.0},
    {"70mm Panavision (cine)", 2.2, 4096, 1862, 24.0},
    {"70mm IMAX (cine)", 1.37, 4096, 3003, 24.0},
    {"VistaVision, 35mm (24mm X 36mm)(slide)", 1.5, 4096, 2731, 24.0},
    {"6cm X 6cm(2 1/4\" X 2 1/4\")(slide)", 1.0, 4096, 4096, 24.0},
    {"4\" X 5\" or 8\" X 10\"", 1.33, 4096, 3072, 24.0},
    {"Wide-aspect computer display (3:2)", 1.5, 1440, 960, 24.0},
};

namespace {

const KnownImageFormat* FindRow(uint32_t width, uint32_t height) {
  for (const KnownImageFormat& row : kKnownImageFormats) {
    if (row.width == width && row.height == height) return &row;
  }
  return nullptr;
}

}  // namespace

const char* FindKnownImageFormat(uint32_t width, uint32_t height, double& pixel_aspect,
                                 double& frame_aspect, double& frame_rate) {
  const KnownImageFormat* row = FindRow(width, height);
  if (row == nullptr) {
    pixel_aspect = 1.0;
    frame_aspect = (width != 0 && height != 0) ? double(width) / double(height) : 1.0;
    frame_rate = 25.0;
    return nullptr;
  }
  pixel_aspect = double(height) * row->frame_aspect / double(width);
  frame_aspect = row->frame_aspect;
  frame_rate = row->frame_rate;
  return row->name;
}

const char* FindKnownImageFormatName(uint32_t width, uint32_t height) {
  const KnownImageFormat* row = FindRow(width, height);
  return row != nullptr ? row->name : nullptr;
}
