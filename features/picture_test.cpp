#include "features/picture.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "testing/log_capture.h"

namespace {

using kxtest::LogCapture;

template <typename T>
void ExpectLayout(uint32_t w, uint32_t h, uint32_t b, uint32_t row, uint32_t band) {
  CPicture<T> p;
  p.Resize(w, h, b);
  EXPECT_EQ(p.RowStride(), row) << sizeof(T);
  EXPECT_EQ(p.BandStride(), band) << sizeof(T);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(p.Data()) % 16, 0u);
  // The last element of the last band is addressable and distinct per band.
  p.SetElement(T(7), w - 1, h - 1, b - 1);
  EXPECT_EQ(p.GetBand(b - 1).data[(w - 1) + (h - 1) * row], T(7));
}

TEST(CPictureTest, RowsArePaddedTo16Bytes) {
  ExpectLayout<unsigned char>(17, 3, 1, 32, 96);
  ExpectLayout<float>(17, 3, 2, 20, 60);
  ExpectLayout<int32_t>(4, 2, 3, 4, 8);
  ExpectLayout<double>(5, 2, 1, 6, 12);

  CPicture<float> empty;
  empty.Resize(0, 5, 2);
  EXPECT_EQ(empty.Data(), nullptr);
  EXPECT_EQ(empty.Height(), 5u);
}

TEST(CPictureTest, OutOfRangeAccessThrowsTheMessage) {
  CPicture<float> p;
  p.Resize(4, 4, 1);
  p.FillBand(0, 1.5f);
  const struct {
    uint32_t x, y, band;
    bool set;
    const char* text;
  } cases[] = {
      {3, 0, 1, false, "CPicture::GetElement: 3, 0, 1 outside range [4, 4, 1]"},
      {4, 0, 0, false, "CPicture::GetElement: 4, 0, 0 outside range [4, 4, 1]"},
      {0, 4, 0, true, "CPicture::SetElement: 0, 4, 0 outside range [4, 4, 1]"},
  };
  for (const auto& c : cases) {
    try {
      if (c.set)
        p.SetElement(9.0f, c.x, c.y, c.band);
      else
        p.GetElement(c.x, c.y, c.band);
      ADD_FAILURE() << "no throw for " << c.text;
    } catch (const char* text) {
      EXPECT_STREQ(text, c.text);
    }
  }
  for (uint32_t y = 0; y < 4; ++y)
    for (uint32_t x = 0; x < 4; ++x) EXPECT_EQ(p.GetElement(x, y, 0), 1.5f);
}

TEST(CPictureTest, ConcurrentThrowsKeepTheirOwnText) {
  CPicture<unsigned char> p;
  p.Resize(2, 2, 1);
  constexpr int kThreads = 4, kThrows = 15;  // fewer throws than the ring holds
  std::vector<std::vector<std::pair<const char*, std::string>>> seen(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < kThrows; ++i) {
        try {
          p.GetElement(100 + t, i, 0);
        } catch (const char* text) {
          seen[t].emplace_back(text, "CPicture::GetElement: " + std::to_string(100 + t) + ", " +
                                         std::to_string(i) + ", 0 outside range [2, 2, 1]");
        }
      }
    });
  for (std::thread& t : threads) t.join();
  // Checked after every thread threw: no later throw overwrote an earlier text.
  for (const auto& list : seen) {
    ASSERT_EQ(list.size(), static_cast<size_t>(kThrows));
    for (const auto& [text, expected] : list) EXPECT_EQ(std::string(text), expected);
  }
}

TEST(CPictureTest, ResizeFillCopyAndSize) {
  CPicture<unsigned char> a;
  a.Resize(5, 3, 2);
  a.FillBand(0, 10);
  a.FillBand(1, 20);
  unsigned char* data = a.Data();
  a.Resize(5, 3, 2);  // same size: contents kept
  EXPECT_EQ(a.Data(), data);
  EXPECT_EQ(a.GetElement(4, 2, 1), 20);

  {
    LogCapture log;
    a.FillBand(2, 99);
    EXPECT_NE(log.text.find("invalid band: 2"), std::string::npos) << log.text;
  }

  CPicture<unsigned char> b;
  EXPECT_FALSE(b.HasSameSize(a));
  b.CopyFrom(a);
  EXPECT_TRUE(b.HasSameSize(a));
  EXPECT_NE(b.Data(), a.Data());
  for (uint32_t y = 0; y < 3; ++y)
    for (uint32_t x = 0; x < 5; ++x) {
      EXPECT_EQ(b.GetElement(x, y, 0), 10);
      EXPECT_EQ(b.GetElement(x, y, 1), 20);
    }
  b.Resize(5, 3, 1);
  EXPECT_FALSE(b.HasSameSize(a));

  unsigned char* block = a.Data();
  CPicture<unsigned char> moved(std::move(a));
  EXPECT_EQ(moved.Data(), block);
  EXPECT_EQ(a.Data(), nullptr);
  EXPECT_EQ(a.Width(), 0u);
  b = std::move(moved);
  EXPECT_EQ(b.Data(), block);
  EXPECT_EQ(b.GetElement(4, 2, 1), 20);
  EXPECT_EQ(moved.Bands(), 0u);
}

}  // namespace
