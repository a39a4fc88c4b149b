#include "image/image_cache.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "foundation/runtime/notify.h"
#include "image/image_list.h"
#include "image/image_list_for_test.h"
#include "image/sequence_for_test.h"
#include "image/sequence_loader.h"
#include "testing/log_capture.h"

namespace {

using ImageFileIO::testing_util::TempDir;
using ImageFileIO::testing_util::WriteFile;
using sequence_test::StoredPixel;
using sequence_test::WriteTga;

// Counts the reads per name; can slow them down and pretend a file holds several frames.
struct LoaderProbe {
  std::mutex mutex;
  std::map<std::string, int> reads;
  std::atomic<int> total{0};
  std::atomic<int> delay_ms{0};
  std::atomic<int> concurrent{0};
  std::atomic<int> max_concurrent{0};
  std::string multi_frame_name;  // Open reports `multi_frame_count` for this name
  int multi_frame_count = 0;

  int Reads(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex);
    return reads[name];
  }
};

class ProbeLoader : public SequenceLoader {
 public:
  explicit ProbeLoader(LoaderProbe* probe) : probe_(probe) {}
  int Open(int32_t* width, int32_t* height, const char* name) override {
    const int count = SequenceLoader::Open(width, height, name);
    if (count > 0 && name == probe_->multi_frame_name) return probe_->multi_frame_count;
    return count;
  }
  int Read(const char* name) override {
    const int now = ++probe_->concurrent;
    int seen = probe_->max_concurrent.load();
    while (now > seen && !probe_->max_concurrent.compare_exchange_weak(seen, now)) {
    }
    {
      std::lock_guard<std::mutex> lock(probe_->mutex);
      ++probe_->reads[name];
    }
    ++probe_->total;
    if (probe_->delay_ms > 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(probe_->delay_ms));
    // A frame selector names the source file here (the library has no multi-frame TGA).
    std::string file = name;
    if (!probe_->multi_frame_name.empty() && file.rfind(probe_->multi_frame_name + ":", 0) == 0)
      file = probe_->multi_frame_name;
    const int result = SequenceLoader::Read(file.c_str());
    --probe_->concurrent;
    return result;
  }

 private:
  LoaderProbe* probe_;
};

class ProbeCache : public ImageCache {
 public:
  explicit ProbeCache(LoaderProbe* probe) : probe_(probe) {}
  ~ProbeCache() override = default;

 protected:
  SequenceLoader* CreateLoader(bool dummy) override {
    if (dummy) return ImageCache::CreateLoader(true);
    return new ProbeLoader(probe_);
  }

 private:
  LoaderProbe* probe_;
};

using kxtest::ListOf;

// n tagged 6 x 4 pictures f<i>.tga (tag = i + 1).
std::vector<std::string> WriteSequence(const TempDir& dir, int n, int w = 6, int h = 4) {
  std::vector<std::string> names;
  for (int i = 0; i < n; ++i) {
    names.push_back(dir.File("f" + std::to_string(i) + ".tga"));
    WriteTga(names.back(), w, h, 0x20, i + 1);
  }
  return names;
}

TEST(ImageCache, SetImageListResults) {
  TempDir dir;
  LoaderProbe probe;
  ProbeCache cache(&probe);
  EXPECT_EQ(cache.SetImageList(PackedStringListPtr(), -1, -1), 1);
  PackedStringListPtr empty;
  empty.Allocate();
  EXPECT_EQ(cache.SetImageList(empty, -1, -1), 1);
  EXPECT_EQ(cache.SetImageList(ListOf({"clip.dv"}), -1, -1), 3);  // no extension the cache knows
  const std::string comments = dir.File("comments.txt");
  WriteFile(comments, std::string("# only\r\n\r\n   \n#more\n"));
  EXPECT_EQ(cache.SetImageList(ListOf({comments}), -1, -1), 4);
  EXPECT_EQ(cache.SetImageList(ListOf({dir.File("nolist.txt")}), -1, -1), 4);
  {
    kxtest::LogCapture log;
    EXPECT_EQ(cache.SetImageList(ListOf({dir.File("missing.tga")}), -1, -1), 4);
    if (!NotifyContext::Instance().LevelFixed()) {
      EXPECT_TRUE(log.Has("can't read image(s) (ret: 0)"));
    }
  }
  EXPECT_FALSE(cache.GetFileList());  // failures keep the previous (empty) state
  EXPECT_EQ(cache.GetNumFrames(), 0u);
  EXPECT_FALSE(cache.GetImage(0));
  EXPECT_EQ(cache.GetImageFileName(0), nullptr);
  EXPECT_EQ(cache.Prefetch(0), 0);

  // Movie names are accepted without a source: every frame is null.
  ASSERT_EQ(cache.SetImageList(ListOf({"movie.avi", "movie2.avi"}), -1, -1), 0);
  EXPECT_EQ(cache.GetNumFrames(), 2u);
  EXPECT_FALSE(cache.GetImage(0));
  EXPECT_STREQ(cache.GetImageFileName(1), "movie2.avi");
  EXPECT_STREQ(cache.GetImageFileName(7), "movie.avi");  // beyond the count: entry 0
}

TEST(ImageCache, DummySource) {
  LoaderProbe probe;
  ProbeCache cache(&probe);
  ASSERT_EQ(cache.SetImageList(ListOf({"test.dummy"}), -1, -1), 0);
  EXPECT_EQ(cache.GetSourceKind(), 3);
  EXPECT_EQ(cache.GetNumFrames(), 2000u);
  EXPECT_EQ(cache.GetFrameWidth(), 640);
  EXPECT_EQ(cache.GetFrameHeight(), 480);
  for (int frame : {0, 1999, 5000}) {
    ImageCacheEntryPtr e = cache.GetImage(frame);
    ASSERT_TRUE(e) << frame;
    EXPECT_EQ(e->bgra.width, 640u);
    EXPECT_EQ(e->bgra.height, 480u);
    EXPECT_EQ(e->quarter_luminance.width, 160u);
    EXPECT_EQ(e->error, 0);
    EXPECT_EQ(e->bgra.GetElement(639, 479), 0u);  // cleared planes
    EXPECT_EQ(e->mean_luminance, 0.0);
  }
  EXPECT_FALSE(cache.GetImage(-1));
  cache.SetFieldMode(3);
  EXPECT_EQ(cache.GetNumFrames(), 4000u);
  ImageCacheEntryPtr field = cache.GetImage(3);
  ASSERT_TRUE(field);
  EXPECT_EQ(field->bgra.height, 240u);
}

TEST(ImageCache, DecodesFramesWithReducedImages) {
  TempDir dir;
  LoaderProbe probe;
  ProbeCache cache(&probe);
  const std::vector<std::string> names = WriteSequence(dir, 3, 7, 5);
  ASSERT_EQ(cache.SetImageList(ListOf(names), -1, -1), 0);
  EXPECT_EQ(cache.GetSourceKind(), 0);
  EXPECT_EQ(cache.GetNumFrames(), 3u);
  EXPECT_FALSE(cache.GetImage(3));
  EXPECT_FALSE(cache.GetImage(-1));
  for (int frame = 0; frame < 3; ++frame) {
    ImageCacheEntryPtr e = cache.GetImage(frame);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->error, 0);
    EXPECT_EQ(e->loading, 0);
    ASSERT_EQ(e->bgra.width, 7u);
    ASSERT_EQ(e->bgra.height, 5u);
    EXPECT_EQ(e->bgra.stride, 8u);
    EXPECT_EQ(e->luminance.stride, 16u);
    for (const void* plane :
         {(const void*)e->bgra.data, (const void*)e->half_bgra.data, (const void*)e->luminance.data,
          (const void*)e->half_luminance.data, (const void*)e->quarter_luminance.data})
      EXPECT_EQ(reinterpret_cast<uintptr_t>(plane) % 16, 0u);
    uint64_t sum = 0;
    for (uint32_t y = 0; y < 5; ++y)
      for (uint32_t x = 0; x < 7; ++x) {
        const uint32_t p = StoredPixel(int(x), int(y), frame + 1);
        EXPECT_EQ(e->bgra.GetElement(x, y), p);
        const uint32_t lum =
            (613 * ((p >> 16) & 0xFF) + 1201 * ((p >> 8) & 0xFF) + 234 * (p & 0xFF) + 1024) >> 11;
        EXPECT_EQ(e->luminance.GetElement(x, y), lum);
        sum += lum;
      }
    EXPECT_DOUBLE_EQ(e->mean_luminance, double(sum) / 35.0);
    ASSERT_EQ(e->half_bgra.width, 3u);
    ASSERT_EQ(e->half_bgra.height, 2u);
    // The half image is the 2:1 scaler's result; its first pixel mixes the 2 x 2 corner.
    EXPECT_EQ(e->half_bgra.GetElement(0, 0) >> 16, uint32_t(frame + 1));  // red is constant
    EXPECT_EQ(e->quarter_luminance.width, 1u);
  }
  EXPECT_STREQ(cache.GetImageFileName(2), names[2].c_str());
}

TEST(ImageCache, CapacityTrimsTheLeastRecentlyUsed) {
  TempDir dir;
  LoaderProbe probe;
  ProbeCache cache(&probe);
  const std::vector<std::string> names = WriteSequence(dir, 10, 4, 2);
  ASSERT_EQ(cache.SetImageList(ListOf(names), -1, -1), 0);
  for (int frame = 0; frame < 10; ++frame) cache.GetImage(frame);
  cache.GetImage(9);  // a hit; the walk trims to 8
  std::vector<int> cached = cache.GetCachedFrames();
  EXPECT_EQ(cached, (std::vector<int>{9, 8, 7, 6, 5, 4, 3, 2}));
  cache.GetImage(0);
  EXPECT_EQ(probe.Reads(names[0]), 2);  // frame 0 was dropped and decoded again
  EXPECT_EQ(probe.Reads(names[9]), 1);
  EXPECT_EQ(cache.GetCachedFrames().front(), 0);
  cache.GetImage(5);  // a hit moves to the front
  EXPECT_EQ(cache.GetCachedFrames().front(), 5);
  EXPECT_EQ(probe.Reads(names[5]), 1);

  // A held entry outlives the cache's list.
  ImageCacheEntryPtr held = cache.GetImage(4);
  cache.ClearCache();
  EXPECT_TRUE(cache.GetCachedFrames().empty());
  EXPECT_EQ(held->bgra.GetElement(1, 1), StoredPixel(1, 1, 5));

  cache.SetCapacity(2);
  for (int frame = 0; frame < 4; ++frame) cache.GetImage(frame);
  cache.GetImage(3);
  EXPECT_EQ(cache.GetCachedFrames(), (std::vector<int>{3, 2}));
}

// Expected pixel (x, y) of a frame by method, for a tag-1 picture of height 6 with the
// top field first.
TEST(ImageCache, FieldModes) {
  TempDir dir;
  LoaderProbe probe;
  ProbeCache cache(&probe);
  const std::vector<std::string> names = WriteSequence(dir, 2, 7, 6);
  ASSERT_EQ(cache.SetImageList(ListOf(names), -1, -1), 0);
  cache.SetTopFieldFirst(true);
  struct Case {
    int method;
    int frame;
    uint32_t width, height;
    uint32_t frames;
    int source_line_of_row1;  // stored line shown in row 1 (-1: interpolated)
    int tag;
  };
  const Case cases[] = {
      {0, 1, 7, 6, 2, 1, 2},   // whole picture
      {1, 0, 7, 3, 2, 2, 1},   // top field: lines 0, 2, 4
      {3, 2, 7, 3, 4, 2, 2},   // pair 1, even index: top field
      {3, 3, 7, 3, 4, 3, 2},   // odd index: bottom field
      {4, 0, 7, 6, 2, -1, 1},  // top field line-doubled: row 1 interpolated
      {5, 1, 7, 6, 4, 1, 1},   // bottom field line-doubled: row 1 = line 1
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "method " << c.method << " frame " << c.frame);
    cache.SetFieldMode(c.method);
    EXPECT_EQ(cache.GetNumFrames(), c.frames);
    EXPECT_EQ(cache.HasTwoFieldsPerFrame(), c.method == 3 || c.method == 5);
    ImageCacheEntryPtr e = cache.GetImage(int32_t(c.frame));
    ASSERT_TRUE(e);
    EXPECT_EQ(e->error, 0);
    EXPECT_EQ(e->bgra.width, c.width);
    EXPECT_EQ(e->bgra.height, c.height);
    const uint32_t expected =
        c.source_line_of_row1 >= 0
            ? StoredPixel(3, c.source_line_of_row1, c.tag)
            : AveragePixels(StoredPixel(3, 0, c.tag), StoredPixel(3, 2, c.tag));
    EXPECT_EQ(e->bgra.GetElement(3, 1), expected);
  }
  // Method 2 halves the width; an odd width comes back whole.
  cache.SetFieldMode(2);
  EXPECT_EQ(cache.GetFrameWidth(), 3);
  ImageCacheEntryPtr half = cache.GetImage(0);
  ASSERT_TRUE(half);
  EXPECT_EQ(half->bgra.width, 3u);
  EXPECT_EQ(half->bgra.height, 3u);
  EXPECT_EQ(half->bgra.GetElement(1, 1), AveragePixels(StoredPixel(2, 2, 1), StoredPixel(3, 2, 1)));
  cache.SetFieldMode(0);
  EXPECT_EQ(cache.GetFrameWidth(), 7);
  cache.SetFieldMode(2);
  cache.SetFieldMode(1);
  EXPECT_EQ(cache.GetFrameWidth(), 7);

  // The bottom field when the flag is clear.
  cache.SetTopFieldFirst(false);
  ImageCacheEntryPtr bottom = cache.GetImage(0);
  EXPECT_EQ(bottom->bgra.GetElement(3, 1), StoredPixel(3, 3, 1));
}

TEST(ImageCache, SisterFieldsShareOneDecode) {
  TempDir dir;
  LoaderProbe probe;
  ProbeCache cache(&probe);
  const std::vector<std::string> names = WriteSequence(dir, 3, 4, 4);
  ASSERT_EQ(cache.SetImageList(ListOf(names), -1, -1), 0);
  cache.SetFieldMode(3);
  cache.SetTopFieldFirst(true);
  ImageCacheEntryPtr five = cache.GetImage(5);
  ASSERT_TRUE(five);
  EXPECT_EQ(probe.Reads(names[2]), 1);
  EXPECT_EQ(cache.GetCachedFrames(), (std::vector<int>{5, 4}));
  ImageCacheEntryPtr four = cache.GetImage(4);
  EXPECT_EQ(probe.Reads(names[2]), 1);  // a hit
  EXPECT_EQ(four->bgra.GetElement(0, 1), StoredPixel(0, 2, 3));
  EXPECT_EQ(five->bgra.GetElement(0, 1), StoredPixel(0, 3, 3));
  EXPECT_EQ(cache.GetCachedFrames(), (std::vector<int>{4, 5}));
  EXPECT_STREQ(cache.GetImageFileName(5), names[2].c_str());
}

TEST(ImageCache, MultiFrameFilesAndListFiles) {
  TempDir dir;
  LoaderProbe probe;
  probe.multi_frame_name = dir.File("clip.tga");
  probe.multi_frame_count = 3;
  WriteTga(probe.multi_frame_name, 4, 2);
  ProbeCache cache(&probe);
  ASSERT_EQ(cache.SetImageList(ListOf({probe.multi_frame_name}), -1, -1), 0);
  EXPECT_EQ(cache.GetSourceKind(), 1);
  ASSERT_EQ(cache.GetNumFrames(), 3u);
  EXPECT_EQ(cache.GetImageFileName(2), probe.multi_frame_name + ":000002");

  // A list file naming the multi-frame file expands it; a frame selector opens one frame.
  const std::string list = dir.File("list.txt");
  WriteFile(list, std::string("# shots\r\nclip.tga\r\nother.tga\r\n"));
  ASSERT_EQ(cache.SetImageList(ListOf({list}), -1, -1), 0);
  EXPECT_EQ(cache.GetSourceKind(), 1);
  EXPECT_EQ(cache.GetImageFileName(1), probe.multi_frame_name + ":000001");
  const std::string one = probe.multi_frame_name + ":000003";
  ASSERT_EQ(cache.SetImageList(ListOf({one}), -1, -1), 0);
  EXPECT_EQ(cache.GetSourceKind(), 0);
  EXPECT_EQ(cache.GetNumFrames(), 1u);
  ImageCacheEntryPtr e = cache.GetImage(0);
  EXPECT_EQ(e->error, 0);
  EXPECT_EQ(e->bgra.GetElement(3, 1), StoredPixel(3, 1));
}

// With the real loader: a list file whose first line names a raw multi-frame file becomes
// one entry per frame; the same name given directly has no extension the cache knows.
TEST(ImageCache, ListFileNamingARawMultiFrameFile) {
  TempDir dir;
  WriteFile(dir.File("clip.y4m"), sequence_test::MakeGreyY4m(3));
  const std::string list = dir.File("shots.txt");
  WriteFile(list, std::string("clip.y4m\r\n"));
  ImageCache cache;
  EXPECT_EQ(cache.SetImageList(ListOf({dir.File("clip.y4m")}), -1, -1), 3);
  ASSERT_EQ(cache.SetImageList(ListOf({list}), -1, -1), 0);
  EXPECT_EQ(cache.GetSourceKind(), 1);
  ASSERT_EQ(cache.GetNumFrames(), 3u);
  EXPECT_EQ(cache.GetImageFileName(0), dir.File("clip.y4m") + ":000000");
  double last = -1;
  for (int frame = 0; frame < 3; ++frame) {
    ImageCacheEntryPtr e = cache.GetImage(frame);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->error, 0);
    EXPECT_GT(e->mean_luminance, last + 20);
    last = e->mean_luminance;
  }
}

TEST(ImageCache, KeyOffsetSeparatesSequences) {
  TempDir dir;
  LoaderProbe probe;
  ProbeCache cache(&probe);
  const std::vector<std::string> names = WriteSequence(dir, 3, 4, 2);
  ASSERT_EQ(cache.SetImageList(ListOf(names), -1, -1), 0);
  EXPECT_EQ(cache.GetImage(1)->key, 1u);
  ImageCacheEntryPtr old = cache.GetImage(2);
  ASSERT_EQ(cache.SetImageList(ListOf({names[2], names[1]}), -1, -1), 0);
  EXPECT_TRUE(cache.GetCachedFrames().empty());
  ImageCacheEntryPtr e = cache.GetImage(1);
  EXPECT_EQ(e->key, 4u + 1);  // three entries rounded up to even
  EXPECT_EQ(cache.GetCachedFrames(), (std::vector<int>{1}));
  EXPECT_EQ(e->bgra.GetElement(0, 0) >> 16, 2u);  // the new list's second entry
  ASSERT_EQ(cache.SetImageList(ListOf(names), -1, -1), 0);
  EXPECT_EQ(cache.GetImage(0)->key, 6u);
}

// Failed decodes stay cached with their error flag; a smaller picture leaves the rest of a
// frame black, never stale memory.
TEST(ImageCache, FailuresAndSmallerPicturesLeaveClearedPixels) {
  TempDir dir;
  LoaderProbe probe;
  ProbeCache cache(&probe);
  std::vector<std::string> names = WriteSequence(dir, 2, 6, 4);
  WriteTga(names[1], 3, 2, 0x20, 9);
  names.push_back(dir.File("gone.tga"));
  WriteTga(names[2], 6, 4);
  ASSERT_EQ(cache.SetImageList(ListOf(names), -1, -1), 0);
  ImageCacheEntryPtr small = cache.GetImage(1);
  EXPECT_EQ(small->error, 0);
  EXPECT_EQ(small->bgra.GetElement(2, 1), StoredPixel(2, 1, 9));
  EXPECT_EQ(small->bgra.GetElement(5, 3), 0u);
  EXPECT_EQ(small->bgra.GetElement(3, 0), 0u);

  std::remove(names[2].c_str());
  ImageCacheEntryPtr failed = cache.GetImage(2);
  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->error, 1);
  EXPECT_EQ(failed->loading, 0);
  EXPECT_EQ(failed->bgra.GetElement(5, 3), 0u);
  EXPECT_EQ(cache.GetImage(2), failed);  // stays cached
  EXPECT_EQ(probe.Reads(names[2]), 1);
}

TEST(ImageCache, TwoThreadsOnOneFrameDecodeOnce) {
  TempDir dir;
  LoaderProbe probe;
  probe.delay_ms = 60;
  ProbeCache cache(&probe);
  const std::vector<std::string> names = WriteSequence(dir, 2, 4, 4);
  ASSERT_EQ(cache.SetImageList(ListOf(names), -1, -1), 0);
  ImageCacheEntryPtr got[3];
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) threads.emplace_back([&, t] { got[t] = cache.GetImage(1); });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(probe.Reads(names[1]), 1);
  for (const ImageCacheEntryPtr& e : got) {
    ASSERT_EQ(e, got[0]);
    EXPECT_EQ(e->loading, 0);
    EXPECT_EQ(e->bgra.GetElement(2, 2), StoredPixel(2, 2, 2));
  }
}

TEST(ImageCache, PrefetchLoadsInTheBackground) {
  TempDir dir;
  LoaderProbe probe;
  ProbeCache cache(&probe);
  const std::vector<std::string> names = WriteSequence(dir, 4, 4, 4);
  ASSERT_EQ(cache.SetImageList(ListOf(names), -1, -1), 0);
  EXPECT_EQ(cache.Prefetch(-1), 4);  // refused; the thread must survive it
  EXPECT_EQ(cache.Prefetch(4), 4);
  EXPECT_EQ(cache.Prefetch(2), 0);
  for (int i = 0; i < 500 && probe.total.load() == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  ImageCacheEntryPtr e = cache.GetImage(2);  // waits for the prefetch when still loading
  EXPECT_EQ(e->loading, 0);
  EXPECT_EQ(probe.Reads(names[2]), 1);
  EXPECT_EQ(cache.Prefetch(3), 0);
  ImageCacheEntryPtr three = cache.GetImage(3);
  EXPECT_EQ(three->bgra.GetElement(1, 1), StoredPixel(1, 1, 4));
  EXPECT_EQ(probe.Reads(names[3]), 1);
}

// Readers on several threads, the prefetch thread and an owner changing settings at once.
// Run under ThreadSanitizer as well (the "tsan" preset).
TEST(ImageCache, StressConcurrentReadersAndSettings) {
  TempDir dir;
  LoaderProbe probe;
  const std::vector<std::string> names = WriteSequence(dir, 12, 6, 4);
  std::atomic<int> bad{0};
  {
    ProbeCache cache(&probe);
    ASSERT_EQ(cache.SetImageList(ListOf(names), -1, -1), 0);
    cache.SetCapacity(3);
    std::atomic<bool> stop{false};
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t) {
      readers.emplace_back([&, t] {
        std::mt19937 rng(t);
        while (!stop) {
          const int frame = int(rng() % 14) - 1;
          ImageCacheEntryPtr e = cache.GetImage(frame);
          if (rng() % 4 == 0) cache.Prefetch(int(rng() % 13));
          if (!e) continue;
          if (e->loading) ++bad;
          // Decoded pixels carry their picture's tag (1..12); cleared ones are 0.
          if (!e->error && e->bgra.width > 0 && (e->bgra.GetElement(0, 0) >> 16) > 12) ++bad;
          (void)cache.GetCachedFrames();
        }
      });
    }
    std::mt19937 rng(99);
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(400);
    while (std::chrono::steady_clock::now() < until) {
      switch (rng() % 5) {
        case 0:
          cache.SetFieldMode(int(rng() % 6));
          break;
        case 1:
          cache.ClearCache();
          break;
        case 2:
          cache.SetCapacity(int(rng() % 4) + 1);
          break;
        case 3:
          cache.SetTopFieldFirst(rng() & 1);
          break;
        default:
          cache.SetImageList(ListOf(names), -1, -1);
          break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    stop = true;
    for (std::thread& t : readers) t.join();
  }  // the destructor stops the prefetch thread
  EXPECT_EQ(bad.load(), 0);
  EXPECT_EQ(probe.max_concurrent.load(), 1);  // decodes are serialised
}

TEST(ImageCache, IntersectAndLuminance) {
  struct Case {
    IntRect a, b, expected;
  };
  const Case cases[] = {
      {{0, 0, 10, 10}, {5, 3, 10, 10}, {5, 3, 5, 7}},
      {{0, 0, 10, 10}, {10, 0, 5, 5}, {0, 0, 0, 0}},  // touching: empty
      {{2, 2, 4, 4}, {0, 0, 100, 100}, {2, 2, 4, 4}},
      {{0, 0, 10, 10}, {3, -5, 2, 4}, {0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    const IntRect r = IntRect::Intersect(c.a, c.b);
    EXPECT_EQ(r.x, c.expected.x);
    EXPECT_EQ(r.y, c.expected.y);
    EXPECT_EQ(r.width, c.expected.width);
    EXPECT_EQ(r.height, c.expected.height);
  }
  const uint32_t px[4] = {0x00FFFFFF, 0x00000000, 0x00FF0000, 0x000000FF};
  uint8_t lum[4];
  ImageCache::ConvertRowToLuminance(lum, px, 4);
  EXPECT_EQ(lum[0], 255);
  EXPECT_EQ(lum[1], 0);
  EXPECT_EQ(lum[2], (613 * 255 + 1024) >> 11);
  EXPECT_EQ(lum[3], (234 * 255 + 1024) >> 11);
  uint8_t plane[2 * 16] = {};
  const double mean = ImageCache::MakeLuminanceImage(
      ArrayMap<uint8_t>(plane, 16, 2, 2), ArrayMap<uint32_t>(const_cast<uint32_t*>(px), 2, 2, 2));
  EXPECT_DOUBLE_EQ(mean, (255.0 + 0 + lum[2] + lum[3]) / 4);
  EXPECT_EQ(ImageCache::MakeLuminanceImage(ArrayMap<uint8_t>(plane, 16, 0, 2),
                                           ArrayMap<uint32_t>(const_cast<uint32_t*>(px), 2, 2, 2)),
            0.0);
}

}  // namespace
