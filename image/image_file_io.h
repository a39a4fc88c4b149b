// ImageFileIO: the procedural image-file library. Every open image is one ImageFileContext, owned
// by the caller and passed to every call. Rows cross the interface as 32-bit pixels 0xAARRGGBB
// (see image/pixel_convert.h). Failures are small negative result codes; readers print each as
// "Error %li\n" on stderr (ReportImageError) before returning it. Nothing here throws or logs.
//
// Adding a reader:
//   1. Write `int ImageFileIO::OpenXxx(ImageFileContext* ctx)` in its own xxx_reader.cpp (the
//      routine is declared below). It is called with read_pos at the image's first byte and the
//      probe window unconsumed; it parses the header through Peek/PeekUpTo, advances read_pos past
//      what it consumed, fills width, height, bits_per_pixel, channels, orientation, row_bytes,
//      description (and first_frame_offset/frame_size when images can be addressed), installs
//      row_reader, converter and optionally close_hook, and returns 0 or ReportImageError(code).
//      Header sizes must be validated (CheckImageSize).
//   2. In image_format_table.cpp replace the nullptr of the format's row by `Adapt<OpenXxx>`.
// Until then the format answers as unknown (-2).
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/pixel_convert.h"

namespace ImageFileIO {

struct ImageFileContext;

enum FormatId : int32_t {
  kFormatPNM = 1,
  kFormatTGA = 2,
  kFormatBMP = 3,
  kFormatPNG = 4,
  kFormatJPEG = 5,
  kFormatGIF = 6,
  kFormatDPX = 7,
  kFormatCineon = 8,
  kFormatYUV4MPEG2 = 9,
  kFormatNone = 10,  // refused with -2
  kFormatPM = 11,
  kFormatCYUV = 12,
  kFormatPALDV = 13,
  kFormatNTSCDV = 14,
  kFormatTIFF = 15,
};

// Row reader: (scratch of at least count bytes, context, count = row_bytes) -> the row's raw bytes
// (inside the input buffer with read_pos advanced past them, inside scratch, or inside the decoder
// state), or null when the input ended or the data is bad. Readers producing 32-bit pixels
// themselves set row_bytes = 4 x width, write into scratch and pair with ConvertIdentity; scratch
// is then 4-byte aligned. Planar readers return a PlanarRows record (row_bytes =
// sizeof(PlanarRows)).
using RowReader = const uint8_t* (*)(uint8_t* scratch, ImageFileContext* ctx, int32_t count);
// Row writer of the writers: (converted row or the pixels themselves, context) -> 0 or negative.
using RowWriter = int32_t (*)(const uint8_t* row, ImageFileContext* ctx);
// Frees the decoder state / finishes a written file; returns 0 or a negative code.
using CloseHook = int32_t (*)(ImageFileContext* ctx);

constexpr int32_t kBufferSize = 66560;  // the context's input / output buffer
constexpr int32_t kLookBehind = 8;      // bytes kept in front of read_pos on compaction
constexpr int32_t kMaxPeek = kBufferSize - kLookBehind;  // 66,552
constexpr int32_t kWriteBlock = 65536;                   // output leaves in blocks of this size

// The part of a context that OpenRead / OpenWrite clear for each image.
struct ImageFileHead {
  int32_t width = 0;
  int32_t height = 0;
  uint8_t bits_per_pixel = 0;
  uint8_t channels = 0;
  // 0 not stated; 1 top row first, left to right; 2 top first, right to left; 3 bottom first, right
  // to left; 4 bottom first, left to right; 5-8 the transposed layouts in EXIF numbering.
  uint8_t orientation = 0;
  uint8_t chroma_format = 0;  // 1 luma only, 2 4:2:0, 3 4:1:1, 4 4:2:2, 5 4:4:0, 6 4:4:4, 7 +alpha
  uint8_t chroma_flags = 0;   // 1 bottom field first, 2 top first, 0x08/0x0C/0x10 chroma siting
  char description[15] = {};  // e.g. "PPM-24r"
  void* metadata =
      nullptr;  // per-image record of a reader (the JPEG EXIF data); freed by close_hook
  int32_t read_pos = kLookBehind;  // next unread byte of buffer
  int32_t fill_end = kLookBehind;  // one past the last valid byte (writing: bytes waiting, from 0)
  int32_t at_end = 0;              // 1 once a read returned 0 or failed
  int32_t row_bytes = 0;
  int32_t run_count = 0;  // reader state carried from row to row
  int32_t run_value = 0;
  uint32_t format_id = 0;
  int32_t descriptor = -1;  // 0 stdin when reading, 1 stdout when writing; -1 none
  int64_t first_frame_offset = 0;
  int64_t frame_size = 0;  // bytes from one image's start to the next; 0 = not addressable
  int64_t file_pos = 0;    // file offset of the byte after the last one read into the buffer
  int64_t read_limit = 0;  // file offset at which reading stops; 0 = none
  void* decoder_state = nullptr;
  void* decoder_state2 = nullptr;
  RowReader row_reader = nullptr;
  RowWriter row_writer = nullptr;
  CloseHook close_hook = nullptr;
  ReadConverter converter = nullptr;
  WriteConverter write_converter = nullptr;
  int32_t write_error = 0;  // first write failure of a writer, returned by WriteRow and Close
};

struct ImageFileContext : ImageFileHead {
  char image_id[256] = {};
  uint32_t palette[256] = {};
  alignas(16) uint8_t buffer[kBufferSize];
  // Temporary row area of ReadRow / WriteRow when the caller's row cannot serve; kept across images
  // and released by Close.
  uint8_t* scratch = nullptr;
  size_t scratch_size = 0;

  ImageFileContext() = default;
  ImageFileContext(const ImageFileContext&) = delete;
  ImageFileContext& operator=(const ImageFileContext&) = delete;
  ~ImageFileContext();
};

// --- the frame -------------------------------------------------------------------------------

// Opens path for reading: [prefix:]name[:frame | :@offset]; "-" is stdin; a null path continues
// with the next image of the stream already open in ctx (the previous image's close hook runs
// first; the buffered input is kept). Prefixes are the lower-case "pbm", "pgm", "ppm", "pnm",
// "tga", "bmp", "jpg", "gif", "dpx", "cin", "yuv", "tif", "cyuv", "paldv", "ntscdv". A failed
// ":@offset" seek gives -79. 0 or a negative code (-1, -2, -3 silent). After a failure the caller
// still calls Close.
int32_t OpenRead(ImageFileContext* ctx, const char* path);
// Reads the next row into dst (width pixels); a null dst skips the row. 0 or -22.
int32_t ReadRow(uint32_t* dst, ImageFileContext* ctx);
// Runs the close hook, closes the descriptor unless it is 0, 1 or 2, releases the scratch area.
// Returns 0, or the first write error of a writer (or the close hook's failure).
int32_t Close(ImageFileContext* ctx);
// Format id (1-15) chosen from the first 32 bytes, or -1.
int32_t ProbeFormat(const uint8_t* first32);
// Pointer to the next n unread bytes (n <= kMaxPeek) without consuming them, or null when the input
// ends first. Consume by advancing read_pos.
const uint8_t* Peek(ImageFileContext* ctx, int32_t n);
// Like Peek, but on meeting the end returns what is left (null when nothing is); once at_end is set
// returns the current position without reading, null only when read_pos is more than 7 bytes past
// fill_end.
const uint8_t* PeekUpTo(ImageFileContext* ctx, int32_t n);
// Positions the stream at frame n of a file of equal images. 0, -78 (no frame size) or -79.
int32_t SeekFrame(ImageFileContext* ctx, int64_t n);

// --- services for readers ---------------------------------------------------------------------

// 0 when width and height are positive and width x height, bytes_per_pixel x width and
// 4 x width x height fit the library's 32-bit sizes; otherwise reports and returns code.
int32_t CheckImageSize(int64_t width, int64_t height, int64_t bytes_per_pixel, int32_t code);
// The same test without a message.
bool ImageSizeFits(int64_t width, int64_t height, int64_t bytes_per_pixel);
// Shared row readers that consume bytes from the input.
const uint8_t* ReadPlainRow(uint8_t* scratch, ImageFileContext* ctx, int32_t count);
// The same with every 32-bit word byte-swapped (into scratch).
const uint8_t* ReadSwappedRow(uint8_t* scratch, ImageFileContext* ctx, int32_t count);
// The same where rows are padded to a multiple of 4 bytes; the pad is skipped.
const uint8_t* ReadPaddedRow(uint8_t* scratch, ImageFileContext* ctx, int32_t count);
// Consumes n bytes (n may exceed a buffer's worth). false when the input ends first.
bool SkipBytes(ImageFileContext* ctx, int64_t n);
// Copies the next n input bytes to dst and consumes them. false when the input ends first.
bool ReadBytes(ImageFileContext* ctx, uint8_t* dst, int64_t n);
// The next input byte, consumed, or -1 at the end of the input.
inline int NextByte(ImageFileContext* ctx) {
  if (ctx->read_pos < ctx->fill_end) return ctx->buffer[ctx->read_pos++];
  const uint8_t* p = Peek(ctx, 1);
  if (!p) return -1;
  ++ctx->read_pos;
  return *p;
}
// Writes description with snprintf semantics (at most 14 characters).
void SetDescription(ImageFileContext* ctx, const char* fmt, ...)
    __attribute__((format(printf, 2, 3)));

// --- readers (open routines called through the format table) ------------------------------------
int32_t OpenPNM(ImageFileContext* ctx);
int32_t OpenTGA(ImageFileContext* ctx);
int32_t OpenBMP(ImageFileContext* ctx);
int32_t OpenPM(ImageFileContext* ctx);
int32_t OpenPNG(ImageFileContext* ctx);
int32_t OpenTIFF(ImageFileContext* ctx, const char* file_name);
int32_t OpenJPEG(ImageFileContext* ctx);
int32_t OpenGIF(ImageFileContext* ctx);
int32_t OpenDPX(ImageFileContext* ctx);
int32_t OpenCIN(ImageFileContext* ctx);
int32_t OpenYUV4MPEG2(ImageFileContext* ctx);
int32_t OpenCYUV(ImageFileContext* ctx);
int32_t OpenPALDV(ImageFileContext* ctx);
int32_t OpenNTSCDV(ImageFileContext* ctx);

// The format table: the open routine of format id (1-15), or null when the format has no reader.
using OpenRoutine = int32_t (*)(ImageFileContext* ctx, const char* file_name);
OpenRoutine FindOpenRoutine(int32_t format_id);
template <int32_t (*Open)(ImageFileContext*)>
int32_t Adapt(ImageFileContext* ctx, const char*) {
  return Open(ctx);
}

// --- writers ------------------------------------------------------------------------------------
enum WriteType : int32_t {
  kWritePNM = 1,     // P5 (8, 16 bits) / P6 (24, 48 bits)
  kWriteTGA = 2,     // 8 or 24 bits
  kWritePNG = 4,     // 24 or 48 bits
  kWriteTGARLE = 10  // 8 or 24 bits
};
// Starts an image file; "-" is stdout, a null path continues on ctx's descriptor. Created files get
// mode 0666 minus the umask. 0, -1 (cannot create / bits unsuitable), -2 (type) or -63 (PNG).
int32_t OpenWrite(ImageFileContext* ctx, const char* path, int32_t type, int32_t width,
                  int32_t height, int32_t bits);
// Adds one row of width pixels, top row first. 0, or the first write error (negative) once one
// happened; callers stop writing then.
int32_t WriteRow(const uint32_t* pixels, ImageFileContext* ctx);

}  // namespace ImageFileIO
