// Frames per second that the image cache delivers for a 1080p PNG sequence, with and
// without prefetching, against the bare decode time of the same files. The consumer may
// spend some milliseconds on each frame (as tracking does), which prefetching overlaps.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "image/image_cache.h"
#include "image/image_file_io.h"
#include "image/sequence_loader.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFrames = 6;

// Writes the sequence once per run; the files are removed at exit.
struct Sequence {
  Sequence() {
    std::string templ = (std::filesystem::temp_directory_path() / "kx_bench_XXXXXX").string();
    dir = ::mkdtemp(templ.data()) ? templ : std::string("/tmp");
    std::vector<uint32_t> row(kWidth);
    for (int f = 0; f < kFrames; ++f) {
      names.push_back(dir + "/frame" + std::to_string(f) + ".png");
      ImageFileIO::ImageFileContext ctx;
      if (ImageFileIO::OpenWrite(&ctx, names.back().c_str(), ImageFileIO::kWritePNG, kWidth,
                                 kHeight, 24) != 0) {
        std::abort();
      }
      uint32_t state = 12345u + f;
      for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
          state = state * 1664525u + 1013904223u;  // texture with some noise
          const uint32_t v = uint32_t((x * 3 + y * 2 + f * 40) & 0xFF);
          row[x] = (v << 16) | (((v + (state >> 28)) & 0xFF) << 8) | ((255 - v) & 0xFF);
        }
        ImageFileIO::WriteRow(row.data(), &ctx);
      }
      ImageFileIO::Close(&ctx);
    }
  }
  ~Sequence() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  PackedStringListPtr List() const {
    PackedStringListPtr list;
    list.Allocate();
    for (size_t i = 0; i < names.size(); ++i) list->Append(names[i].c_str(), int32_t(i));
    return list;
  }
  std::string dir;
  std::vector<std::string> names;
};

const Sequence& TheSequence() {
  static Sequence sequence;
  return sequence;
}

void Consume(int ms) {
  if (ms <= 0) return;
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < until) {
  }
}

void BM_BareDecode(benchmark::State& state) {
  const Sequence& seq = TheSequence();
  SequenceLoader loader;
  std::vector<uint32_t> pixels(size_t(kWidth) * kHeight);
  const PixelView view(pixels.data(), kWidth, kWidth, kHeight);
  int frame = 0;
  for (auto _ : state) {
    if (loader.LoadFrame(view, seq.names[frame % kFrames].c_str()) != 0)
      state.SkipWithError("decode");
    Consume(int(state.range(0)));
    ++frame;
  }
  state.SetItemsProcessed(state.iterations());
}

void CacheRun(benchmark::State& state, bool prefetch) {
  const Sequence& seq = TheSequence();
  ImageCache cache;
  cache.SetCapacity(2);  // every request of the cycle misses
  cache.SetImageList(seq.List(), -1, -1);
  int frame = 0;
  for (auto _ : state) {
    if (prefetch) cache.Prefetch((frame + 1) % kFrames);
    ImageCacheEntryPtr e = cache.GetImage(frame % kFrames);
    if (!e || e->error) state.SkipWithError("decode");
    Consume(int(state.range(0)));
    ++frame;
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_CacheWithoutPrefetch(benchmark::State& state) {
  CacheRun(state, false);
}
void BM_CacheWithPrefetch(benchmark::State& state) {
  CacheRun(state, true);
}

// Argument: milliseconds of consumer work per frame.
BENCHMARK(BM_BareDecode)
    ->Arg(0)
    ->Arg(30)
    ->ArgName("work_ms")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_CacheWithoutPrefetch)
    ->Arg(0)
    ->Arg(30)
    ->ArgName("work_ms")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_CacheWithPrefetch)
    ->Arg(0)
    ->Arg(30)
    ->ArgName("work_ms")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
