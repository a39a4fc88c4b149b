// Raw PAL-DV and NTSC-DV frame files: headerless sequences of 144,000- or 120,000-byte frames,
// decoded by DvDecoder when the first row of a frame is asked for.
#include <cstring>

#include "image/dv_decoder.h"
#include "image/image_file_io.h"
#include "image/plane_buffer_set.h"

namespace ImageFileIO {
namespace {

constexpr int32_t kWidth = 720;

const uint8_t* ReadDVRow(uint8_t* /*scratch*/, ImageFileContext* ctx, int32_t /*count*/) {
  auto* set = static_cast<PlaneBufferSet*>(ctx->decoder_state);
  if (!set) return nullptr;
  const bool pal = ctx->format_id == kFormatPALDV;
  const PlaneBufferSet::Plane& luma = set->plane[0];
  const PlaneBufferSet::Plane& cb = set->plane[1];
  const PlaneBufferSet::Plane& cr = set->plane[2];
  if (ctx->run_value == 0) {
    const int sequences = pal ? DvDecoder::kSequencesPAL : DvDecoder::kSequencesNTSC;
    for (int s = 0; s < sequences; ++s) {
      const uint8_t* sequence = Peek(ctx, DvDecoder::kSequenceBytes);
      if (!sequence) return nullptr;
      // A damaged sequence keeps the planes' previous content; the next one is still decoded.
      if (pal)
        DvDecoder::DecodeDVSequencePAL(sequence, s, luma.data, cb.data, cr.data);
      else
        DvDecoder::DecodeDVSequenceNTSC(sequence, s, luma.data, cb.data, cr.data);
      ctx->read_pos += DvDecoder::kSequenceBytes;
    }
  }
  const int32_t y = ctx->run_value;
  if (pal) {
    // PAL DV sites Cr one line below Cb.
    UpsampleChroma420(y, set->chroma_row[0], cb.data, cb.stride, cb.width, cb.rows, 0);
    UpsampleChroma420(y - 1, set->chroma_row[1], cr.data, cr.stride, cr.width, cr.rows, 0);
  } else {
    UpsampleChroma4(cb.width, cb.data + y * cb.stride, set->chroma_row[0]);
    UpsampleChroma4(cr.width, cr.data + y * cr.stride, set->chroma_row[1]);
  }
  set->rows.plane[0] = luma.data + y * luma.stride;
  set->rows.plane[1] = set->chroma_row[0];
  set->rows.plane[2] = set->chroma_row[1];
  ctx->run_value = y + 1 < ctx->height ? y + 1 : 0;
  return reinterpret_cast<const uint8_t*>(&set->rows);
}

int32_t OpenDV(ImageFileContext* ctx, bool pal) {
  ctx->width = kWidth;
  ctx->height = pal ? 576 : 480;
  ctx->bits_per_pixel = 8;
  ctx->channels = 3;
  ctx->orientation = 1;
  ctx->chroma_format = pal ? 2 : 3;
  ctx->chroma_flags = pal ? 0x10 : 0;
  ctx->first_frame_offset = 0;
  ctx->frame_size = int64_t{pal ? DvDecoder::kSequencesPAL : DvDecoder::kSequencesNTSC} *
                    DvDecoder::kSequenceBytes;
  SetDescription(ctx, pal ? "PAL-DV" : "NTSC-DV");
  PlaneBufferSet* set = AllocatePlaneBufferSet(ctx->width, ctx->height, ctx->chroma_format);
  if (!set) return int32_t(ReportImageError(-22));
  ctx->decoder_state = set;
  ctx->decoder_state2 = nullptr;
  ctx->close_hook = FreePlaneBufferSet;
  ctx->row_reader = ReadDVRow;
  ctx->converter = ConvertYCbCrRows8Limited;  // DV stores studio range
  ctx->row_bytes = int32_t(sizeof(PlanarRows));
  ctx->run_value = 0;
  return 0;
}

}  // namespace

int32_t OpenPALDV(ImageFileContext* ctx) {
  return OpenDV(ctx, true);
}
int32_t OpenNTSCDV(ImageFileContext* ctx) {
  return OpenDV(ctx, false);
}

}  // namespace ImageFileIO
