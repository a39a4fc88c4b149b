// The JPEG file reader: walks the marker segments of a baseline or
// progressive file, fills a JpegDecoder, takes the EXIF summary and
// orientation and, for progressive files, decodes every scan before it
// returns. Extended (12-bit), lossless, hierarchical and arithmetic-coded
// files are refused.
#pragma once

#include "image/jpeg_decoder.h"
#include "image/jpeg_exif.h"

// What the open learns about the image.
struct JpegImageInfo {
  int width = 0;
  int height = 0;
  int channels = 0;           // 1 or 3
  int bits_per_pixel = 0;     // 8 or 24
  int orientation = 0;        // EXIF orientation 1..8, 0 not stated
  bool rgb = false;           // three components stored as RGB, not YCbCr
  char description[15] = {};  // "JPEG(gray)", "JPEG(rgb)", "JPEG(444)", ...
};

// Everything one open JPEG image owns (one per open image, so several JPEG
// files may be open at once on different threads).
struct JpegReaderState {
  JpegDecoder decoder;
  JpegExifSummary exif;
  JpegImageInfo info;
};

// Result codes of the open (each printed as "Error %li\n").
enum JpegReadError {
  kJpegExtended = -30,
  kJpegLossless = -32,
  kJpegSampling = -33,
  kJpegMarker = -34,
  kJpegScanHeader = -36,
  kJpegScanComponent = -37,
  kJpegDqtLength = -38,
  kJpegDqtId = -39,
  kJpegDriLength = -40,
  kJpegDhtClass = -41,
  kJpegDhtLength = -42,
  kJpegQuantSelector = -43,
  kJpegNoMarker = -45,
  kJpegFillBytes = -46,
  kJpegTooShort = -49,
  kJpegColourQuantSelector = -50,
  kJpegPrecision = -52,
  kJpegMixedScan = -86,
  kJpegNoInput = -89,
  kJpegInputEnded = -90,
  kJpegSegmentMissing = -97,
  kJpegTooLarge = JpegDecoder::kTooLarge,
};

// Opens the JPEG stream at the input's read position (its start-of-image
// marker). Returns 0 with the decoder ready to hand out rows (baseline: the
// input stands at the first scan's data and must stay available while rows
// are read), or a negative code after printing it.
int OpenJpegStream(JpegInput* input, JpegReaderState* state);

// The JPEG reader of the image-file library (format 5): OpenJPEG (declared in
// image_file_io.h) installs one of these row readers, which return a
// PlanarRows record of 16-bit rows, and the close hook.
namespace ImageFileIO {
struct ImageFileContext;
const uint8_t* ReadJpegRowsGray(uint8_t* scratch, ImageFileContext* ctx, int32_t count);
const uint8_t* ReadJpegRows444(uint8_t* scratch, ImageFileContext* ctx, int32_t count);
const uint8_t* ReadJpegRows422(uint8_t* scratch, ImageFileContext* ctx, int32_t count);
const uint8_t* ReadJpegRows440(uint8_t* scratch, ImageFileContext* ctx, int32_t count);
const uint8_t* ReadJpegRows420(uint8_t* scratch, ImageFileContext* ctx, int32_t count);
// Gives unread bytes back, consumes a following end-of-image marker and frees
// the decoder state (and with it the EXIF summary metadata points at).
int32_t JpegClose(ImageFileContext* ctx);
}  // namespace ImageFileIO
