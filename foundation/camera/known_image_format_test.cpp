#include "foundation/camera/known_image_format.h"

#include <string>

#include <gtest/gtest.h>

namespace {

TEST(KnownImageFormat, LookupBySize) {
  struct Case {
    uint32_t w, h;
    const char* name;  // null: not found
    double pixel_aspect, frame_aspect, fps;
  };
  const Case cases[] = {
      {720, 576, "PAL 4:3 (DV)", 576.0 * (4.0 / 3.0) / 720.0, 4.0 / 3.0, 25},
      {720, 486, "NTSC 4:3 (DV)", 0.9, 4.0 / 3.0, 30},
      {4096, 3072, "35mm 1.33:1 Full Aperture (cine)", 0.9975, 1.33, 24},
      {1280, 720, "HDTV 720  16:9", 1.0, 16.0 / 9.0, 25},
      {4096, 4096, "6cm X 6cm(2 1/4\" X 2 1/4\")(slide)", 1.0, 1.0, 24},
      {1440, 960, "Wide-aspect computer display (3:2)", 1.0, 1.5, 24},
      {640, 480, nullptr, 1.0, 4.0 / 3.0, 25},
      {576, 720, nullptr, 1.0, 0.8, 25},
      {0, 480, nullptr, 1.0, 1.0, 25},
      {640, 0, nullptr, 1.0, 1.0, 25},
  };
  for (const Case& c : cases) {
    double pa = -1, fa = -1, fps = -1;
    const char* name = FindKnownImageFormat(c.w, c.h, pa, fa, fps);
    const char* name_only = FindKnownImageFormatName(c.w, c.h);
    if (c.name == nullptr) {
      EXPECT_EQ(name, nullptr) << c.w << "x" << c.h;
      EXPECT_EQ(name_only, nullptr) << c.w << "x" << c.h;
    } else {
      ASSERT_NE(name, nullptr) << c.w << "x" << c.h;
      EXPECT_EQ(std::string(name), c.name);
      EXPECT_EQ(name_only, name);
    }
    EXPECT_DOUBLE_EQ(pa, c.pixel_aspect) << c.w << "x" << c.h;
    EXPECT_DOUBLE_EQ(fa, c.frame_aspect) << c.w << "x" << c.h;
    EXPECT_EQ(fps, c.fps) << c.w << "x" << c.h;
  }
}

TEST(KnownImageFormat, ShadowedRowsStayInTheTable) {
  EXPECT_EQ(std::string(kKnownImageFormats[1].name), "PAL 16:9 anamorphic (DV)");
  EXPECT_EQ(std::string(kKnownImageFormats[3].name), "NTSC 4:3 anamorphic (DV)");
  EXPECT_EQ(std::string(kKnownImageFormats[20].name), "4\" X 5\" or 8\" X 10\"");
  // Same size as an earlier row: never the lookup's answer.
  for (int i : {1, 3, 20}) {
    const KnownImageFormat& row = kKnownImageFormats[i];
    EXPECT_NE(FindKnownImageFormatName(row.width, row.height), row.name) << i;
  }
}

}  // namespace
