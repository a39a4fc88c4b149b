#include "image/gif_reader.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "image/image_file_io.h"
#include "image/image_for_test.h"
#include "testing/log_capture.h"

namespace ImageFileIO {
namespace {

using testing_util::TempDir;
using testing_util::WriteFile;

// A plain GIF LZW encoder: a clear code first, no further clears (the table freezes when full),
// the end code last; codes packed least significant bit first into sub-blocks of 255 bytes.
std::vector<uint8_t> EncodeLzw(const std::vector<uint8_t>& indices, int root_size,
                               bool end_code = true, int* bit_count = nullptr) {
  const int clear = 1 << root_size;
  int code_size = root_size + 1;
  int next = clear + 2;
  std::map<std::pair<int, int>, int> table;
  std::vector<uint8_t> packed;
  uint32_t bits = 0;
  int count = 0;
  auto emit = [&](int code) {
    while (next > (1 << code_size) && code_size < 12) ++code_size;
    bits |= uint32_t(code) << count;
    count += code_size;
    while (count >= 8) {
      packed.push_back(uint8_t(bits));
      bits >>= 8;
      count -= 8;
    }
  };
  emit(clear);
  int w = -1;
  for (uint8_t k : indices) {
    if (w < 0) {
      w = k;
      continue;
    }
    auto it = table.find({w, k});
    if (it != table.end()) {
      w = it->second;
      continue;
    }
    emit(w);
    if (next < 4096) table[{w, k}] = next++;
    w = k;
  }
  if (w >= 0) emit(w);
  if (end_code) emit(clear + 1);
  if (bit_count) *bit_count = int(packed.size()) * 8 + count;
  if (count > 0) packed.push_back(uint8_t(bits));
  std::vector<uint8_t> blocks;
  for (size_t i = 0; i < packed.size(); i += 255) {
    size_t n = std::min<size_t>(255, packed.size() - i);
    blocks.push_back(uint8_t(n));
    blocks.insert(blocks.end(), packed.begin() + i, packed.begin() + i + n);
  }
  blocks.push_back(0);
  return blocks;
}

struct GifSpec {
  char version = '9';
  int width = 1, height = 1;
  int global_bits = 0;  // table of 2 << (bits - 1) entries; 0: none
  int local_bits = 0;
  bool interlaced = false;
  bool extensions = false;
  int root_size = 8;
};

uint32_t Colour(int i) {
  return uint32_t(i * 0x010203u + 0x102030u) & 0xFFFFFFu;
}

void AppendTable(std::vector<uint8_t>& out, int bits, int salt) {
  for (int i = 0; i < (2 << (bits - 1)); ++i) {
    uint32_t c = Colour(i + salt);
    out.insert(out.end(), {uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c)});
  }
}

// Stored order of the rows of an interlaced image.
std::vector<int> StoredRows(int height, bool interlaced) {
  std::vector<int> rows;
  if (!interlaced) {
    for (int r = 0; r < height; ++r) rows.push_back(r);
    return rows;
  }
  const int starts[4] = {0, 4, 2, 1}, steps[4] = {8, 8, 4, 2};
  for (int pass = 0; pass < 4; ++pass)
    for (int r = starts[pass]; r < height; r += steps[pass]) rows.push_back(r);
  return rows;
}

std::vector<uint8_t> BuildGif(const GifSpec& spec, const std::vector<uint8_t>& image) {
  std::vector<uint8_t> out = {'G', 'I', 'F', '8', uint8_t(spec.version), 'a'};
  out.insert(out.end(), {uint8_t(spec.width), uint8_t(spec.width >> 8), uint8_t(spec.height),
                         uint8_t(spec.height >> 8),
                         uint8_t(spec.global_bits ? 0x80 | (spec.global_bits - 1) : 0), 0, 0});
  if (spec.global_bits) AppendTable(out, spec.global_bits, 0);
  if (spec.extensions) {
    out.insert(out.end(), {'!', 0xF9, 4, 1, 0, 0, 3, 0});  // graphic control
    out.insert(out.end(), {'!', 0xFE, 5, 'h', 'e', 'l', 'l', 'o', 2, 'x', 'y', 0});  // comment
  }
  uint8_t flags =
      uint8_t((spec.local_bits ? 0x80 | (spec.local_bits - 1) : 0) | (spec.interlaced ? 0x40 : 0));
  out.insert(out.end(), {',', 0, 0, 0, 0, uint8_t(spec.width), uint8_t(spec.width >> 8),
                         uint8_t(spec.height), uint8_t(spec.height >> 8), flags});
  if (spec.local_bits) AppendTable(out, spec.local_bits, 7);
  std::vector<uint8_t> stream;
  for (int r : StoredRows(spec.height, spec.interlaced))
    stream.insert(stream.end(), image.begin() + r * spec.width,
                  image.begin() + (r + 1) * spec.width);
  out.push_back(uint8_t(spec.root_size));
  std::vector<uint8_t> data = EncodeLzw(stream, spec.root_size);
  out.insert(out.end(), data.begin(), data.end());
  out.push_back(';');
  return out;
}

struct Decoded {
  int32_t open = 0;
  std::string description;
  std::vector<uint32_t> pixels;
  std::vector<int32_t> row_results;
};

Decoded ReadGif(const std::vector<uint8_t>& bytes, int rows = -1) {
  TempDir dir;
  WriteFile(dir.File("a.gif"), bytes);
  auto ctx = std::make_unique<ImageFileContext>();
  Decoded d;
  d.open = OpenRead(ctx.get(), dir.File("a.gif").c_str());
  if (d.open == 0) {
    d.description = ctx->description;
    std::vector<uint32_t> row(ctx->width);
    for (int r = 0; r < (rows < 0 ? ctx->height : rows); ++r) {
      d.row_results.push_back(ReadRow(row.data(), ctx.get()));
      d.pixels.insert(d.pixels.end(), row.begin(), row.end());
    }
  }
  Close(ctx.get());
  return d;
}

TEST(GifReader, DecodesImagesOfManyShapes) {
  struct Case {
    const char* name;
    GifSpec spec;
    const char* description;
    int colours;  // indices drawn from 0..colours-1
    bool random;
  };
  auto spec = [](int w, int h, int global, int local, bool interlaced, bool extensions, int root,
                 char version = '9') {
    GifSpec s;
    s.width = w, s.height = h, s.global_bits = global, s.local_bits = local;
    s.interlaced = interlaced, s.extensions = extensions, s.root_size = root;
    s.version = version;
    return s;
  };
  const Case cases[] = {
      {"plain", spec(5, 3, 2, 0, false, false, 2), "GIF89a-4", 4, true},
      {"extensions before the image", spec(5, 3, 2, 0, false, true, 2), "GIF89a-4", 4, true},
      {"1 x 7 interlaced", spec(1, 7, 3, 0, true, false, 3), "GIF89a-8", 8, true},
      {"interlaced with a local table", spec(13, 11, 4, 3, true, false, 3), "GIF89a-8", 8, true},
      {"one colour: codes defined by themselves", spec(1, 300, 1, 0, false, false, 2, '7'),
       "GIF87a-2", 1, false},
      {"a full table without clear", spec(64, 96, 8, 0, false, false, 8), "GIF89a-256", 256, true},
  };
  std::mt19937 random(3);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> image(c.spec.width * c.spec.height);
    for (size_t i = 0; i < image.size(); ++i)
      image[i] = uint8_t(c.random ? random() % c.colours : 0);
    Decoded d = ReadGif(BuildGif(c.spec, image));
    ASSERT_EQ(d.open, 0);
    EXPECT_EQ(d.description, c.description);
    int salt = c.spec.local_bits ? 7 : 0;
    int local_entries = c.spec.local_bits ? 2 << (c.spec.local_bits - 1) : 0;
    for (size_t i = 0; i < image.size(); ++i) {
      uint32_t expected = Colour(image[i] + (image[i] < local_entries ? salt : 0));
      ASSERT_EQ(d.pixels[i], expected) << "pixel " << i;
    }
    for (int32_t r : d.row_results) EXPECT_EQ(r, 0);
  }
}

// Image data that end before the picture is filled (zero-length block, end code, or no data at
// all) fail the first row they leave short; the rows before it read normally.
TEST(GifReader, DataEndingEarlyFailsTheFirstShortRow) {
  GifSpec s;
  s.width = 4, s.height = 2, s.global_bits = 2, s.root_size = 2;
  const std::vector<uint8_t> indices = {1, 2, 3, 0, 2, 2};  // row 0 and half of row 1
  auto with_data = [&](const std::vector<uint8_t>& data) {
    std::vector<uint8_t> gif = BuildGif(s, std::vector<uint8_t>(8, 0));
    gif.resize(13 + 12 + 10 + 1);  // up to the minimum code size
    gif.insert(gif.end(), data.begin(), data.end());
    gif.push_back(';');
    return gif;
  };
  // A 16384 x 16384 picture declared in 32 bytes without any image data.
  std::vector<uint8_t> huge = {'G', 'I', 'F', '8', '9', 'a', 0,    0x40, 0,    0x40, 0, 0, 0,
                               ',', 0,   0,   0,   0,   0,   0x40, 0,    0x40, 0,    8, 0, ';'};
  huge.resize(32, 0);
  struct Case {
    const char* name;
    std::vector<uint8_t> gif;
    std::vector<int32_t> rows;
    const char* logged;
  };
  const Case cases[] = {
      {"zero-length block", with_data(EncodeLzw(indices, 2, false)), {0, -22}, nullptr},
      {"end code", with_data(EncodeLzw(indices, 2, true)), {0, -22}, "Exit! n=2"},
      {"no data for a huge picture", huge, {-22, -22}, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    kxtest::LogCapture log;
    Decoded d = ReadGif(c.gif, 2);
    if (c.logged) {
      EXPECT_TRUE(log.Has(c.logged)) << log.text;
    }
    ASSERT_EQ(d.open, 0);
    EXPECT_EQ(d.row_results, c.rows);
    if (c.rows[0] == 0) {
      for (int i = 0; i < 4; ++i) EXPECT_EQ(d.pixels[i], Colour(indices[i])) << i;
    }
  }
}

TEST(GifReader, RefusesBadHeadersAndSurvivesDamagedData) {
  GifSpec s;
  s.width = 6, s.height = 4, s.global_bits = 2, s.root_size = 2;
  std::vector<uint8_t> image(24, 1);
  const std::vector<uint8_t> good = BuildGif(s, image);
  const size_t image_start = 13 + 12;  // after the screen descriptor and the global table
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    int32_t open;
  };
  std::vector<Case> cases;
  auto with = [&](size_t at, uint8_t value) {
    std::vector<uint8_t> b = good;
    b[at] = value;
    return b;
  };
  cases.push_back({"trailer before any image", with(image_start, ';'), -57});
  cases.push_back({"minimum code size 12", with(image_start + 10, 12), -59});
  cases.push_back({"zero width", with(image_start + 5, 0), -54});
  std::vector<uint8_t> truncated_extension(good.begin(), good.begin() + image_start);
  truncated_extension.insert(truncated_extension.end(), {'!', 0xFE, 40, 'a', 'b', 'c'});
  truncated_extension.resize(std::max<size_t>(truncated_extension.size(), 32), 'z');
  cases.push_back({"extension runs past the end", truncated_extension, -58});
  std::vector<uint8_t> short_table(good.begin(), good.begin() + 13);
  short_table[10] = 0x87;  // a 256-entry global table that is not there
  short_table.resize(40, 0);
  cases.push_back({"global table missing", short_table, -55});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ReadGif(c.bytes).open, c.open);
  }

  // Random image data never crashes: rows either decode or fail.
  std::mt19937 random(11);
  for (int trial = 0; trial < 200; ++trial) {
    std::vector<uint8_t> bytes(good.begin(), good.begin() + image_start + 10);
    bytes.push_back(uint8_t(2 + trial % 7));
    int blocks = 1 + trial % 4;
    for (int b = 0; b < blocks; ++b) {
      int n = 1 + random() % 255;
      bytes.push_back(uint8_t(n));
      for (int i = 0; i < n; ++i) bytes.push_back(uint8_t(random()));
    }
    if (trial % 2) bytes.push_back(0);
    bytes.resize(std::max<size_t>(bytes.size(), 32), 0);
    Decoded d = ReadGif(bytes);
    EXPECT_EQ(d.open, 0);
  }
}

// Without any colour table the description says so and rows read through the palette as it is.
TEST(GifReader, NoColourTable) {
  GifSpec s;
  s.version = '7', s.width = 3, s.height = 2, s.root_size = 2;
  std::vector<uint8_t> gif = BuildGif(s, std::vector<uint8_t>(6, 1));
  gif.resize(std::max<size_t>(gif.size(), 32), 0);
  Decoded d = ReadGif(gif);
  ASSERT_EQ(d.open, 0);
  EXPECT_EQ(d.description, "GIF87a-0");
  EXPECT_EQ(d.pixels, std::vector<uint32_t>(6, 0));
}

}  // namespace
}  // namespace ImageFileIO
