// One-line summary of the EXIF block of a JPEG file (camera make, date,
// model, orientation and exposure data at fixed text columns), as the JPEG
// reader shows it to the user.
#pragma once

#include <cstdint>

struct JpegExifSummary {
  static constexpr int kTextSize = 288;
  static constexpr int kSummaryStart = 32;
  static constexpr int kOrientationDigit = 82;

  // Offset of the orientation value: within the scanned block after a scan,
  // turned by the reader into a file offset. -1 when the block has none.
  int64_t orientation_offset = -1;
  // Columns 0-31: the make (zero-terminated); 32-287: the summary.
  char text[kTextSize] = {};
  // Largest end column written, minus 32.
  uint8_t length = 0;

  // Empties the record: no make, blank summary, length 0.
  void Reset();
};

enum class JpegByteOrder { kLittle, kBig };

// Scans an APP1 block (its two length bytes first: "Exif", two zero bytes, the
// TIFF header at byte 8) or a Nikon maker note ("Nikon", 0, 2, 0x10 or 0, two
// zero bytes, the TIFF header at byte 10). Other blocks are ignored. Every
// read is bounded by `length`. depth counts nested directories (at most 8);
// tag_offset is added to the tags of the directories read.
void ScanExifHeader(JpegExifSummary* summary, const uint8_t* block, int64_t length, int depth,
                    uint32_t tag_offset);

// Scans the directory at `dir` (an offset from tiff) of a TIFF structure of
// `length` bytes, following the EXIF and interoperability pointers and, at
// depth 0, the chain of next directories.
void ScanExif(JpegExifSummary* summary, const uint8_t* tiff, int64_t dir, int64_t length,
              JpegByteOrder order, int depth, uint32_t tag_offset);
