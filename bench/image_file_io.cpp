// Reading and writing a 1920x1080 frame in each format of the image-file library. PNG and TIFF also
// run through libpng and libtiff directly on the same files; the ratios are printed after the
// table.
#include <png.h>
#include <tiffio.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "image/image_file_io.h"

namespace {

using namespace ImageFileIO;

constexpr int32_t kWidth = 1920, kHeight = 1080;

const std::vector<uint32_t>& Picture() {
  static const std::vector<uint32_t> picture = [] {
    std::vector<uint32_t> px(size_t(kWidth) * kHeight);
    std::mt19937 rng(5);
    for (int32_t y = 0; y < kHeight; ++y) {
      for (int32_t x = 0; x < kWidth; ++x) {
        const int n = int(rng() % 9) - 4;
        auto c = [&](double v) { return uint32_t(std::min(255.0, std::max(0.0, v + n))); };
        px[size_t(y) * kWidth + x] = c(128 + 90 * std::sin(x * 0.01) * std::cos(y * 0.013)) << 16 |
                                     c(120 + 80 * std::cos((x + y) * 0.007)) << 8 |
                                     c(100 + 60 * std::sin(x * 0.031 + y * 0.017));
      }
    }
    return px;
  }();
  return picture;
}

std::string TempPath(const char* name) {
  static const std::string dir = [] {
    char templ[] = "/tmp/kx_bench_XXXXXX";
    return std::string(::mkdtemp(templ));
  }();
  return dir + "/" + name;
}

bool WriteWithLibrary(const std::string& path, int32_t type, int32_t bits) {
  auto ctx = std::make_unique<ImageFileContext>();
  if (OpenWrite(ctx.get(), path.c_str(), type, kWidth, kHeight, bits) != 0) return false;
  const std::vector<uint32_t>& px = Picture();
  for (int32_t y = 0; y < kHeight; ++y) {
    if (WriteRow(px.data() + size_t(y) * kWidth, ctx.get()) != 0) return false;
  }
  return Close(ctx.get()) == 0;
}

// Writes the TIFF input with libtiff (our library has no TIFF writer).
std::string TiffFile() {
  static const std::string path = [] {
    const std::string p = TempPath("frame.tif");
    TIFF* tif = TIFFOpen(p.c_str(), "w");
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(kWidth));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(kHeight));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 16);
    std::vector<uint8_t> row(size_t(kWidth) * 3);
    const std::vector<uint32_t>& px = Picture();
    for (int32_t y = 0; y < kHeight; ++y) {
      WriteRGB24(row.data(), px.data() + size_t(y) * kWidth, kWidth);
      TIFFWriteScanline(tif, row.data(), uint32_t(y), 0);
    }
    TIFFClose(tif);
    return p;
  }();
  return path;
}

// A 24-bit bottom-up BMP, written here (our library has no BMP writer).
std::string BmpFile() {
  static const std::string path = [] {
    const std::string p = TempPath("frame.bmp");
    const uint32_t row_bytes = (kWidth * 3 + 3) & ~3u;
    std::vector<uint8_t> out(54, 0);
    auto put32 = [&](size_t at, uint32_t v) {
      for (int k = 0; k < 4; ++k) out[at + size_t(k)] = uint8_t(v >> (8 * k));
    };
    out[0] = 'B', out[1] = 'M';
    put32(2, 54 + row_bytes * kHeight);
    put32(10, 54);
    put32(14, 40);
    put32(18, kWidth);
    put32(22, kHeight);
    out[26] = 1, out[28] = 24;
    std::vector<uint8_t> row(row_bytes, 0);
    const std::vector<uint32_t>& px = Picture();
    for (int32_t y = kHeight - 1; y >= 0; --y) {
      WriteBGR24(row.data(), px.data() + size_t(y) * kWidth, kWidth);
      out.insert(out.end(), row.begin(), row.end());
    }
    FILE* f = std::fopen(p.c_str(), "wb");
    std::fwrite(out.data(), 1, out.size(), f);
    std::fclose(f);
    return p;
  }();
  return path;
}

struct Format {
  const char* name;
  const char* file;
  int32_t type, bits;
};

constexpr Format kFormats[] = {
    {"PPM", "frame.ppm", kWritePNM, 24}, {"PPM48", "frame48.ppm", kWritePNM, 48},
    {"TGA", "frame.tga", kWriteTGA, 24}, {"TGARLE", "frame_rle.tga", kWriteTGARLE, 24},
    {"PNG", "frame.png", kWritePNG, 24}, {"PNG48", "frame48.png", kWritePNG, 48},
};

const std::string& InputFile(const Format& f) {
  static std::map<std::string, std::string> files;
  auto it = files.find(f.name);
  if (it == files.end()) {
    const std::string path = TempPath(f.file);
    WriteWithLibrary(path, f.type, f.bits);
    it = files.emplace(f.name, path).first;
  }
  return it->second;
}

void OursRead(benchmark::State& state, const std::string& path) {
  auto ctx = std::make_unique<ImageFileContext>();
  std::vector<uint32_t> row(kWidth);
  for (auto _ : state) {
    if (OpenRead(ctx.get(), path.c_str()) != 0) {
      state.SkipWithError("open failed");
      Close(ctx.get());
      return;
    }
    for (int32_t y = 0; y < ctx->height; ++y) ReadRow(row.data(), ctx.get());
    Close(ctx.get());
    benchmark::DoNotOptimize(row.data());
  }
}

void OursWrite(benchmark::State& state, const Format& f) {
  const std::string path = TempPath("out");
  for (auto _ : state) {
    if (!WriteWithLibrary(path, f.type, f.bits)) {
      state.SkipWithError("write failed");
      return;
    }
  }
}

// libpng alone: rows into a buffer, no conversion to pixels.
void PeerReadPng(benchmark::State& state, const std::string& path) {
  std::vector<uint8_t> row(size_t(kWidth) * 6);
  for (auto _ : state) {
    FILE* f = std::fopen(path.c_str(), "rb");
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
      state.SkipWithError("libpng failed");
      break;
    }
    png_init_io(png, f);
    png_read_info(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    for (png_uint_32 y = 0; y < height; ++y) png_read_row(png, row.data(), nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
    benchmark::DoNotOptimize(row.data());
  }
}

void PeerWritePng(benchmark::State& state, int bits) {
  const std::string path = TempPath("peer.png");
  const std::vector<uint32_t>& px = Picture();
  std::vector<uint8_t> row(size_t(kWidth) * 6);
  for (auto _ : state) {
    FILE* f = std::fopen(path.c_str(), "wb");
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
      state.SkipWithError("libpng failed");
      break;
    }
    png_init_io(png, f);
    png_set_compression_level(png, 5);
    png_set_IHDR(png, info, kWidth, kHeight, bits == 24 ? 8 : 16, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int32_t y = 0; y < kHeight; ++y) {
      (bits == 24 ? WriteRGB24 : WriteRGB48)(row.data(), px.data() + size_t(y) * kWidth, kWidth);
      png_write_row(png, row.data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
  }
}

// libtiff alone: the whole image into a fresh buffer, as a one-off read of a file needs.
void PeerReadTiff(benchmark::State& state) {
  for (auto _ : state) {
    TIFF* tif = TIFFOpen(TiffFile().c_str(), "r");
    uint32_t* image = static_cast<uint32_t*>(std::malloc(size_t(kWidth) * kHeight * 4));
    TIFFReadRGBAImageOriented(tif, kWidth, kHeight, image, ORIENTATION_TOPLEFT, 0);
    TIFFClose(tif);
    benchmark::DoNotOptimize(image);
    std::free(image);
  }
}

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) times_[run.benchmark_name()] = run.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\n%-14s %12s %12s %8s\n", "operation", "ours (ms)", "peer (ms)", "ratio");
    for (const auto& [name, ours] : times_) {
      if (name.rfind("Ours_", 0) != 0) continue;
      auto peer = times_.find("Peer_" + name.substr(5));
      if (peer == times_.end()) continue;
      std::printf("%-14s %12.2f %12.2f %8.2f\n", name.substr(5).c_str(), ours, peer->second,
                  ours / peer->second);
    }
  }

 private:
  std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  for (const Format& f : kFormats) {
    benchmark::RegisterBenchmark((std::string("Ours_Read") + f.name).c_str(),
                                 [&f](benchmark::State& s) { OursRead(s, InputFile(f)); })
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((std::string("Ours_Write") + f.name).c_str(),
                                 [&f](benchmark::State& s) { OursWrite(s, f); })
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RegisterBenchmark("Ours_ReadBMP", [](benchmark::State& s) {
    OursRead(s, BmpFile());
  })->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("Ours_ReadTIFF", [](benchmark::State& s) {
    OursRead(s, TiffFile());
  })->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("Peer_ReadPNG", [](benchmark::State& s) {
    PeerReadPng(s, InputFile(kFormats[4]));
  })->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("Peer_ReadPNG48", [](benchmark::State& s) {
    PeerReadPng(s, InputFile(kFormats[5]));
  })->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("Peer_WritePNG", [](benchmark::State& s) {
    PeerWritePng(s, 24);
  })->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("Peer_WritePNG48", [](benchmark::State& s) {
    PeerWritePng(s, 48);
  })->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("Peer_ReadTIFF", PeerReadTiff)->Unit(benchmark::kMillisecond);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
