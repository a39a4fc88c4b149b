// Row-level pixel arithmetic of the image-file library: raw file rows to 32-bit pixels and back,
// YCbCr to RGB, chroma upsampling, byte swapping and the library's error reporter.
//
// Pixels are 32-bit words 0xAARRGGBB (blue in bits 0-7); in memory on this little-endian target the
// bytes run blue, green, red, fourth. Unless stated otherwise the fourth byte is 0.
//
// In-place contract of the read converters: pixel i is produced from raw bytes at or after raw
// position i, strictly in increasing order, so a raw row placed at the tail of the destination row
// (dst + 4 * count - raw size) can be expanded forwards in place. Converters hold no state and
// accept any sample values.
#pragma once

#include <cstdint>

namespace ImageFileIO {

// (destination pixels, raw row, pixel count)
using ReadConverter = void (*)(uint32_t* dst, const uint8_t* src, int32_t count);
// (destination file bytes, source pixels, pixel count); the fourth byte is never written.
using WriteConverter = void (*)(uint8_t* dst, const uint32_t* src, int32_t count);

// The record a planar row reader returns: one row per plane at full image width (luma or first
// component, Cb, Cr). Planar 8-bit rows hold one byte per sample (chroma offset by 128); planar
// 16-bit rows hold int16 samples, luma as value x 64 and chroma as (value - 128) x 64. The planar
// converters below take src pointing at this record; they read the record before writing anything.
struct PlanarRows {
  const void* plane[3];
};

// --- read converters -------------------------------------------------------------------------
void ConvertBits1(uint32_t* dst, const uint8_t* src, int32_t count);  // MSB first; set = black
void ConvertGray8(uint32_t* dst, const uint8_t* src, int32_t count);
void ConvertGray16First(uint32_t* dst, const uint8_t* src, int32_t count);
void ConvertGray16Second(uint32_t* dst, const uint8_t* src, int32_t count);
void ConvertRGB555(uint32_t* dst, const uint8_t* src, int32_t count);  // little-endian words
void ConvertRGB565(uint32_t* dst, const uint8_t* src, int32_t count);  // little-endian words
void ConvertBGR24(uint32_t* dst, const uint8_t* src, int32_t count);
void ConvertRGB24(uint32_t* dst, const uint8_t* src, int32_t count);
void ConvertRGBA32(uint32_t* dst, const uint8_t* src, int32_t count);
void ConvertARGB32(uint32_t* dst, const uint8_t* src, int32_t count);
void ConvertABGR32(uint32_t* dst, const uint8_t* src, int32_t count);
void ConvertIdentity(uint32_t* dst, const uint8_t* src, int32_t count);  // no-op when in place
void ConvertRGB48First(uint32_t* dst, const uint8_t* src, int32_t count);
void ConvertBGR48First(uint32_t* dst, const uint8_t* src, int32_t count);
void ConvertRGBA64First(uint32_t* dst, const uint8_t* src, int32_t count);
void ConvertRGB10(uint32_t* dst, const uint8_t* src, int32_t count);         // little-endian word
void ConvertRGB10Swapped(uint32_t* dst, const uint8_t* src, int32_t count);  // big-endian word
// One little-endian 32-bit word per two pixels: Cb, Y0, Cr, Y1 from the most significant byte down.
void ConvertCbYCrY8(uint32_t* dst, const uint8_t* src, int32_t count);
// Groups of four little-endian words per six pixels, three 10-bit components per word in bits
// 22-31, 12-21, 2-11; a row's last 1 to 5 pixels come from the start of a further group.
void ConvertCbYCrY10(uint32_t* dst, const uint8_t* src, int32_t count);
// src points at a PlanarRows record. A null Cb or Cr row gives grey from the luma row.
void ConvertYCbCrRows8(uint32_t* dst, const uint8_t* src, int32_t count);
// The same for studio (limited) range samples: luma 16..235, chroma 16..240 (BT.601), as video
// stores them; values outside the range clamp.
void ConvertYCbCrRows8Limited(uint32_t* dst, const uint8_t* src, int32_t count);
void ConvertGray8Limited(uint32_t* dst, const uint8_t* src, int32_t count);  // grey byte, 16..235
void ConvertYCbCrRows16(uint32_t* dst, const uint8_t* src, int32_t count);
// ConvertYCbCrRows16 by one code path, so that tests can hold the vector forms to the scalar one
// (every path gives the same pixels). A path the processor lacks falls back to a narrower one.
enum class YCbCr16Path { kScalar, kSse2, kAvx2 };
void ConvertYCbCrRows16By(YCbCr16Path path, uint32_t* dst, const uint8_t* src, int32_t count);
void ConvertGrayRow16(uint32_t* dst, const uint8_t* src, int32_t count);  // uses plane[0]
void ConvertRGBRows16(uint32_t* dst, const uint8_t* src, int32_t count);

// --- write converters ------------------------------------------------------------------------
void WriteGray8(uint8_t* dst, const uint32_t* src, int32_t count);   // (9B + 36G + 19R + 32) >> 6
void WriteGray16(uint8_t* dst, const uint32_t* src, int32_t count);  // 76R + 144G + 36B, big-endian
void WriteRGB24(uint8_t* dst, const uint32_t* src, int32_t count);
void WriteBGR24(uint8_t* dst, const uint32_t* src, int32_t count);
void WriteRGB48(uint8_t* dst, const uint32_t* src, int32_t count);  // value, 0 per sample

// --- chroma upsampling of 8-bit rows -----------------------------------------------------------
// Siting flags: 0x01 or 0x02 interlaced, 0x04 chroma horizontally centred between two luma samples,
// 0x08 chroma vertically centred between two luma rows.
// Horizontal 2:1, n source samples to 2n outputs.
void UpsampleChroma2(const uint8_t* src, int32_t n, uint8_t* dst, int flags);
// Horizontal 4:1, n source samples to 4n outputs.
void UpsampleChroma4(int32_t n, const uint8_t* src, uint8_t* dst);
// The full-width chroma row for luma row y of a 4:2:0 plane of chroma_height rows of chroma_width
// samples (stride bytes apart); dst receives 2 x chroma_width samples.
void UpsampleChroma420(int32_t y, uint8_t* dst, const uint8_t* plane, int32_t stride,
                       int32_t chroma_width, int32_t chroma_height, int flags);
// Two outputs per chroma sample between row f and row g: horizontal phase p (eighths; -2 or 0) and
// vertical weight w (eighths of the way from f to g). Results are clamped to 0..255.
void InterpolateChroma2D(const uint8_t* row_g, uint8_t* dst, const uint8_t* row_f, int p, int w,
                         int32_t n);

// --- planar helpers of the CYUV reader ----------------------------------------------------------
void WidenLuma16(int32_t n, const uint8_t* src, int16_t* dst);  // value x 64
// The two rows between a centre chroma row and its neighbours: (3c + a + 2) >> 2 and (3c + b + 2)
// >> 2.
void InterpolateChromaRows(int32_t n, const uint8_t* centre, uint8_t* out_above, uint8_t* out_below,
                           const uint8_t* above, const uint8_t* below);
// n 8-bit chroma samples to 2n centred 16-bit samples (x 64), upsampled horizontally.
void WidenChroma16(const uint8_t* src, int32_t n, int16_t* dst);

// Reverses the byte order of each 32-bit word; src and dst may coincide.
void SwapBytes32(int32_t count, const void* src, void* dst);

// Prints "Error %li\n" with code on stderr (one write per line) and returns code.
long ReportImageError(long code);

}  // namespace ImageFileIO
