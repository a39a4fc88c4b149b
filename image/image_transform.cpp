#include "image/image_transform.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "foundation/runtime/worker_pool.h"
#include "platform/atomic.h"
#include "platform/console.h"

namespace {

// Mapped positions far out (or not finite) are pinned here, outside any
// source we can address, so every interpolated step stays in 32 bits.
constexpr int64_t kFixedLimit = int64_t{1} << 30;

int32_t ToFixed(double v) {
  const double f = v * 65536.0;
  if (!(f > -static_cast<double>(kFixedLimit)))
    return static_cast<int32_t>(-kFixedLimit);  // NaN too
  if (f > static_cast<double>(kFixedLimit)) return static_cast<int32_t>(kFixedLimit);
  return static_cast<int32_t>(f);  // toward zero
}

struct TransformJob {
  MetaImageAccess* access;
  const MetaMapper* mapper;
  double a, b;
  double shift_x, shift_y;
  int width, height;
  int bands, columns;
};

struct TransformRun {
  std::vector<TransformJob> jobs;
  int32_t counter = 0;
};

struct Fixed {
  int32_t x, y;
};

Fixed MapExact(const TransformJob& job, int x, int y) {
  double sx = 0, sy = 0;
  job.mapper->Map(sx, sy, x + job.a, y + job.b);
  return {ToFixed(sx + job.shift_x), ToFixed(sy + job.shift_y)};
}

// Records of one row of a tile, columns [x0, x0 + n): exact every fourth
// pixel and at the last pixel.
void ExactRow(const TransformJob& job, int x0, int n, int y, MappedCoord* rec) {
  Fixed here = MapExact(job, x0, y);
  for (int g = 0, s = 0; s < n; ++g, s += 4) {
    rec[g].x = here.x;
    rec[g].y = here.y;
    if (s + 4 <= n - 1) {
      const Fixed next = MapExact(job, x0 + s + 4, y);
      rec[g].dx = static_cast<int32_t>((int64_t{next.x} - here.x) >> 2);
      rec[g].dy = static_cast<int32_t>((int64_t{next.y} - here.y) >> 2);
      here = next;
    } else {
      const int tail = n - 1 - s;
      int64_t ddx = 0, ddy = 0;
      if (tail > 0) {
        const Fixed last = MapExact(job, x0 + n - 1, y);
        ddx = int64_t{last.x} - here.x;
        ddy = int64_t{last.y} - here.y;
      }
      if (tail == 2) {
        ddx >>= 1;
        ddy >>= 1;
      } else if (tail == 3) {
        ddx /= 3;
        ddy /= 3;
      }
      rec[g].dx = static_cast<int32_t>(ddx);
      rec[g].dy = static_cast<int32_t>(ddy);
    }
  }
}

// Built twice where the compiler can, for AVX2 and for any x86-64, and the
// loader picks one: the same integer operations, so the same bits.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
#define KX_TRANSFORM_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define KX_TRANSFORM_CLONES
#endif

// Element-wise (kA·A + kB·B) / kDivisor, truncated toward zero (constant
// divisors: no division instruction per element).
template <int kA, int kB, int kDivisor>
KX_TRANSFORM_CLONES void Between(const MappedCoord* a, const MappedCoord* b, int groups,
                                 MappedCoord* out) {
  auto mix = [](int32_t u, int32_t v) {
    return static_cast<int32_t>((int64_t{kA} * u + int64_t{kB} * v) / kDivisor);
  };
  for (int g = 0; g < groups; ++g) {
    out[g].x = mix(a[g].x, b[g].x);
    out[g].y = mix(a[g].y, b[g].y);
    out[g].dx = mix(a[g].dx, b[g].dx);
    out[g].dy = mix(a[g].dy, b[g].dy);
  }
}

constexpr int kTileWidth = 192;
constexpr int kTileHeight = 128;

void ProcessTile(const TransformJob& job, int x0, int x1, int y0, int y1) {
  const int n = x1 - x0, groups = (n + 3) / 4;
  MappedCoord rows[3][kTileWidth / 4];
  MappedCoord* a = rows[0];
  MappedCoord* b = rows[1];
  MappedCoord* mid = rows[2];
  int r = y0;
  ExactRow(job, x0, n, r, a);
  job.access->MapRow(x0, r, a, n);
  while (r < y1 - 1) {
    if (r + 4 <= y1 - 1) {
      ExactRow(job, x0, n, r + 4, b);
      Between<3, 1, 4>(a, b, groups, mid);
      job.access->MapRow(x0, r + 1, mid, n);
      Between<1, 1, 2>(a, b, groups, mid);
      job.access->MapRow(x0, r + 2, mid, n);
      Between<1, 3, 4>(a, b, groups, mid);
      job.access->MapRow(x0, r + 3, mid, n);
      job.access->MapRow(x0, r + 4, b, n);
      std::swap(a, b);
      r += 4;
    } else {
      const int d = y1 - 1 - r;
      ExactRow(job, x0, n, y1 - 1, b);
      if (d == 2) {
        Between<1, 1, 2>(a, b, groups, mid);
        job.access->MapRow(x0, r + 1, mid, n);
      } else if (d == 3) {
        Between<2, 1, 3>(a, b, groups, mid);
        job.access->MapRow(x0, r + 1, mid, n);
        Between<1, 2, 3>(a, b, groups, mid);
        job.access->MapRow(x0, r + 2, mid, n);
      }
      job.access->MapRow(x0, y1 - 1, b, n);
      break;
    }
  }
}

void TileLoop(void* context, void* /*item*/) {
  TransformRun& run = *static_cast<TransformRun*>(context);
  for (;;) {
    int64_t tile = platform::AtomicIncrement(&run.counter) - 1;
    const TransformJob* job = nullptr;
    for (const TransformJob& j : run.jobs) {
      const int64_t tiles = int64_t{j.bands} * j.columns;
      if (tile < tiles) {
        job = &j;
        break;
      }
      tile -= tiles;
    }
    if (job == nullptr) return;
    const int64_t r = tile / job->columns, c = tile % job->columns;
    const int64_t w = job->width, h = job->height;
    ProcessTile(*job, static_cast<int>(w * c / job->columns),
                static_cast<int>(w * (c + 1) / job->columns), static_cast<int>(h * r / job->bands),
                static_cast<int>(h * (r + 1) / job->bands));
  }
}

struct ScaleRun {
  MetaImageAccess* access;
  double ox, oy, sx, sy;
  int width, height;
  int32_t counter = 0;
};

constexpr int kScaleBandRows = 16;

void BandLoop(void* context, void* /*item*/) {
  ScaleRun& run = *static_cast<ScaleRun*>(context);
  for (;;) {
    const int64_t band = platform::AtomicIncrement(&run.counter) - 1;
    const int64_t first = band * kScaleBandRows;
    if (first >= run.height) return;
    const int last = static_cast<int>(std::min<int64_t>(first + kScaleBandRows, run.height));
    for (int y = static_cast<int>(first); y < last; ++y)
      run.access->ScaleRow(0, y, run.ox, run.oy + run.sy * y, run.sx, run.width);
  }
}

// Runs fn on the pool's threads and the caller when `parallel`, else on the
// caller alone.
void RunLoop(void* context, WorkerPool::ItemFunction fn, bool parallel) {
  const int threads = WorkerPool::GetNumberOfThreads();
  if (parallel && threads > 0)
    WorkerPool::ParallelFor(context, nullptr, 1, threads, fn, true);
  else
    fn(context, nullptr);
}

template <int N>
int Transform(const ArrayMap<unsigned int>& destination, double a, double b,
              const ArrayMap<unsigned int>& source, const MetaMapper& mapper, unsigned int border) {
  ArrayMapDataAccess<unsigned int, N> access(destination, source, border);
  TransformRun run;
  const ImageAccessRect rect = access.GetRect();
  const double shift = N == 1 ? 0.0 : -0.5;
  if (rect.width > 0 && rect.height > 0)
    run.jobs.push_back({&access, &mapper, a, b, shift, shift, rect.width, rect.height,
                        ((rect.height - 1) / kTileHeight) + 1, (rect.width - 1) / kTileWidth + 1});
  int64_t pixels = 0;
  for (const TransformJob& job : run.jobs) pixels += int64_t{job.width} * job.height;
  // More than 192 × 192 pixels are worth the pool.
  if (pixels > 0) RunLoop(&run, TileLoop, 2 * pixels > 73728);
  return 0;
}

template <int N>
int Scale(const ArrayMap<unsigned int>& destination, const ArrayMap<unsigned int>& source,
          double sx, double sy, double ox, double oy, unsigned int border) {
  ArrayMapDataAccess<unsigned int, N> access(destination, source, border);
  const ImageAccessRect rect = access.GetRect();
  if (rect.width <= 0 || rect.height <= 0) return 0;
  ScaleRun run{&access, ox + 0.5 * sx, oy + 0.5 * sy, sx, sy, rect.width, rect.height};
  RunLoop(&run, BandLoop, rect.width >= 64 && rect.height >= 32);
  return 0;
}

}  // namespace

template <int N>
ArrayMapDataAccess<unsigned int, N>::ArrayMapDataAccess(const ArrayMap<unsigned int>& destination,
                                                        const ArrayMap<unsigned int>& source,
                                                        unsigned int border)
    : given_(destination), target_(destination), source_(source), border_(border) {
  const unsigned int* d_end =
      destination.data + static_cast<size_t>(destination.height) * destination.stride;
  const unsigned int* s_end = source.data + static_cast<size_t>(source.height) * source.stride;
  if (destination.data == nullptr || source.data == nullptr ||
      !(destination.data < s_end && source.data < d_end))
    return;
  const uint64_t d_size = uint64_t{destination.width} * destination.height;
  const uint64_t s_size = uint64_t{source.width} * source.height;
  if (d_size < s_size) {
    // Starts as a copy, so pixels a user leaves unwritten come back unchanged.
    private_target_.Resize(destination.width, destination.height);
    private_target_.Plane(0).CopyFrom(destination);
    target_ = private_target_.Plane(0);
  } else {
    private_source_.Resize(source.width, source.height);
    private_source_.Plane(0).CopyFrom(source);
    source_ = private_source_.Plane(0);
  }
}

template <int N>
ArrayMapDataAccess<unsigned int, N>::~ArrayMapDataAccess() {
  if (target_.data != given_.data) given_.CopyFrom(target_);
}

template <int N>
ImageAccessRect ArrayMapDataAccess<unsigned int, N>::GetRect() const {
  return {0, 0, static_cast<int>(given_.width), static_cast<int>(given_.height)};
}

template <int N>
void ArrayMapDataAccess<unsigned int, N>::MapRow(int dest_x, int dest_y, const MappedCoord* coords,
                                                 int count) {
  SampleMappedRow(N, target_.data + static_cast<size_t>(dest_y) * target_.stride + dest_x, source_,
                  border_, coords, count);
}

template <int N>
void ArrayMapDataAccess<unsigned int, N>::ScaleRow(int dest_x, int dest_y, double source_x,
                                                   double source_y, double step, int count) {
  if (!(step > 0) || count <= 0) return;
  unsigned int* out = target_.data + static_cast<size_t>(dest_y) * target_.stride + dest_x;
  const int64_t w = source_.width, h = source_.height;
  if (!(source_y >= 0 && source_y < static_cast<double>(h)) || !std::isfinite(source_x)) {
    std::fill(out, out + count, border_);
    return;
  }
  constexpr double kOne = 4294967296.0;  // 1.0 in 32.32
  // Limits keep the 32.32 walk inside 64 bits; beyond them all is outside anyway.
  const int64_t stride = static_cast<int64_t>(std::min(step, 1073741824.0) * kOne);
  int64_t pos = static_cast<int64_t>(std::clamp(source_x, -2147483648.0, 2147483648.0) * kOne);
  const int64_t end = w << 32;
  int i = 0;
  for (; i < count && pos < 0; ++i, pos += stride) out[i] = border_;
  if (N == 1) {
    const unsigned int* row = source_.data + static_cast<size_t>(source_y) * source_.stride;
    for (; i < count && pos < end; ++i, pos += stride) out[i] = row[pos >> 32];
  } else {
    const double below = source_y + 0.5;
    const int64_t u = static_cast<int64_t>(std::floor(below));
    const int32_t fy = static_cast<int32_t>((below - static_cast<double>(u)) * 65536.0);
    const unsigned int* upper =
        source_.data + static_cast<size_t>(u == 0 ? 0 : u - 1) * source_.stride;
    const unsigned int* lower =
        source_.data + static_cast<size_t>(u == h ? h - 1 : u) * source_.stride;
    const bool four_rows = N == 4 && w >= 4 && u >= 2 && u + 1 < h;
    for (; i < count && pos < end; ++i, pos += stride) {
      const int64_t p = pos - (int64_t{1} << 31);  // pixel centres: −0.5
      const int64_t col = p >> 32;
      const int32_t fx = static_cast<int32_t>((p >> 16) & 0xFFFF);
      if (four_rows && col >= 1 && col + 2 < w) {
        out[i] = FourTapPixel(source_, col, u - 1, fx, fy);
        continue;
      }
      int64_t left = col, right = col + 1;
      if (p < 0) {
        left = right = 0;
      } else if (col >= w - 1) {
        left = right = w - 1;
      }
      out[i] = BlendPixels(upper[left], upper[right], lower[left], lower[right], fx, fy);
    }
  }
  for (; i < count; ++i) out[i] = border_;
}

template class ArrayMapDataAccess<unsigned int, 1>;
template class ArrayMapDataAccess<unsigned int, 2>;
template class ArrayMapDataAccess<unsigned int, 4>;

int TransformImage(const ArrayMap<unsigned int>& destination, double a, double b,
                   const ArrayMap<unsigned int>& source, const MetaMapper& mapper, int order,
                   unsigned int border) {
  switch (order) {
    case 1:
      return Transform<1>(destination, a, b, source, mapper, border);
    case 2:
      return Transform<2>(destination, a, b, source, mapper, border);
    case 4:
      return Transform<4>(destination, a, b, source, mapper, border);
    default:
      platform::ConsolePrintf(stderr, "TransformImage<32bit>: unsupported filter order %d\n",
                              order);
      return -1;
  }
}

int ScaleImageRect(const ArrayMap<unsigned int>& destination, const ArrayMap<unsigned int>& source,
                   double sx, double sy, double ox, double oy, int order, unsigned int border) {
  switch (order) {
    case 1:
      return Scale<1>(destination, source, sx, sy, ox, oy, border);
    case 2:
      return Scale<2>(destination, source, sx, sy, ox, oy, border);
    case 4:
      return Scale<4>(destination, source, sx, sy, ox, oy, border);
    default:
      platform::ConsolePrintf(stderr, "ScaleImageRect<32bit>: unsupported filter order %d\n",
                              order);
      return -1;
  }
}
