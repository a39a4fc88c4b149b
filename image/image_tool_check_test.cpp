// Independent checks: files made by ImageMagick and netpbm are decoded by our readers and compared
// exactly with the tools' own decode; files from our writers are decoded by the tools. Skipped
// where the tools are not installed.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "image/image_file_io.h"
#include "image/image_for_test.h"

namespace ImageFileIO {
namespace {

using namespace testing_util;

const char kConvert[] = "/usr/bin/convert";

bool HaveTools() {
  return ::access(kConvert, X_OK) == 0 && ::access("/usr/bin/pnmtoplainpnm", X_OK) == 0 &&
         ::access("/usr/bin/ppmtobmp", X_OK) == 0;
}

bool RunShell(const std::string& command) {
  return std::system(command.c_str()) == 0;
}

// The tool's decode: 0x00RRGGBB from the high bytes of its 16-bit samples, top row first, plus
// the alpha samples' high bytes.
struct Reference {
  bool ok = false;
  std::vector<uint32_t> rgb;
  std::vector<uint32_t> rgb_rounded;  // 16-bit samples rounded to 8 bits, as libtiff does
  std::vector<uint8_t> alpha;
};

Reference ToolDecode(const TempDir& dir, const std::string& file) {
  Reference ref;
  const std::string raw = dir.File("ref.rgba");
  const bool tga = file.size() > 4 && file.compare(file.size() - 4, 4, ".tga") == 0;
  const std::string source = tga ? "tgatoppm '" + file + "' 2>/dev/null | " + kConvert + " ppm:-"
                                 : std::string(kConvert) + " '" + file + "'";
  if (!RunShell(source + " -depth 16 -endian MSB rgba:'" + raw + "'")) return ref;
  const std::vector<uint8_t> bytes = ReadFile(raw);
  for (size_t i = 0; i + 8 <= bytes.size(); i += 8) {
    ref.rgb.push_back(uint32_t(bytes[i]) << 16 | uint32_t(bytes[i + 2]) << 8 | bytes[i + 4]);
    uint32_t rounded = 0;
    for (size_t k = 0; k < 3; ++k) {
      const uint32_t v = uint32_t(bytes[i + 2 * k]) << 8 | bytes[i + 2 * k + 1];
      rounded = rounded << 8 | (v * 255 + 32767) / 65535;
    }
    ref.rgb_rounded.push_back(rounded);
    ref.alpha.push_back(bytes[i + 6]);
  }
  ref.ok = true;
  return ref;
}

// Our decode in top-left order (rows as stored, then placed by the orientation).
std::vector<uint32_t> TopLeft(const Decoded& d) {
  std::vector<uint32_t> out(d.pixels.size());
  const bool bottom_first = d.orientation == 3 || d.orientation == 4;
  const bool right_first = d.orientation == 2 || d.orientation == 3;
  for (int32_t y = 0; y < d.height; ++y) {
    for (int32_t x = 0; x < d.width; ++x) {
      const int32_t sy = bottom_first ? d.height - 1 - y : y;
      const int32_t sx = right_first ? d.width - 1 - x : x;
      out[size_t(y * d.width + x)] = d.pixels[size_t(sy * d.width + sx)] & 0xFFFFFF;
    }
  }
  return out;
}

struct ToolCase {
  const char* name;
  const char* file;
  std::string command;  // {convert}, {src}, {src16} and {out} are replaced
  const char* description;
  uint32_t mask = 0xFFFFFF;  // the bits our decode shares with the tool's
  bool rounded = false;      // 16-bit samples reach 8 bits rounded rather than cut
};

std::string Expand(std::string text, const TempDir& dir, const std::string& out) {
  const std::pair<std::string, std::string> keys[] = {{"{src16}", dir.File("src16.ppm")},
                                                      {"{src}", dir.File("src.ppm")},
                                                      {"{out}", out},
                                                      {"{convert}", kConvert}};
  for (const auto& [key, value] : keys) {
    for (size_t at; (at = text.find(key)) != std::string::npos;)
      text.replace(at, key.size(), value);
  }
  return text;
}

TEST(ImageToolCheck, ReadersMatchToolDecode) {
  if (!HaveTools()) GTEST_SKIP() << "ImageMagick or netpbm not installed";
  TempDir dir;
  // A picture with many colours, made by the tool; 37 x 23 so rows need padding in BMP.
  ASSERT_TRUE(RunShell(std::string(kConvert) + " -seed 7 -size 37x23 plasma: -depth 8 '" +
                       dir.File("src.ppm") + "'"));
  ASSERT_TRUE(RunShell(std::string(kConvert) + " -seed 7 -size 37x23 plasma: -depth 16 '" +
                       dir.File("src16.ppm") + "'"));
  const std::vector<ToolCase> cases = {
      {"P1", "a.pbm", "ppmtopgm {src} | pgmtopbm -threshold | pnmtoplainpnm > {out}", "PBM-1a"},
      {"P2", "a.pgm", "ppmtopgm {src} | pnmtoplainpnm > {out}", "PGM-8a"},
      {"P3", "a.ppm", "pnmtoplainpnm {src} > {out}", "PPM-24a"},
      {"P4", "b.pbm", "ppmtopgm {src} | pgmtopbm -threshold > {out}", "PBM-1r"},
      {"P5", "b.pgm", "ppmtopgm {src} > {out}", "PGM-8r"},
      {"P6", "b.ppm", "cp {src} {out}", "PPM-24r"},
      {"P2 16-bit", "c.pgm", "ppmtopgm {src16} | pnmtoplainpnm > {out}", "PGM-16a"},
      {"P3 16-bit", "c.ppm", "pnmtoplainpnm {src16} > {out}", "PPM-48a"},
      {"P5 16-bit", "d.pgm", "ppmtopgm {src16} > {out}", "PGM-16r"},
      {"P6 16-bit", "d.ppm", "cp {src16} {out}", "PPM-48r"},
      // Bottom-up TGA from netpbm; top-down TGA from ImageMagick, whose version here does not place
      // bottom-up rows by the origin bits, so netpbm decodes the TGA references.
      {"TGA bottom-up", "a.tga", "ppmtotga -rgb -norle {src} > {out} 2>/dev/null", "TGA-24"},
      {"TGA RLE bottom-up", "b.tga", "ppmtotga -rgb {src} > {out} 2>/dev/null", "TGA-24c"},
      {"TGA grey", "c.tga", "ppmtopgm {src} | ppmtotga -mono -norle > {out} 2>/dev/null", "TGA-8g"},
      {"TGA RLE grey", "d.tga", "ppmtopgm {src} | ppmtotga -mono > {out} 2>/dev/null", "TGA-8gc"},
      {"TGA mapped", "e.tga",
       "pnmquant 50 {src} 2>/dev/null | ppmtotga -cmap -norle > {out} 2>/dev/null", "TGA-8"},
      {"TGA RLE mapped", "f.tga",
       "pnmquant 50 {src} 2>/dev/null | ppmtotga -cmap > {out} 2>/dev/null", "TGA-8c"},
      {"TGA top-down", "g.tga", "{convert} {src} -orient TopLeft {out}", "TGA-24"},
      {"TGA RLE top-down", "h.tga", "{convert} {src} -compress RLE -orient TopLeft {out}",
       "TGA-24c"},
      {"TGA 32 top-down", "i.tga", "{convert} {src} -alpha on -orient TopLeft {out}", "TGA-32"},
      {"BMP 1", "a.bmp", "pnmquant 2 {src} 2>/dev/null | ppmtobmp -bpp 1 > {out} 2>/dev/null",
       "BMP-1"},
      {"BMP 4", "b.bmp", "pnmquant 16 {src} 2>/dev/null | ppmtobmp -bpp 4 > {out} 2>/dev/null",
       "BMP-4"},
      {"BMP 8", "c.bmp", "pnmquant 200 {src} 2>/dev/null | ppmtobmp -bpp 8 > {out} 2>/dev/null",
       "BMP-8"},
      {"BMP 24", "d.bmp", "ppmtobmp -bpp 24 {src} > {out} 2>/dev/null", "BMP-24"},
      {"BMP 32 bit fields", "e.bmp", "{convert} {src} -alpha on BMP:{out}", "BMP-32v"},
      {"BMP RLE8", "f.bmp", "{convert} {src} -colors 200 -type palette -compress RLE BMP3:{out}",
       "BMP-8c"},
      {"BMP 565", "g.bmp", "{convert} {src} -define bmp:subtype=RGB565 {out}", "BMP-16v"},
      {"PNG RGB", "a.png", "pnmtopng {src} > {out} 2>/dev/null", "PNG-24"},
      {"PNG 16-bit", "b.png", "{convert} {src16} -depth 16 PNG48:{out}", "PNG-48"},
      {"PNG grey", "c.png", "ppmtopgm {src} | pnmtopng > {out} 2>/dev/null", "PNG-8"},
      {"PNG grey 2-bit", "d.png",
       "{convert} {src} -colorspace gray -depth 2 -define png:bit-depth=2 -define png:color-type=0 "
       "{out}",
       "PNG-2"},
      {"PNG palette", "e.png", "pnmquant 16 {src} 2>/dev/null | pnmtopng > {out} 2>/dev/null",
       "PNG-4"},
      {"PNG palette tRNS", "f.png", "{convert} {src} -colors 16 -transparent white PNG8:{out}",
       "PNG-8"},
      {"PNG alpha", "g.png",
       "{convert} {src} -alpha set -channel A -fx 'i/w' +channel -depth 8 PNG32:{out}", "PNG-32"},
      {"PNG grey alpha", "h.png", "{convert} {src} -colorspace gray -alpha on -depth 8 {out}",
       "PNG-8"},
      {"PNG Adam7", "i.png", "pnmtopng -interlace {src} > {out} 2>/dev/null", "PNG-24"},
      {"PNG Adam7 16-bit", "j.png", "{convert} {src16} -interlace PNG PNG48:{out}", "PNG-48"},
      {"TIFF strips", "a.tif", "{convert} {src} -compress none -define tiff:rows-per-strip=4 {out}",
       "TIFF-24"},
      {"TIFF tiles", "b.tif", "{convert} {src} -define tiff:tile-geometry=16x16 {out}", "TIFF-24"},
      {"TIFF 16-bit LZW", "c.tif", "{convert} {src16} -depth 16 -compress lzw {out}", "TIFF-48",
       0xFFFFFF, true},
      {"TIFF grey", "d.tif", "{convert} {src} -colorspace gray -type grayscale {out}", "TIFF-8"},
      {"TIFF unassociated alpha", "e.tif",
       "{convert} {src} -alpha set -channel A -fx 'i/w' +channel -define tiff:alpha=unassociated "
       "{out}",
       "TIFF-32"},
      // Samples of other maxvals are scaled to the full range.
      {"P5 maxval 100", "c.pgm", "ppmtopgm {src} | pamdepth 100 > {out}", "PGM-8r", 0xFFFFFF, true},
      {"P6 maxval 1000", "e.ppm", "pamdepth 1000 {src} > {out}", "PPM-48r", 0xFFFFFF, true},
      {"P3 maxval 31", "f.ppm", "pamdepth 31 {src} | pnmtoplainpnm > {out}", "PPM-24a", 0xFFFFFF,
       true},
  };
  for (const ToolCase& tc : cases) {
    SCOPED_TRACE(tc.name);
    const std::string out = dir.File(tc.file);
    ASSERT_TRUE(RunShell(Expand(tc.command, dir, out))) << Expand(tc.command, dir, out);
    Reference ref = ToolDecode(dir, out);
    ASSERT_TRUE(ref.ok);
    Decoded d = Decode(out);
    ASSERT_EQ(d.open_result, 0);
    EXPECT_EQ(d.description, tc.description);
    ASSERT_EQ(d.width, 37);
    ASSERT_EQ(d.height, 23);
    ASSERT_EQ(d.row_result, 0);
    std::vector<uint32_t> expected = tc.rounded ? ref.rgb_rounded : ref.rgb;
    for (uint32_t& p : expected) p &= tc.mask;
    EXPECT_EQ(TopLeft(d), expected);
    if (d.channels == 4 && (d.description.rfind("PNG", 0) == 0 || d.description == "TIFF-32")) {
      for (size_t i = 0; i < d.pixels.size(); ++i) {
        ASSERT_EQ(d.pixels[i] >> 24, ref.alpha[i]) << i;
      }
    }
  }
}

TEST(ImageToolCheck, ToolsReadWhatWeWrite) {
  if (!HaveTools()) GTEST_SKIP() << "ImageMagick or netpbm not installed";
  const int32_t w = 41, h = 19;
  std::vector<uint32_t> picture;
  for (int32_t i = 0; i < w * h; ++i) {
    picture.push_back((i / 5) % 4 == 0 ? 0x00204080u : uint32_t(i * 2654435761u) & 0xFFFFFF);
  }
  auto grey = [](uint32_t p) {
    const uint32_t g =
        (9 * (p & 0xFF) + 36 * ((p >> 8) & 0xFF) + 19 * ((p >> 16) & 0xFF) + 32) >> 6;
    return g * 0x010101u;
  };
  auto grey16 = [](uint32_t p) {
    const uint32_t g = (76 * ((p >> 16) & 0xFF) + 144 * ((p >> 8) & 0xFF) + 36 * (p & 0xFF)) >> 8;
    return g * 0x010101u;
  };
  const struct {
    const char* file;
    int32_t type, bits;
    bool grey8, grey16;
  } cases[] = {
      {"a.pgm", kWritePNM, 8, true, false},    {"b.pgm", kWritePNM, 16, false, true},
      {"c.ppm", kWritePNM, 24, false, false},  {"d.ppm", kWritePNM, 48, false, false},
      {"e.tga", kWriteTGA, 8, true, false},    {"f.tga", kWriteTGA, 24, false, false},
      {"g.tga", kWriteTGARLE, 8, true, false}, {"h.tga", kWriteTGARLE, 24, false, false},
      {"i.png", kWritePNG, 24, false, false},  {"j.png", kWritePNG, 48, false, false},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string path = dir.File(c.file);
    auto ctx = std::make_unique<ImageFileContext>();
    ASSERT_EQ(OpenWrite(ctx.get(), path.c_str(), c.type, w, h, c.bits), 0);
    for (int32_t y = 0; y < h; ++y) ASSERT_EQ(WriteRow(picture.data() + y * w, ctx.get()), 0);
    ASSERT_EQ(Close(ctx.get()), 0);
    Reference ref = ToolDecode(dir, path);
    ASSERT_TRUE(ref.ok);
    ASSERT_EQ(ref.rgb.size(), picture.size());
    for (size_t i = 0; i < picture.size(); ++i) {
      const uint32_t p = picture[i];
      const uint32_t expected = c.grey8 ? grey(p) : c.grey16 ? grey16(p) : p;
      ASSERT_EQ(ref.rgb[i], expected) << i;
    }
  }
}

}  // namespace
}  // namespace ImageFileIO
