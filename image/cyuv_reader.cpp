// CYUV files ("lcmp yuv" header, possibly with every 32-bit word byte-swapped). The header is
// recognised, but the format's coded line pairs use three code tables that are not available to
// us, so the reader refuses these files with its own code instead of showing wrong pixels.
#include <cstring>

#include "foundation/runtime/notify.h"
#include "image/image_file_io.h"

namespace ImageFileIO {
namespace {

constexpr int32_t kHeaderBytes = 24;
constexpr int32_t kUnsupported = -99;

bool HeaderMatches(const uint8_t* words) {
  if (std::memcmp(words, "lcmpyuv\n", 8) != 0) return false;
  return std::memcmp(words + 8, "420\n", 4) == 0 || std::memcmp(words + 8, "422\n", 4) == 0 ||
         std::memcmp(words + 8, "444\n", 4) == 0;
}

}  // namespace

int32_t OpenCYUV(ImageFileContext* ctx) {
  const uint8_t* p = Peek(ctx, kHeaderBytes);
  if (!p) return int32_t(ReportImageError(-84));
  uint8_t header[kHeaderBytes];
  std::memcpy(header, p, kHeaderBytes);
  bool swapped = false;
  if (!HeaderMatches(header)) {
    SwapBytes32(kHeaderBytes / 4, header, header);
    if (!HeaderMatches(header)) return int32_t(ReportImageError(-85));
    swapped = true;
  }
  ctx->read_pos += kHeaderBytes;
  ctx->decoder_state2 = reinterpret_cast<void*>(intptr_t{swapped});
  Notify(2, "CYUV %.3s: coded CYUV data is not supported",
         reinterpret_cast<const char*>(header + 8));
  return int32_t(ReportImageError(kUnsupported));
}

}  // namespace ImageFileIO
