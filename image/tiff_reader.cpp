// TIFF reader on libtiff: the whole image is decoded at open and rows are served from memory.
#include <tiffio.h>

#include <cstdlib>
#include <cstring>

#include "image/image_file_io.h"

namespace ImageFileIO {
namespace {

const uint8_t* ReadTiffRow(uint8_t*, ImageFileContext* ctx, int32_t count) {
  if (!ctx->decoder_state || ctx->run_count > ctx->height * int64_t(count) - count) return nullptr;
  const uint8_t* row = static_cast<const uint8_t*>(ctx->decoder_state) + ctx->run_count;
  ctx->run_count += count;
  return row;
}

int32_t CloseTiff(ImageFileContext* ctx) {
  std::free(ctx->decoder_state);
  ctx->decoder_state = nullptr;
  return 0;
}

}  // namespace

int32_t OpenTIFF(ImageFileContext* ctx, const char* file_name) {
  // libtiff opens files by name only: neither standard input nor a continued stream has one.
  TIFF* tif = (file_name && std::strcmp(file_name, "-") != 0) ? TIFFOpen(file_name, "r") : nullptr;
  if (!tif) return int32_t(ReportImageError(-91));
  uint32_t width = 0, height = 0;
  uint16_t bits_per_sample = 0, samples_per_pixel = 0;
  TIFFGetFieldDefaulted(tif, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetFieldDefaulted(tif, TIFFTAG_IMAGELENGTH, &height);
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits_per_sample);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples_per_pixel);
  // libtiff's RGBA interface premultiplies unassociated alpha into the colour; the picture's
  // stored colour is wanted, so such alpha is declared associated (in memory only), which
  // libtiff passes through unchanged.
  uint16_t extra_count = 0;
  uint16_t* extra = nullptr;
  if (TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &extra_count, &extra) && extra_count > 0 &&
      extra_count <= 8) {
    uint16_t kinds[8];
    bool unassociated = false;
    for (uint16_t i = 0; i < extra_count; ++i) {
      kinds[i] = extra[i] == EXTRASAMPLE_UNASSALPHA ? uint16_t(EXTRASAMPLE_ASSOCALPHA) : extra[i];
      unassociated = unassociated || extra[i] == EXTRASAMPLE_UNASSALPHA;
    }
    if (unassociated) TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, extra_count, kinds);
  }
  uint32_t* image = nullptr;
  if (ImageSizeFits(width, height, 4)) {
    image = static_cast<uint32_t*>(std::malloc(size_t(width) * height * 4));
  }
  if (!image || !TIFFReadRGBAImageOriented(tif, width, height, image, ORIENTATION_TOPLEFT, 0)) {
    std::free(image);
    TIFFClose(tif);
    return int32_t(ReportImageError(-92));
  }
  TIFFClose(tif);
  ctx->decoder_state = image;
  ctx->close_hook = CloseTiff;
  ctx->width = int32_t(width);
  ctx->height = int32_t(height);
  ctx->bits_per_pixel = uint8_t(bits_per_sample * samples_per_pixel);
  ctx->channels = 4;
  ctx->orientation = 1;
  ctx->row_bytes = int32_t(4 * width);
  ctx->run_count = 0;
  ctx->row_reader = ReadTiffRow;
  ctx->converter = ConvertRGBA32;  // libtiff's packed words: bytes red, green, blue, alpha here
  SetDescription(ctx, "TIFF-%d", int(ctx->bits_per_pixel));
  return 0;
}

}  // namespace ImageFileIO
