#include "image/image_list.h"

#include <gtest/gtest.h>

#include <string>

#include "image/image_for_test.h"

using ImageFileIO::testing_util::TempDir;
using ImageFileIO::testing_util::WriteFile;

TEST(ImageList, HasExtension) {
  const char* stills = "pbm/pgm/ppm/pnm/tga/bmp/jpg/jpeg/png/gif/tif/tiff";
  struct Case {
    const char* path;
    const char* list;
    bool expected;
  };
  const Case cases[] = {
      {"shot.tga:000003", stills, true},  // the frame selector is ignored
      {"shot.tga:@1024", stills, true},  {"IMG.JPG", stills, true},  // ASCII case ignored
      {"dummy", "dummy", false},                                     // a bare name has no extension
      {"x.dummy", "dummy", true},        {"a.txt", stills, false},
      {"atga", stills, false},  // no dot before the extension
      {"a.png.txt", "txt", true},        {"", stills, false},
  };
  for (const Case& c : cases) EXPECT_EQ(HasExtension(c.path, c.list), c.expected) << c.path;
}

TEST(ImageList, HasFrameSuffix) {
  EXPECT_TRUE(HasFrameSuffix("a.tga:@1024"));
  EXPECT_TRUE(HasFrameSuffix("clip.dv:12"));
  EXPECT_FALSE(HasFrameSuffix(":12"));  // selector at position 0
  EXPECT_FALSE(HasFrameSuffix(":@12"));
  EXPECT_FALSE(HasFrameSuffix("a.tga"));
  EXPECT_FALSE(HasFrameSuffix("a.tga:"));
}

TEST(ImageList, MakeFrameList) {
  PackedStringListPtr list = MakeFrameList("clip.dv", 3, -1, -1);
  ASSERT_TRUE(list);
  ASSERT_EQ(list->Count(), 3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(std::string(list->GetEntryName(i)), "clip.dv:00000" + std::to_string(i));
    EXPECT_EQ(list->GetEntryNumber(i), i);
  }
  PackedStringListPtr part = MakeFrameList("clip.dv", 10, 4, 5);
  ASSERT_EQ(part->Count(), 2);
  EXPECT_STREQ(part->GetEntryName(1), "clip.dv:000005");
  EXPECT_FALSE(MakeFrameList("clip.dv", 3, 2, 1));
  EXPECT_FALSE(MakeFrameList("clip.dv", 0, -1, -1));
}

TEST(ImageList, ReadImageListFile) {
  TempDir dir;
  const std::string list_path = dir.File("list.txt");
  WriteFile(list_path, std::string("# comment\r\n\r\n  \na.png\r\n b.png #x\n/abs/c.png\n"));
  PackedStringListPtr list = ReadImageListFile(list_path.c_str(), -1, -1);
  ASSERT_TRUE(list);
  ASSERT_EQ(list->Count(), 3);
  EXPECT_EQ(std::string(list->GetEntryName(0)), dir.path() + "/a.png");
  EXPECT_EQ(list->GetEntryNumber(0), 0);
  EXPECT_EQ(std::string(list->GetEntryName(1)), dir.path() + "/ b.png #x");  // blanks kept
  EXPECT_STREQ(list->GetEntryName(2), "/abs/c.png");  // absolute names as they stand

  PackedStringListPtr second = ReadImageListFile(list_path.c_str(), 1, 1);
  ASSERT_EQ(second->Count(), 1);
  EXPECT_EQ(second->GetEntryNumber(0), 1);

  WriteFile(dir.File("empty.txt"), std::string("# only a comment\n\n"));
  EXPECT_FALSE(ReadImageListFile(dir.File("empty.txt").c_str(), -1, -1));
  EXPECT_FALSE(ReadImageListFile(dir.File("missing.txt").c_str(), -1, -1));
}

TEST(ImageList, MatchSequenceName) {
  EXPECT_EQ(MatchSequenceName("img07.png", "img10.png"), 10);
  EXPECT_EQ(MatchSequenceName("img07.png", "img9.png"), 9);  // runs may differ in length
  EXPECT_EQ(MatchSequenceName("img07.png", "img10.jpg"), -5);
  EXPECT_EQ(MatchSequenceName("img.png", "img1.png"), -2);
  EXPECT_EQ(MatchSequenceName("img07.png", "im07.png"), -3);
  EXPECT_EQ(MatchSequenceName("img07.png", "abc07.png"), -4);
  EXPECT_EQ(MatchSequenceName("img.png", "img.png"), 0);
  EXPECT_EQ(MatchSequenceName("img.png", "imx.png"), -4);
  EXPECT_EQ(MatchSequenceName("img.png", "imgx.png"), -3);
  EXPECT_LT(MatchSequenceName("img07.png", "img99999999999.png"), 0);  // no overflow
}

TEST(ImageList, FindSequenceFiles) {
  TempDir dir;
  for (int i = 10; i >= 1; --i) {
    char name[32];
    std::snprintf(name, sizeof(name), "shot_%04d.png", i);
    WriteFile(dir.File(name), std::string("x"));
  }
  WriteFile(dir.File("other_0005.png"), std::string("x"));
  const std::string path = dir.File("shot_0007.png");
  PackedStringListPtr list = FindSequenceFiles(path.c_str(), -1, -1);
  ASSERT_TRUE(list);
  ASSERT_EQ(list->Count(), 10);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(list->GetEntryNumber(i), i + 1);
  EXPECT_EQ(list->CurrentIndex(), 6);
  EXPECT_EQ(std::string(list->GetEntryName(6)), path);

  PackedStringListPtr bounded = FindSequenceFiles(path.c_str(), 3, 5);
  ASSERT_EQ(bounded->Count(), 3);
  EXPECT_EQ(bounded->GetEntryNumber(0), 3);

  const std::string missing_dir = dir.File("nowhere/shot_0001.png");
  EXPECT_FALSE(FindSequenceFiles(missing_dir.c_str(), -1, -1));
}
