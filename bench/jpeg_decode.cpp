// Decoding a 1920x1080 JPEG (baseline 4:2:0 and progressive) to 32-bit
// pixels, side by side with libjpeg-turbo on the same bytes. The input is
// made with libjpeg-turbo's compressor, so without the peer there is nothing
// to decode and the benchmarks report that.
// bench-peer: libjpeg62-turbo-dev
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <random>
#include <vector>

#include "image/jpeg_reader.h"
#include "image/pixel_convert.h"
#include "ratio_reporter.h"

#ifdef KALVEX_HAVE_LIBJPEG
#include <jpeglib.h>
#endif

namespace {

constexpr int kWidth = 1920, kHeight = 1080;

#ifdef KALVEX_HAVE_LIBJPEG
// A photo-like picture: smooth shapes plus fine noise.
std::vector<uint8_t> Encode(bool progressive) {
  std::vector<uint8_t> rgb(size_t(kWidth) * kHeight * 3);
  std::mt19937 rng(3);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      uint8_t* p = &rgb[(size_t(y) * kWidth + x) * 3];
      const int n = int(rng() % 25) - 12;
      p[0] =
          uint8_t(std::clamp(int(128 + 90 * std::sin(x * 0.01) * std::cos(y * 0.013)) + n, 0, 255));
      p[1] = uint8_t(std::clamp(int(120 + 80 * std::cos((x + y) * 0.007)) + n, 0, 255));
      p[2] = uint8_t(std::clamp(int(100 + 60 * std::sin(x * 0.031 + y * 0.017)) + n, 0, 255));
    }
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &out, &size);
  c.image_width = kWidth;
  c.image_height = kHeight;
  c.input_components = 3;
  c.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 90, TRUE);
  if (progressive) jpeg_simple_progression(&c);
  jpeg_start_compress(&c, TRUE);
  while (c.next_scanline < c.image_height) {
    JSAMPROW row = &rgb[size_t(c.next_scanline) * kWidth * 3];
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  std::vector<uint8_t> bytes(out, out + size);
  free(out);
  return bytes;
}

const std::vector<uint8_t>& Input(bool progressive) {
  static const std::vector<uint8_t> baseline = Encode(false), prog = Encode(true);
  return progressive ? prog : baseline;
}

void PeerDecode(benchmark::State& state, bool progressive) {
  const std::vector<uint8_t>& bytes = Input(progressive);
  std::vector<uint8_t> row(size_t(kWidth) * 4);
  for (auto _ : state) {
    jpeg_decompress_struct d;
    jpeg_error_mgr err;
    d.err = jpeg_std_error(&err);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, bytes.data(), bytes.size());
    jpeg_read_header(&d, TRUE);
    d.out_color_space = JCS_EXT_BGRX;
    jpeg_start_decompress(&d);
    while (d.output_scanline < d.output_height) {
      JSAMPROW r = row.data();
      jpeg_read_scanlines(&d, &r, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    benchmark::DoNotOptimize(row.data());
  }
}
#else
const std::vector<uint8_t>& Input(bool) {
  static const std::vector<uint8_t> none;
  return none;
}
#endif

void OurDecode(benchmark::State& state, bool progressive) {
  const std::vector<uint8_t>& bytes = Input(progressive);
  if (bytes.empty()) {
    state.SkipWithError("libjpeg-turbo not found: no input");
    return;
  }
  std::vector<uint32_t> row(kWidth);
  for (auto _ : state) {
    auto st = std::make_unique<JpegReaderState>();
    JpegMemoryInput input(bytes.data(), bytes.size());
    if (OpenJpegStream(&input, st.get()) != 0) {
      state.SkipWithError("open failed");
      return;
    }
    for (int y = 0; y < kHeight; ++y) {
      const int16_t* rows[3];
      if (!st->decoder.ReadRows(rows)) {
        state.SkipWithError("row failed");
        return;
      }
      const ImageFileIO::PlanarRows record = {{rows[0], rows[1], rows[2]}};
      ImageFileIO::ConvertYCbCrRows16(row.data(), reinterpret_cast<const uint8_t*>(&record),
                                      kWidth);
    }
    benchmark::DoNotOptimize(row.data());
  }
}

void BM_Ours_Baseline420(benchmark::State& s) {
  OurDecode(s, false);
}
void BM_Ours_Progressive420(benchmark::State& s) {
  OurDecode(s, true);
}
BENCHMARK(BM_Ours_Baseline420)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Ours_Progressive420)->Unit(benchmark::kMillisecond);
#ifdef KALVEX_HAVE_LIBJPEG
void BM_Peer_Baseline420(benchmark::State& s) {
  PeerDecode(s, false);
}
void BM_Peer_Progressive420(benchmark::State& s) {
  PeerDecode(s, true);
}
BENCHMARK(BM_Peer_Baseline420)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Peer_Progressive420)->Unit(benchmark::kMillisecond);
#endif

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter("libjpeg-turbo", {{"BM_Ours_Baseline420", "BM_Peer_Baseline420"},
                                           {"BM_Ours_Progressive420", "BM_Peer_Progressive420"}});
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
