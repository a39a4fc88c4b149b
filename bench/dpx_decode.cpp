// Reading a 1920x1080 10-bit RGB DPX frame to 32-bit pixels through ImageFileIO, side by side
// with libavcodec's DPX decoder on the same bytes (held in memory; ours reads them from a file in
// the page cache).
// bench-peer: libavcodec-dev
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "image/image_file_io.h"

#ifdef KALVEX_HAVE_LIBAVCODEC
#include "bench/libavcodec_decode.h"
#endif

namespace {

constexpr int kWidth = 1920, kHeight = 1080;

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (24 - 8 * i));
}

// A big-endian DPX: generic header (file size, offsets, element count), one RGB 10-bit element
// packed three components to a 32-bit word, top row first.
std::vector<uint8_t> MakeDpx() {
  const uint32_t row_bytes = 4 * kWidth;
  std::vector<uint8_t> b(1408, 0);
  std::copy_n("SDPX", 4, b.begin());
  Put32(b, 4, 1408);
  std::copy_n("V1.0", 4, b.begin() + 8);
  Put32(b, 16, 1408 + row_bytes * kHeight);  // file size
  Put32(b, 24, 1664);                        // generic header size
  b[770] = 1;                                // one image element
  Put32(b, 772, kWidth);
  Put32(b, 776, kHeight);
  b[800] = 50;  // RGB
  b[803] = 10;
  Put32(b, 660, 0xFFFFFFFFu);  // not encrypted
  b[805] = 1;                  // packing: filled to 32-bit words (method A)
  Put32(b, 808, 1408);         // data offset of the element
  b.reserve(b.size() + size_t(row_bytes) * kHeight);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      uint32_t r = uint32_t(512 + 400 * std::sin(x * 0.01)) & 1023;
      uint32_t g = uint32_t(512 + 400 * std::cos(y * 0.013)) & 1023;
      uint32_t bl = uint32_t((x * 3 + y * 5) & 1023);
      uint32_t word = r << 22 | g << 12 | bl << 2;
      b.insert(b.end(),
               {uint8_t(word >> 24), uint8_t(word >> 16), uint8_t(word >> 8), uint8_t(word)});
    }
  return b;
}

const std::vector<uint8_t>& Dpx() {
  static const std::vector<uint8_t> data = MakeDpx();
  return data;
}

void BM_ImageFileIODpx10(benchmark::State& state) {
  const std::string path = (std::filesystem::temp_directory_path() / "kx_bench_frame.dpx").string();
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(Dpx().data(), 1, Dpx().size(), f);
    std::fclose(f);
  }
  auto ctx = std::make_unique<ImageFileIO::ImageFileContext>();
  std::vector<uint32_t> pixels(size_t(kWidth) * kHeight);
  for (auto _ : state) {
    if (ImageFileIO::OpenRead(ctx.get(), path.c_str()) != 0) {
      state.SkipWithError("open failed");
      break;
    }
    for (int y = 0; y < kHeight; ++y)
      ImageFileIO::ReadRow(pixels.data() + size_t(y) * kWidth, ctx.get());
    ImageFileIO::Close(ctx.get());
    benchmark::DoNotOptimize(pixels.data());
  }
  std::filesystem::remove(path);
}
BENCHMARK(BM_ImageFileIODpx10)->Unit(benchmark::kMillisecond);

#ifdef KALVEX_HAVE_LIBAVCODEC
void BM_LibavcodecDpx10(benchmark::State& state) {
  DecodeWithLibavcodec(state, AV_CODEC_ID_DPX, Dpx().data(), int(Dpx().size()));
}
BENCHMARK(BM_LibavcodecDpx10)->Unit(benchmark::kMillisecond);
#endif

}  // namespace

BENCHMARK_MAIN();
