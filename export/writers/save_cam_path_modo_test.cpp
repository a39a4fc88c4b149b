#include "export/writers/save_cam_path_modo.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "export/writers/writer_fixture_for_test.h"
#include "foundation/runtime/product_info.h"
#include "image/image_cache.h"
#include "image/packed_string_list.h"
#include "testing/log_capture.h"
#include "testing/temp_dir.h"

namespace {

// Every occurrence of from replaced by to.
std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// The sequence lies in a folder whose name holds both quotes, a '$' and an '@', and its
// file name holds a double quote, a '$' and an '@' too.
class SaveCamPathModoTest : public testing::Test {
 protected:
  SaveCamPathModoTest() {
    const std::string folder = dir_.File("it's \"q\" $HOME @x");
    std::filesystem::create_directory(folder);
    const std::string frame = folder + "/sh\"o$t@_0001.pgm";
    std::ofstream(frame, std::ios::binary) << "P5\n8 8\n255\n" << std::string(64, 'a');
    PackedStringListPtr list;
    list.Allocate();
    list->Append(frame.c_str(), 1);
    EXPECT_EQ(cache_.SetImageList(list, -1, -1), 0);
    ProductInfo::SetVersion(1, 6, 0);
    ProductInfo::SetReleaseKind(ProductInfo::kFinal);
  }
  ~SaveCamPathModoTest() override {
    ProductInfo::SetVersion(1, 0, 0);
    ProductInfo::SetReleaseKind(ProductInfo::kAlpha);
  }
  // The script, its folder shown as <dir> and its date masked.
  std::string Write(const SaveCamPath::PointList& points, ImageCache* cache, double fps = 25.0) {
    SaveCamPathModo writer(dir_.path().c_str(), "scene.pl");
    writer.SetImageCache(cache);
    writer.SetFramesPerSecond(fps);
    EXPECT_TRUE(writer.Export(kxtest::PathCameras(), points));
    return kxtest::MaskDate(Replace(kxtest::ReadText(dir_.File("scene.pl")), dir_.path(), "<dir>"));
  }
  static std::string Golden(const char* name) {
    return kxtest::ReadText(std::string(KALVEX_SOURCE_DIR) + "/testdata/export/" + name);
  }

  kxtest::TempDir dir_;
  ImageCache cache_;
};

TEST_F(SaveCamPathModoTest, GoldenFile) {
  const std::string golden = Golden("modo_script.pl");
  ASSERT_FALSE(golden.empty());
  EXPECT_EQ(Write(kxtest::PathPoints(), &cache_), golden);
}

// Perl compiles the script, and run with lx and lxq that record what they are given it
// hands Modo exactly the expected commands: the paths and names with their quotes, '$'
// and '@' as they are on disk.
TEST_F(SaveCamPathModoTest, PerlHandsModoTheExpectedCommands) {
  Write(kxtest::PathPoints(), &cache_);
  const std::string script = dir_.File("scene.pl");
  const std::string harness = dir_.File("harness.pl");
  const std::string commands = dir_.File("commands.txt");
  std::ofstream(harness) << "sub lx { push @stream, \"lx: $_[0]\"; }\n"
                            "sub lxq {\n"
                            "  my ($q) = @_;\n"
                            // the name the script's own lookup is after
                            "  push @stream, $q =~ /item\\.N \\?/ ? \"find: $item_name\" : "
                            "\"lxq: $q\";\n"
                            "  return 0;\n"
                            "}\n"
                            "do $ARGV[0]; die $@ if $@;\n"
                            "open(my $out, '>', $ARGV[1]) or die;\n"
                            "print $out \"$_\\n\" for @stream;\n";
  const std::string log = dir_.File("perl.log");
  ASSERT_EQ(std::system(("perl -c '" + script + "' >'" + log + "' 2>&1").c_str()), 0)
      << kxtest::ReadText(log);
  ASSERT_EQ(
      std::system(("perl '" + harness + "' '" + script + "' '" + commands + "' >'" + log + "' 2>&1")
                      .c_str()),
      0)
      << kxtest::ReadText(log);
  EXPECT_EQ(Replace(kxtest::ReadText(commands), dir_.path(), "<dir>"), Golden("modo_commands.txt"));
}

TEST_F(SaveCamPathModoTest, FrameRateIsRoundedToAWholeNumber) {
  const struct {
    double fps;
    const char* line;
  } cases[] = {{29.97, "[30]"}, {25.0, "[25]"}, {23.5, "[24]"}};
  for (const auto& c : cases) {
    EXPECT_NE(Write({}, &cache_, c.fps).find(std::string("lx('time.fpsCustom ") + c.line + "');\n"),
              std::string::npos)
        << c.fps;
  }
}

TEST_F(SaveCamPathModoTest, WithoutSequenceOrPointsTheSceneIsStillComplete) {
  kxtest::LogCapture log(5);
  const std::string with = Write(kxtest::PathPoints(), &cache_);
  const std::string text = Write({}, nullptr);
  EXPECT_TRUE(log.Has("SaveCamPathModo::Export: no image sequence; \"" + dir_.File("scene.pl") +
                      "\" has no image map"))
      << log.text;
  // The clip and image-map lines are left out, the camera and the features' parent stay.
  const size_t clip = with.find("lx('clip.addSequence");
  const size_t camera = with.find("lx('select.item {Kalvex_Camera}');");
  ASSERT_NE(clip, std::string::npos);
  ASSERT_NE(camera, std::string::npos);
  const size_t points = with.find("lx(\"item.create locator FeaturePoint0\");");
  const std::string subs = with.substr(with.find("sub getItemIdByName {\n") - 3);
  EXPECT_EQ(text, with.substr(0, clip) + with.substr(camera, points - camera) + subs);
}

TEST(SaveCamPathModoNames, MapNamesAndScriptPaths) {
  const struct {
    const char* file;
    const char* map;
  } maps[] = {
      {"/shots/a1/shot_0001.png", "shot_[####]"},
      {"shot.png", "shot[]"},
      {"0001.png", "[####]"},
      {"C:\\take.2\\plate.v3_012.exr", "plate.v3_[###]"},
  };
  for (const auto& m : maps) EXPECT_EQ(SaveCamPathModo::MapName(m.file), m.map) << m.file;

  const struct {
    const char* file;
    const char* path;
  } paths[] = {
      {"/shots/a1/shot_0001.png", "/shots/a1/shot_0001.png"},
      {"C:/shots/a.png", "C:\\shots\\a.png"},
      {"\\\\server/share/a.png", "\\\\server\\share\\a.png"},
  };
  for (const auto& p : paths) EXPECT_EQ(SaveCamPathModo::ScriptPath(p.file), p.path) << p.file;
}

}  // namespace
