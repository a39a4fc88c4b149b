#include "image/jpeg_reader.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <vector>

#include "image/image_file_io.h"

namespace {

constexpr int kMaxFillBytes = 32;

int Fail(int code) {
  std::fprintf(stderr, "Error %li\n", long(code));
  return code;
}

int ReadFrame(const uint8_t* p, int len, bool progressive, JpegReaderState* st,
              int component_ids[3]) {
  if (len < 6) return kJpegPrecision;
  const int precision = p[0], n = p[5];
  if (precision != 8 || (n != 1 && n != 3) || len < 6 + 3 * n) return kJpegPrecision;
  JpegImageInfo& info = st->info;
  info.height = p[1] << 8 | p[2];
  info.width = p[3] << 8 | p[4];
  info.channels = n;
  info.bits_per_pixel = 8 * n;
  JpegDecoder& d = st->decoder;
  int quant[3];
  for (int c = 0; c < n; ++c) {
    component_ids[c] = p[6 + 3 * c];
    quant[c] = p[8 + 3 * c];
    if (quant[c] > 2) return n == 3 ? kJpegColourQuantSelector : kJpegQuantSelector;
  }
  JpegLayout layout = JpegLayout::kGray;
  const char* name = "JPEG(gray)";
  info.rgb = false;
  if (n == 3) {
    // Chroma sampled other than 1x1 would be read as 1x1 and give a wrong
    // picture, so such files are refused.
    if (p[7 + 3] != 0x11 || p[7 + 6] != 0x11) return kJpegSampling;
    switch (p[7]) {
      case 0x11:
        layout = JpegLayout::k444;
        info.rgb = quant[0] == 0 && quant[1] == 1 && quant[2] == 2;
        name = info.rgb ? "JPEG(rgb)" : "JPEG(444)";
        break;
      case 0x21:
        layout = JpegLayout::k422;
        name = "JPEG(422)";
        break;
      case 0x12:
        layout = JpegLayout::k440;
        name = "JPEG(440)";
        break;
      case 0x22:
        layout = JpegLayout::k420;
        name = "JPEG(420)";
        break;
      default:
        return kJpegSampling;
    }
  }
  // Rows are handed out as 32-bit pixels, so the picture must fit 32-bit sizes.
  if (info.width > 0 && info.height > 0 && int64_t(info.width) * info.height > INT32_MAX / 4)
    return kJpegTooLarge;
  std::snprintf(info.description, sizeof info.description, "%s", name);
  const int rc = d.SetFrame(info.width, info.height, layout, progressive);
  if (rc < 0) return rc;
  for (int c = 0; c < n; ++c) {
    d.component[c].id = component_ids[c];
    d.component[c].quant = quant[c];
  }
  return 0;
}

int ReadHuffmanTables(const uint8_t* p, int len, JpegDecoder* d) {
  int pos = 0;
  while (pos < len) {
    const int cls = p[pos] >> 4, id = p[pos] & 15;
    if (cls > 1 || id > 3) return kJpegDhtClass;
    if (len - pos < 17) return kJpegDhtLength;
    int total = 0;
    for (int i = 0; i < 16; ++i) total += p[pos + 1 + i];
    if (total > 256 || len - pos - 17 < total) return kJpegDhtLength;
    if (BuildHuffmanLookup(&d->huffman[2 * id + cls], p + pos + 1, p + pos + 17) != total)
      return kJpegDhtLength;
    pos += 17 + total;
  }
  return 0;
}

int ReadQuantTables(const uint8_t* p, int len, JpegDecoder* d) {
  if (len != 65 && len != 130 && len != 195) return kJpegDqtLength;
  for (int pos = 0; pos < len; pos += 65) {
    if (p[pos] > 2) return kJpegDqtId;
    std::memcpy(d->quant_raw[p[pos]], p + pos + 1, 64);
  }
  return 0;
}

struct OpenState {
  bool have_frame = false;
  bool scanned = false;
  int component_ids[3] = {-1, -1, -1};
  int dri = 0;
  bool jfif = false;         // an APP0 "JFIF" segment was seen
  int adobe_transform = -1;  // the APP14 "Adobe" segment's colour transform, -1 without one
};

// The colour space of a three-component frame: a JFIF marker means YCbCr, an Adobe marker says
// it by its transform (0 RGB, in any sampling); only without either do the quantisation-table
// slots of a 4:4:4 frame decide.
void ChooseColourSpace(const OpenState& os, JpegReaderState* st) {
  JpegImageInfo& info = st->info;
  if (info.channels != 3) return;
  if (os.jfif)
    info.rgb = false;
  else if (os.adobe_transform >= 0)
    info.rgb = os.adobe_transform == 0;
  else
    return;  // the slot heuristic of the frame header stands
  if (st->decoder.layout == JpegLayout::k444)
    std::snprintf(info.description, sizeof info.description, "%s",
                  info.rgb ? "JPEG(rgb)" : "JPEG(444)");
}

// One start-of-scan segment. Returns 1 when a baseline scan begins (the open
// is done), 0 after a progressive scan, or a negative code.
int ReadScan(const uint8_t* p, int len, JpegInput* input, JpegReaderState* st, OpenState* os) {
  JpegDecoder& d = st->decoder;
  if (len < 1) return kJpegScanHeader;
  const int ns = p[0];
  if (len != 2 * ns + 4 || ns < 1 || !os->have_frame || ns > d.num_components ||
      st->info.width == 0 || st->info.height == 0)
    return kJpegScanHeader;
  JpegScan scan;
  scan.num_components = ns;
  for (int i = 0; i < ns; ++i) {
    const int id = p[1 + 2 * i], td = p[2 + 2 * i] >> 4, ta = p[2 + 2 * i] & 15;
    int c = 0;
    while (c < d.num_components && os->component_ids[c] != id) ++c;
    if (c == d.num_components || td > 3 || ta > 3) return kJpegScanComponent;
    // A baseline scan is decoded as one interleaved scan in frame order.
    if (!d.progressive && c != i) return kJpegScanComponent;
    d.component[c].dc_slot = 2 * td;
    d.component[c].ac_slot = 2 * ta + 1;
    scan.component[i] = c;
  }
  if (!d.progressive && ns != d.num_components) return kJpegScanHeader;

  // The orientation from the EXIF summary.
  JpegExifSummary& exif = st->exif;
  if (exif.length != 0) {
    const int end = JpegExifSummary::kSummaryStart + exif.length;
    if (end < JpegExifSummary::kTextSize) exif.text[end] = 0;
    const char o = exif.text[JpegExifSummary::kOrientationDigit];
    if (o > ' ') st->info.orientation = o - '0';
  }
  if (!os->scanned) ChooseColourSpace(*os, st);
  d.PrescaleTables();
  os->scanned = true;
  if (!d.progressive) {
    d.restart_interval = os->dri;
    d.BeginEntropy(input);
    return 1;
  }
  scan.ss = p[len - 3];
  scan.se = p[len - 2];
  scan.ah = p[len - 1] >> 4;
  scan.al = p[len - 1] & 15;
  // DC and AC never share a scan; AC scans hold one component and stay
  // inside the block.
  if ((scan.ss == 0 && scan.se > 0) || scan.se > 63 || scan.ss > scan.se ||
      (scan.ss > 0 && ns != 1))
    return kJpegMixedScan;
  scan.restart_interval = os->dri;
  d.BeginEntropy(input);
  const int rc = scan.se == 0 ? d.DecodeProgressiveDC(scan) : d.DecodeProgressiveAC(scan);
  d.EndEntropy();
  return rc < 0 ? rc : 0;
}

int OpenStream(JpegInput* input, JpegReaderState* st) {
  int avail = 0;
  if (!input->PeekUpTo(4, &avail) || avail < 4) return kJpegTooShort;
  input->Advance(2);
  JpegDecoder& d = st->decoder;
  d.SetDefaultTables();
  st->exif.Reset();
  st->info = JpegImageInfo();
  OpenState os;
  for (;;) {
    const uint8_t* m;
    for (int fill = 0;;) {
      m = input->PeekUpTo(4, &avail);
      if (!m) return kJpegNoInput;
      if (avail < 2) return kJpegInputEnded;
      if (avail == 3) {
        input->Advance(1);
        return os.scanned ? 0 : kJpegScanHeader;
      }
      if (avail == 2) return os.scanned ? 0 : kJpegScanHeader;
      if (m[0] != 0xFF) return kJpegNoMarker;
      if (m[1] != 0xFF) break;
      if (++fill == kMaxFillBytes) return kJpegFillBytes;
      input->Advance(1);
    }
    const int marker = m[1];
    if (marker == 0xD9) return os.scanned ? 0 : kJpegScanHeader;
    const int len = (m[2] << 8 | m[3]) - 2;
    if (len < 0) return kJpegSegmentMissing;
    input->Advance(4);
    const int64_t segment_offset = input->Position();
    const uint8_t* p = input->PeekUpTo(len, &avail);
    if (len > 0 && (!p || avail < len)) return kJpegSegmentMissing;
    input->Advance(len);
    int rc = 0;
    switch (marker) {
      case 0xC0:
      case 0xC2:
        if (os.have_frame) return kJpegMarker;
        rc = ReadFrame(p, len, marker == 0xC2, st, os.component_ids);
        os.have_frame = rc == 0;
        break;
      case 0xC1:
        std::fprintf(stderr, "Extended JPEG files not supported\n");
        return kJpegExtended;
      case 0xC3:
        std::fprintf(stderr, "Lossless JPEG files not supported\n");
        return kJpegLossless;
      case 0xC4:
        rc = ReadHuffmanTables(p, len, &d);
        break;
      case 0xDB:
        rc = ReadQuantTables(p, len, &d);
        break;
      case 0xDD:
        if (len != 2) return kJpegDriLength;
        os.dri = p[0] << 8 | p[1];
        break;
      case 0xE1: {
        // The scan sees the segment with its length field in front.
        uint8_t header[2] = {uint8_t((len + 2) >> 8), uint8_t(len + 2)};
        std::vector<uint8_t> block(size_t(len) + 2);
        std::memcpy(block.data(), header, 2);
        if (len > 0) std::memcpy(block.data() + 2, p, size_t(len));
        const int64_t before = st->exif.orientation_offset;
        ScanExifHeader(&st->exif, block.data(), len + 2, 0, 0);
        if (st->exif.orientation_offset != before && segment_offset >= 0)
          st->exif.orientation_offset += segment_offset - 2;
        break;
      }
      case 0xDA:
        rc = ReadScan(p, len, input, st, &os);
        if (rc == 1) return 0;
        break;
      case 0xE0:
        if (len >= 5 && std::memcmp(p, "JFIF", 5) == 0) os.jfif = true;
        break;
      case 0xEE:
        if (len >= 12 && std::memcmp(p, "Adobe", 5) == 0) os.adobe_transform = p[11];
        break;
      default:
        if ((marker >= 0xE0 && marker <= 0xEF) || marker == 0xFE) break;
        return kJpegMarker;
    }
    if (rc < 0) return rc;
  }
}

}  // namespace

int OpenJpegStream(JpegInput* input, JpegReaderState* state) {
  const int rc = OpenStream(input, state);
  return rc < 0 ? Fail(rc) : 0;
}

// ---------------------------------------------------------------- image-file library

namespace ImageFileIO {
namespace {

// The context's buffered input as seen by the decoder.
class ContextInput : public JpegInput {
 public:
  explicit ContextInput(ImageFileContext* ctx) : ctx_(ctx) {}
  const uint8_t* PeekUpTo(int n, int* available) override {
    const uint8_t* p = ImageFileIO::PeekUpTo(ctx_, n);
    *available = p ? std::max(0, ctx_->fill_end - ctx_->read_pos) : 0;
    return *available > 0 ? p : nullptr;
  }
  void Advance(int n) override { ctx_->read_pos += n; }
  int64_t Position() const override { return ctx_->file_pos - (ctx_->fill_end - ctx_->read_pos); }

 private:
  ImageFileContext* ctx_;
};

// decoder_state of an open JPEG image; metadata points at its EXIF summary.
struct alignas(16) JpegContextState {
  explicit JpegContextState(ImageFileContext* ctx) : input(ctx) {}
  ContextInput input;
  JpegReaderState reader;
};

const uint8_t* ReadRows(uint8_t* scratch, ImageFileContext* ctx) {
  auto* st = static_cast<JpegContextState*>(ctx->decoder_state);
  const int16_t* rows[3];
  if (!st || !st->reader.decoder.ReadRows(rows)) return nullptr;
  PlanarRows record = {{rows[0], rows[1], rows[2]}};
  std::memcpy(scratch, &record, sizeof record);  // scratch may be only 4-byte aligned
  return scratch;
}

}  // namespace

// The MCU row readers, one per layout (the decoder knows its own layout).
const uint8_t* ReadJpegRowsGray(uint8_t* scratch, ImageFileContext* ctx, int32_t) {
  return ReadRows(scratch, ctx);
}
const uint8_t* ReadJpegRows444(uint8_t* scratch, ImageFileContext* ctx, int32_t) {
  return ReadRows(scratch, ctx);
}
const uint8_t* ReadJpegRows422(uint8_t* scratch, ImageFileContext* ctx, int32_t) {
  return ReadRows(scratch, ctx);
}
const uint8_t* ReadJpegRows440(uint8_t* scratch, ImageFileContext* ctx, int32_t) {
  return ReadRows(scratch, ctx);
}
const uint8_t* ReadJpegRows420(uint8_t* scratch, ImageFileContext* ctx, int32_t) {
  return ReadRows(scratch, ctx);
}

int32_t JpegClose(ImageFileContext* ctx) {
  auto* st = static_cast<JpegContextState*>(ctx->decoder_state);
  if (!st) return 0;
  st->reader.decoder.EndEntropy();
  const uint8_t* p = ImageFileIO::PeekUpTo(ctx, 2);
  if (p && ctx->fill_end - ctx->read_pos >= 2 && p[0] == 0xFF && p[1] == 0xD9) ctx->read_pos += 2;
  delete st;
  ctx->decoder_state = nullptr;
  ctx->metadata = nullptr;
  return 0;
}

int32_t OpenJPEG(ImageFileContext* ctx) {
  auto* st = new JpegContextState(ctx);
  ctx->decoder_state = st;
  ctx->metadata = &st->reader.exif;
  ctx->close_hook = JpegClose;
  const int rc = OpenJpegStream(&st->input, &st->reader);
  if (rc != 0) {
    delete st;
    ctx->decoder_state = nullptr;
    ctx->metadata = nullptr;
    ctx->close_hook = nullptr;
    return rc;
  }
  // Only an image whose EXIF block gave a summary carries it.
  if (st->reader.exif.length == 0) ctx->metadata = nullptr;
  const JpegImageInfo& info = st->reader.info;
  ctx->width = info.width;
  ctx->height = info.height;
  ctx->channels = uint8_t(info.channels);
  ctx->bits_per_pixel = uint8_t(info.bits_per_pixel);
  ctx->orientation = uint8_t(info.orientation);
  std::memcpy(ctx->description, info.description, sizeof ctx->description);
  ctx->row_bytes = int32_t(sizeof(PlanarRows));
  switch (st->reader.decoder.layout) {
    case JpegLayout::kGray:
      ctx->row_reader = ReadJpegRowsGray;
      break;
    case JpegLayout::k444:
      ctx->row_reader = ReadJpegRows444;
      break;
    case JpegLayout::k422:
      ctx->row_reader = ReadJpegRows422;
      break;
    case JpegLayout::k440:
      ctx->row_reader = ReadJpegRows440;
      break;
    case JpegLayout::k420:
      ctx->row_reader = ReadJpegRows420;
      break;
  }
  ctx->converter = info.channels == 1 ? ConvertGrayRow16
                   : info.rgb         ? ConvertRGBRows16
                                      : ConvertYCbCrRows16;
  return 0;
}

}  // namespace ImageFileIO
