#include "image/raw_frame_buffer.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

namespace {

struct PlaneShape {
  int64_t width;
  int64_t height;
  int64_t bytes_per_pixel;
};

// Plane shapes of a format code; returns the number of planes.
int PlaneShapes(int32_t code, int64_t w, int64_t h, PlaneShape* out) {
  switch (code) {
    case 0:
      out[0] = {w, h, 1};
      return 1;
    case 1:
      out[0] = {w, h, 1};
      out[1] = out[2] = {(w + 1) / 2, (h + 1) / 2, 1};
      return 3;
    case 2:
      out[0] = {w, h, 1};
      out[1] = out[2] = {(w + 3) / 4, h, 1};
      return 3;
    case 3:
      out[0] = {w, h, 1};
      out[1] = out[2] = {(w + 1) / 2, h, 1};
      return 3;
    case 4:
    case 5:
      out[0] = out[1] = out[2] = {w, h, 1};
      return 3;
    case 6:
      out[0] = out[1] = out[2] = out[3] = {w, h, 1};
      return 4;
    case 7:
    case 8:
    case 9:
    case 10:
    case 11:
    case 12:
      out[0] = {w, h, 2};
      return 1;
    case 13:
    case 14:
      out[0] = {w, h, 3};
      return 1;
    case 15:
    case 16:
      out[0] = {w, h, 4};
      return 1;
    default:
      return 0;
  }
}

int64_t RoundUp(int64_t v, int64_t step) {
  return (v + step - 1) / step * step;
}

inline int Clamp255(int v) {
  return v < 0 ? 0 : (v > 255 ? 255 : v);
}

// Rounded-up mean of two bytes.
inline int Avg(int a, int b) {
  return (a + b + ((a ^ b) & 1)) >> 1;
}

// Mix of chroma rows g and h with the weight p/8 on row h.
inline int Mix(int g, int h, int p) {
  switch (p) {
    case 0:
      return g;
    case 1:
      return (7 * g + h + 4) >> 3;
    case 2:
      return (3 * g + h + 2) >> 2;
    case 3:
      return (5 * g + 3 * h + 4) >> 3;
    case 4:
      return (g + h + ((g ^ h) & 1)) >> 1;
    case 5:
      return (3 * g + 5 * h + 4) >> 3;
    case 6:
      return (g + 3 * h + 2) >> 2;
    case 7:
      return (g + 7 * h + 4) >> 3;
    default:
      return h;
  }
}

// The chroma row of picture line `line` for codes 1 and 4: chroma plane k mixed
// vertically into row (n samples).
void VerticalChroma(const RawFrameBuffer& buffer, int k, int32_t line, int32_t chroma_height,
                    int32_t n, uint8_t* row) {
  const uint32_t flags = buffer.flags();
  int e = 2 * line;
  if (flags & kRawChromaHalfUp) e -= 1;
  if (flags & kRawChromaLineUp) e -= 2;
  int g = e >> 2;
  int h = g + 1;
  const int H = std::max(chroma_height, 1);
  const bool interlaced = (flags & (kRawInterlacedTop | kRawInterlacedBottom)) != 0;
  if (interlaced) {
    const int parity = line & 1;
    if ((g & 1) != parity) g -= 1;
    if ((h & 1) != parity) h += 1;
    auto clamp_field = [H](int v) {
      if (v < 0) return v & 1;
      if (v > H - 1) return std::max(H - 2 + (v & 1), 0);
      return v;
    };
    g = std::min(clamp_field(g), H - 1);
    h = std::min(clamp_field(h), H - 1);
  } else {
    g = std::clamp(g, 0, H - 1);
    h = std::clamp(h, 0, H - 1);
  }
  int p = 0;
  if (h > g && 4 * g < e) {
    p = e - 4 * g;
    if (h == g + 1) p *= 2;
    p = std::min(p, 8);
  }
  const uint8_t* rg = buffer.Row(k, g);
  const uint8_t* rh = buffer.Row(k, h);
  for (int32_t i = 0; i < n; ++i) row[i] = static_cast<uint8_t>(Mix(rg[i], rh[i], p));
}

// n chroma samples to 2n (in may be read at in[n-1] at most); out holds 2n.
void Horizontal2x(const uint8_t* in, int32_t n, uint32_t flags, uint8_t* out) {
  if (n <= 0) return;
  auto at = [&](int32_t i) -> int { return in[std::clamp(i, 0, n - 1)]; };
  if (flags & kRawChromaSiting2) {
    for (int32_t i = 0; i < n; ++i) {
      out[2 * i] = static_cast<uint8_t>(Avg(at(i - 1), at(i)));
      out[2 * i + 1] = in[i];
    }
  } else if (flags & kRawChromaSiting1) {
    for (int32_t i = 0; i < n; ++i) {
      out[2 * i] = static_cast<uint8_t>((3 * at(i) + at(i - 1) + 2) >> 2);
      out[2 * i + 1] = static_cast<uint8_t>((3 * at(i) + at(i + 1) + 2) >> 2);
    }
    out[2 * n - 1] = in[n - 1];
  } else {
    for (int32_t i = 0; i < n; ++i) {
      out[2 * i] = in[i];
      out[2 * i + 1] = static_cast<uint8_t>(Avg(at(i), at(i + 1)));
    }
    out[2 * n - 2] = out[2 * n - 1] = in[n - 1];
  }
}

// n chroma samples to 4n.
void Horizontal4x(const uint8_t* in, int32_t n, uint8_t* out) {
  if (n <= 0) return;
  for (int32_t i = 0; i < n - 1; ++i) {
    const int a = in[i], b = in[i + 1];
    out[4 * i] = static_cast<uint8_t>(a);
    out[4 * i + 1] = static_cast<uint8_t>((3 * a + b + 2) >> 2);
    out[4 * i + 2] = static_cast<uint8_t>(Avg(a, b));
    out[4 * i + 3] = static_cast<uint8_t>((a + 3 * b + 2) >> 2);
  }
  std::memset(out + 4 * (n - 1), in[n - 1], 4);
}

// Fills out[filled .. count-1] with the last produced value (or `fallback`).
void Extend(uint8_t* out, int32_t filled, int32_t count, uint8_t fallback) {
  const uint8_t v = filled > 0 ? out[filled - 1] : fallback;
  for (int32_t i = std::max(filled, 0); i < count; ++i) out[i] = v;
}

inline uint32_t Pack(int r, int g, int b) {
  return (static_cast<uint32_t>(r) << 16) | (static_cast<uint32_t>(g) << 8) |
         static_cast<uint32_t>(b);
}

}  // namespace

uint32_t YCbCrToBGRA(int y, int cb, int cr) {
  const int b = y + ((3628 * cb - 463360) >> 11);
  const int g = y + ((279040 - 707 * cb - 1465 * cr) >> 11);
  const int r = y + ((2870 * cr - 366464) >> 11);
  return Pack(Clamp255(r), Clamp255(g), Clamp255(b));
}

bool RawFrameBuffer::SetFormat(int32_t width, int32_t height, int32_t code, int32_t kind) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  if (kind < 0 || kind > 4) kind = 0;
  if (width == width_ && height == height_ && code == format_ && kind == kind_) return false;
  static constexpr int64_t kRowAlign[5] = {1, 4, 16, 16, 16};
  static constexpr int64_t kHeightAlign[5] = {1, 1, 1, 8, 16};
  PlaneShape shapes[4];
  const int count = PlaneShapes(code, width, height, shapes);
  int64_t strides[4] = {};
  int64_t sizes[4] = {};
  // Sizes stay far below 2^62 here: widths and heights are 31-bit, strides are checked.
  constexpr int64_t kMaxBytes = int64_t{1} << 40;
  uint64_t total = 0;
  for (int k = 0; k < count; ++k) {
    strides[k] = RoundUp(shapes[k].width * shapes[k].bytes_per_pixel, kRowAlign[kind]);
    if (strides[k] > INT32_MAX) {
      total = kMaxBytes;
      break;
    }
    sizes[k] = strides[k] * RoundUp(shapes[k].height, kHeightAlign[kind]);
    total += static_cast<uint64_t>(sizes[k]);
  }
  for (RawPlane& p : planes_) p = RawPlane();
  width_ = height_ = 0;
  format_ = kind_ = -1;  // a failed allocation leaves an empty buffer that the next call retries
  size_ = 0;
  storage_.Free();
  if (total >= static_cast<uint64_t>(kMaxBytes)) throw kAllocationFailedMessage;
  storage_.Allocate(total);  // throws "memory allocation failed"
  width_ = width;
  height_ = height;
  format_ = code;
  kind_ = kind;
  size_ = total;
  uint8_t* at = storage_.data;
  for (int k = 0; k < count; ++k) {
    if (sizes[k] == 0) continue;
    planes_[k].data = at;
    planes_[k].stride = static_cast<int32_t>(strides[k]);
    planes_[k].width = static_cast<int32_t>(shapes[k].width);
    planes_[k].height = static_cast<int32_t>(shapes[k].height);
    at += sizes[k];
  }
  return true;
}

int DecodeRawLine(const RawFrameBuffer& buffer, uint32_t* dst, int32_t line, int32_t count) {
  if (line < 0 || line >= buffer.height()) return -2;
  const int32_t code = buffer.format();
  if (code > RawFrameBuffer::kMaxFormat) return -1;
  if (code < 0 || !dst) return 0;
  count = std::min(count, buffer.width());
  if (count <= 0 || !buffer.plane(0).data) return 0;
  const uint8_t* y = buffer.Row(0, line);
  const uint32_t flags = buffer.flags();

  switch (code) {
    case 0:
      for (int32_t i = 0; i < count; ++i) dst[i] = Pack(y[i], y[i], y[i]);
      return 0;
    case 9:
    case 10:
    case 11:
    case 12:
      for (int32_t i = 0; i < count; ++i) {
        const uint32_t v = y[2 * i] | (static_cast<uint32_t>(y[2 * i + 1]) << 8);
        int lo, mid, hi;
        if (code <= 10) {
          lo = (v & 0x1f) << 3;
          mid = ((v >> 5) & 0x1f) << 3;
          hi = ((v >> 10) & 0x1f) << 3;
        } else {
          lo = (v & 0x1f) << 3;
          mid = ((v >> 5) & 0x3f) << 2;
          hi = ((v >> 11) & 0x1f) << 3;
        }
        dst[i] = (code == 9 || code == 11) ? Pack(hi, mid, lo) : Pack(lo, mid, hi);
      }
      return 0;
    case 13:
      for (int32_t i = 0; i < count; ++i) dst[i] = Pack(y[3 * i + 2], y[3 * i + 1], y[3 * i]);
      return 0;
    case 14:
      for (int32_t i = 0; i < count; ++i) dst[i] = Pack(y[3 * i], y[3 * i + 1], y[3 * i + 2]);
      return 0;
    case 15:
      for (int32_t i = 0; i < count; ++i) dst[i] = Pack(y[4 * i + 2], y[4 * i + 1], y[4 * i]);
      return 0;
    case 16:
      for (int32_t i = 0; i < count; ++i) dst[i] = Pack(y[4 * i], y[4 * i + 1], y[4 * i + 2]);
      return 0;
    default:
      break;
  }

  // YCbCr layouts: Cb and Cr at full decoded width in two work rows.
  std::vector<uint8_t> work(2 * (static_cast<size_t>(count) + 8));
  uint8_t* cb = work.data();
  uint8_t* cr = cb + count + 8;
  std::vector<uint8_t> luma;
  const int cb_plane = (flags & kRawSwapChroma) ? 2 : 1;
  const int cr_plane = 3 - cb_plane;
  auto chroma_line = [&](int plane) {
    return (plane == 2 && (flags & kRawCrFromLineAbove)) ? line - 1 : line;
  };

  switch (code) {
    case 1:
    case 4: {
      const RawPlane& cp = buffer.plane(1);
      const int32_t chroma_height = code == 1 ? cp.height : buffer.height() / 2;
      if (code == 1) {
        const int32_t n = cp.width;
        std::vector<uint8_t> row(static_cast<size_t>(n) + 1);
        for (int pass = 0; pass < 2; ++pass) {
          const int plane = pass == 0 ? cb_plane : cr_plane;
          uint8_t* out = pass == 0 ? cb : cr;
          VerticalChroma(buffer, plane, chroma_line(plane), chroma_height, n, row.data());
          std::vector<uint8_t> wide(2 * static_cast<size_t>(n) + 2);
          Horizontal2x(row.data(), n, flags, wide.data());
          std::memcpy(out, wide.data(), std::min<size_t>(count, 2 * static_cast<size_t>(n)));
          Extend(out, std::min(count, 2 * n), count, row[0]);
        }
      } else {
        VerticalChroma(buffer, cb_plane, chroma_line(cb_plane), chroma_height, count, cb);
        VerticalChroma(buffer, cr_plane, chroma_line(cr_plane), chroma_height, count, cr);
      }
      break;
    }
    case 2: {
      const int32_t n = count / 4;
      const uint8_t* in_cb = buffer.Row(cb_plane, line);
      const uint8_t* in_cr = buffer.Row(cr_plane, line);
      Horizontal4x(in_cb, n, cb);
      Horizontal4x(in_cr, n, cr);
      Extend(cb, 4 * n, count, in_cb[0]);
      Extend(cr, 4 * n, count, in_cr[0]);
      break;
    }
    case 3: {
      const int32_t n = count / 2;
      const uint8_t* in_cb = buffer.Row(cb_plane, line);
      const uint8_t* in_cr = buffer.Row(cr_plane, line);
      Horizontal2x(in_cb, n, flags, cb);
      Horizontal2x(in_cr, n, flags, cr);
      Extend(cb, 2 * n, count, in_cb[0]);
      Extend(cr, 2 * n, count, in_cr[0]);
      break;
    }
    case 5:
    case 6:
      std::memcpy(cb, buffer.Row(cb_plane, line), count);
      std::memcpy(cr, buffer.Row(cr_plane, line), count);
      break;
    case 7:
    case 8: {
      // Packed 4:2:2: separate the luma, then upsample the chroma.
      const int32_t n = count / 2;
      const int yo = code == 7 ? 0 : 1;
      const int cbo = code == 7 ? 1 : 0;
      luma.resize(count);
      for (int32_t i = 0; i < count; ++i) luma[i] = y[2 * i + yo];
      std::vector<uint8_t> in(2 * (static_cast<size_t>(n) + 1));
      uint8_t* in_cb = in.data();
      uint8_t* in_cr = in_cb + n + 1;
      for (int32_t i = 0; i < n; ++i) {
        in_cb[i] = y[4 * i + cbo];
        in_cr[i] = y[4 * i + cbo + 2];
      }
      in_cb[n] = in_cr[n] = 128;
      Horizontal2x(in_cb, n, flags, cb);
      Horizontal2x(in_cr, n, flags, cr);
      Extend(cb, 2 * n, count, 128);
      Extend(cr, 2 * n, count, 128);
      y = luma.data();
      break;
    }
    default:
      return 0;
  }
  for (int32_t i = 0; i < count; ++i) dst[i] = YCbCrToBGRA(y[i], cb[i], cr[i]);
  return 0;
}
