// Damaged files of every format this library reads: cut at every length and with bytes changed at
// random. Each must give a result code or pixels, never a fault (the tests run under
// AddressSanitizer and UndefinedBehaviorSanitizer).
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "image/image_file_io.h"
#include "image/image_for_test.h"

namespace ImageFileIO {
namespace {

using namespace testing_util;

std::vector<uint8_t> Written(const TempDir& dir, int32_t type, int32_t bits) {
  const int32_t w = 7, h = 5;
  std::vector<uint32_t> px;
  for (int32_t i = 0; i < w * h; ++i) px.push_back(i % 3 ? uint32_t(i) * 0x030507u : 0x808080u);
  auto ctx = std::make_unique<ImageFileContext>();
  EXPECT_EQ(OpenWrite(ctx.get(), dir.File("w").c_str(), type, w, h, bits), 0);
  for (int32_t y = 0; y < h; ++y) WriteRow(px.data() + y * w, ctx.get());
  EXPECT_EQ(Close(ctx.get()), 0);
  return ReadFile(dir.File("w"));
}

std::vector<uint8_t> BmpRle(int bits) {
  // 4 x 3 palette image, RLE8 or RLE4, with a run, a literal, a delta and the end codes.
  std::vector<uint8_t> out = {'B', 'M'};
  const std::vector<uint8_t> data =
      bits == 8 ? std::vector<uint8_t>{2, 1, 0, 2, 1, 1, 1, 2, 0, 0, 0, 4, 1, 2, 3, 1, 0, 1}
                : std::vector<uint8_t>{2, 0x12, 0, 2, 1, 1, 1, 0x20, 0, 0, 0, 4, 0x12, 0x31, 0, 1};
  PutLe32(&out, uint32_t(54 + 16 + data.size()));
  PutLe32(&out, 0);
  PutLe32(&out, 54 + 16);
  PutLe32(&out, 40);
  PutLe32(&out, 4);
  PutLe32(&out, 3);
  PutLe16(&out, 1);
  PutLe16(&out, uint32_t(bits));
  PutLe32(&out, bits == 8 ? 1 : 2);
  for (int i = 0; i < 5; ++i) PutLe32(&out, 0);
  for (uint32_t p : {0x000000u, 0x112233u, 0x445566u, 0x778899u}) PutLe32(&out, p);
  Append(&out, data);
  return out;
}

std::vector<uint8_t> Pm() {
  std::vector<uint8_t> out = Bytes("VIEW");
  for (uint32_t v : {3u, 2u, 3u, 1u, 0x8004u, 0u}) PutBe32(&out, v);
  out.resize(out.size() + 2 * 3 * 12, 0x5A);
  return out;
}

TEST(ImageMalformed, CutAndChangedFilesNeverFault) {
  TempDir dir;
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
  } samples[] = {
      {"pgm", Written(dir, kWritePNM, 8)},
      {"pgm16", Written(dir, kWritePNM, 16)},
      {"ppm48", Written(dir, kWritePNM, 48)},
      {"tga", Written(dir, kWriteTGA, 24)},
      {"tga rle", Written(dir, kWriteTGARLE, 24)},
      {"tga rle grey", Written(dir, kWriteTGARLE, 8)},
      {"png", Written(dir, kWritePNG, 24)},
      {"png48", Written(dir, kWritePNG, 48)},
      {"p1", Bytes("P1\n# c\n7 2\n0 1 0 1 1 1 0\n1 1 1 0 0 0 1\n")},
      {"p2", Bytes("P2 3 2 65535\n1 2 3\n4 5 60000\n")},
      {"p3", Bytes("P3 2 2 255 1 2 3 4 5 6 7 8 9 10 11 12 ")},
      {"bmp rle8", BmpRle(8)},
      {"bmp rle4", BmpRle(4)},
      {"pm", Pm()},
  };
  const char* prefixes[] = {"", "pnm:", "tga:", "bmp:"};
  std::mt19937 rng(2026);
  for (const auto& sample : samples) {
    SCOPED_TRACE(sample.name);
    std::vector<std::vector<uint8_t>> variants;
    for (size_t cut = 0; cut < sample.bytes.size(); ++cut) {
      variants.emplace_back(sample.bytes.begin(), sample.bytes.begin() + std::ptrdiff_t(cut));
    }
    for (int round = 0; round < 150; ++round) {
      std::vector<uint8_t> changed = sample.bytes;
      const int changes = 1 + int(rng() % 4);
      for (int k = 0; k < changes; ++k) {
        const size_t at = rng() % changed.size();
        changed[at] = rng() % 3 == 0 ? uint8_t(0xFF) : uint8_t(rng());
      }
      variants.push_back(std::move(changed));
    }
    testing::internal::CaptureStderr();
    for (size_t v = 0; v < variants.size(); ++v) {
      WriteFile(dir.File("x"), variants[v]);
      const std::string prefix = prefixes[v % 4];
      Decoded d = Decode(prefix + dir.File("x"));
      ASSERT_LE(d.open_result, 0);
      if (d.open_result == 0) {
        ASSERT_GT(d.width, 0);
        ASSERT_GT(d.height, 0);
        ASSERT_EQ(d.pixels.size(), size_t(d.rows_read) * size_t(d.width));
      }
    }
    testing::internal::GetCapturedStderr();
  }
}

}  // namespace
}  // namespace ImageFileIO
