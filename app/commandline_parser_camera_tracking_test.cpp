#include "app/commandline_parser_camera_tracking.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/runtime/notify.h"
#include "image/packed_string_list.h"
#include "testing/log_capture.h"
#include "testing/temp_dir.h"

namespace {

using Parser = CommandlineParserCameraTracking;

int ParseArgs(Parser& parser, std::vector<const char*> args) {
  args.insert(args.begin(), "kalvex");
  return parser.Parse(int(args.size()), args.data());
}

// ---- option values

struct OptionCase {
  const char* arg;
  bool rejected;
  double (*field)(const CameraTrackingOptions&);
  double expected;  // the field after the parse (its default when rejected)
};

double First(const CameraTrackingOptions& o) {
  return o.first_frame;
}
double Last(const CameraTrackingOptions& o) {
  return o.last_frame;
}
double Deint(const CameraTrackingOptions& o) {
  return o.deinterlacing;
}
double Aspect(const CameraTrackingOptions& o) {
  return o.pixel_aspect;
}
double Method(const CameraTrackingOptions& o) {
  return o.estimation_method;
}
double Corners(const CameraTrackingOptions& o) {
  return o.optical_flow.m_corner_count;
}
double MinDist(const CameraTrackingOptions& o) {
  return o.optical_flow.m_min_dist;
}
double Eigen(const CameraTrackingOptions& o) {
  return o.optical_flow.m_min_eigenvalue;
}
double Check(const CameraTrackingOptions& o) {
  return o.optical_flow.m_consistency_check;
}
double Limit(const CameraTrackingOptions& o) {
  return o.export_point_limit;
}
double Batch(const CameraTrackingOptions& o) {
  return o.batch_mode;
}
double Exports(const CameraTrackingOptions& o) {
  return double(o.export_list.size());
}

const OptionCase kOptionCases[] = {
    {"--first-frame=10", false, First, 10},
    {"--first=12", false, First, 12},  // a prefix of the long name
    {"-F10", false, First, 10},
    {"-F=10", true, First, -1},  // the short form's value starts right after the letter
    {"--first-frame=-3", false, First, -3},
    {"--first-frame=10x", true, First, -1},
    {"--first-frame=99999999999", true, First, -1},
    {"--last-frame=250", false, Last, 250},
    {"-L+7", false, Last, 7},
    {"--first-frame=+-5", true, First, -1},  // one sign only
    {"--first-frame=++5", true, First, -1},
    {"--deinterlacing=4", false, Deint, 4},
    {"--deinterlacing=5", true, Deint, 0},
    {"-d-1", true, Deint, 0},
    {"--pixel-aspect=1.0926", false, Aspect, 1.0926},
    {"--pixel-aspect=0", true, Aspect, -1},
    {"--pixel-aspect=-1", true, Aspect, -1},
    {"--pixel-aspect=inf", true, Aspect, -1},
    {"--pixel-aspect=nan", true, Aspect, -1},
    {"--pixel-aspect=1,5", true, Aspect, -1},
    {"--pixel-aspect=1e300", true, Aspect, -1},  // finite, but no pixel is that shape
    {"--pixel-aspect=+-2", true, Aspect, -1},
    {"--est-method=PAN", false, Method, 7},
    {"--est-method=rk", false, Method, 7},
    {"-mpan", false, Method, 7},
    {"--est-method=Free", true, Method, 8},
    {"--est-method=RTK", false, Method, 8},
    {"--est-method=xyz", true, Method, 8},
    {"--ft-corner-count=2000", false, Corners, 2000},
    {"--ft-corner-count=-5", true, Corners, 1000},
    {"--ft-corner-count=4294967296", true, Corners, 1000},
    {"--ft-min-dist=-5", true, MinDist, 21},
    {"--ft-min-dist=15", false, MinDist, 15},
    {"--ft-min-eigenvalue=150.5", false, Eigen, 150.5},
    {"--ft-min-eigenvalue=1e99", true, Eigen, 100},
    {"--ft-min-eigenvalue=1e30", true, Eigen, 100},
    {"--ft-min-eigenvalue=-3.5", true, Eigen, 100},
    {"--ft-min-eigenvalue=0.5", true, Eigen, 100},  // the correlator would drop its block
    {"--ft-feature-consistency-check=AFFINE", false, Check, 3},
    {"--ft-feature-consistency-check=similarity", false, Check, 2},
    {"--ft-feature-consistency-check=no", false, Check, 0},
    {"--ft-feature-consistency-check=xyz", true, Check, 0},
    {"--ft-feature-consistency-check=afine", true, Check, 0},
    {"--limit-exported-3d-points=100", false, Limit, 100},
    {"-l-5", true, Limit, -1},
    {"--verbose=loud", true, Batch, 0},
    {"--batch-mode", false, Batch, 1},
    {"--batch-mode=no", true, Batch, 0},
    {"--batch-mode=whatever", true, Batch, 0},
    {"--export-text", true, Exports, 0},
    {"--export-text=", true, Exports, 0},
    {"--export-nothing=a", true, Exports, 0},
};

TEST(CommandlineParserCameraTrackingTest, OptionValuesAreCheckedAndStored) {
  kxtest::LogCapture log(2);
  for (const OptionCase& c : kOptionCases) {
    SCOPED_TRACE(c.arg);
    Parser parser;
    ParseArgs(parser, {c.arg});
    EXPECT_EQ(parser.HasError(), c.rejected);
    EXPECT_EQ(parser.HelpRequested(), c.rejected);
    EXPECT_DOUBLE_EQ(c.field(parser.Options()), c.expected);
    EXPECT_EQ(parser.ErrorReasons().size(), c.rejected ? 1u : 0u);
  }
}

TEST(CommandlineParserCameraTrackingTest, ReasonsNameTheOptionAndTheValue) {
  kxtest::LogCapture log(2);
  Parser parser;
  ParseArgs(parser, {"--deinterlacing=5", "--bogus", "-h"});
  const std::vector<std::string> reasons = parser.ErrorReasons();
  ASSERT_EQ(reasons.size(), 2u);
  EXPECT_EQ(reasons[0], "unknown option \"bogus\"");
  EXPECT_EQ(reasons[1], "option --deinterlacing: not one of 0 to 4 \"5\"");
  EXPECT_TRUE(log.Has("--deinterlacing"));
}

TEST(CommandlineParserCameraTrackingTest, ExportsAppendInArgumentOrder) {
  Parser parser;
  ParseArgs(parser, {"--export-maya=a.ma", "--export-text=b.txt", "--export-max=c",
                     "--export-xsi=d", "--export-blender=e", "--export-lightwave=f",
                     "--export-cahv-text=g", "--export-text=b.txt"});
  EXPECT_FALSE(parser.HasError());
  const std::vector<ExportRequest>& list = parser.Options().export_list;
  std::vector<int> types;
  for (const ExportRequest& r : list) types.push_back(r.type);
  EXPECT_EQ(types, (std::vector<int>{4, 1, 2, 3, 5, 8, 11, 1}));
  EXPECT_EQ(list[0].file_name, "a.ma");
  EXPECT_EQ(list[1].file_name, "b.txt");
}

TEST(CommandlineParserCameraTrackingTest, VerboseIsKeptForTheConfiguration) {
  const int saved = NotifyContext::GetNotifyLevel();
  Parser parser;
  ParseArgs(parser, {"--verbose=DEBUG"});
  EXPECT_FALSE(parser.HasError());
  EXPECT_EQ(parser.Options().verbose_level, 5);
  ParseArgs(parser, {"-vwarn"});
  EXPECT_EQ(parser.Options().verbose_level, 2);
  EXPECT_EQ(NotifyContext::GetNotifyLevel(), saved);
}

TEST(CommandlineParserCameraTrackingTest, OnlyASingleFileArgumentIsTheSequence) {
  Parser one;
  ParseArgs(one, {"shot/img####.png", "--first-frame=3"});
  EXPECT_EQ(one.ImageFileTemplate(), "shot/img####.png");
  EXPECT_TRUE(one.SequenceGiven());
  EXPECT_EQ(one.Options().first_frame, 3);

  Parser two;
  ParseArgs(two, {"a.png", "b.png"});
  EXPECT_EQ(two.ImageFileTemplate(), "");
  EXPECT_FALSE(two.SequenceGiven());
  EXPECT_FALSE(two.HasError());
  EXPECT_FALSE(two.HelpRequested());
}

TEST(CommandlineParserCameraTrackingTest, UsageListsTheTable) {
  Parser parser;
  ParseArgs(parser, {});
  const std::string usage = parser.Usage();
  EXPECT_NE(usage.find("kalvex <options> <image file template>\n"), std::string::npos);
  EXPECT_NE(usage.find(" -F, --first-frame=UNSIGNED\tfirst frame of sequence (def. -1 for the "
                       "first existing image)\n"),
            std::string::npos);
  EXPECT_NE(usage.find("     --batch-mode\trun tracking in batchmode"), std::string::npos);
  EXPECT_NE(usage.find("\n-------------- general options -------------- \n"), std::string::npos);
  const std::string blender = "--export-blender=STRING";
  const size_t first = usage.find(blender);
  ASSERT_NE(first, std::string::npos);
  EXPECT_NE(usage.find(blender, first + 1), std::string::npos);
  EXPECT_EQ(parser.OptionCount(), 21u);
}

// ---- configuration files

class ConfigFileTest : public ::testing::Test {
 protected:
  // Expands {"kalvex", args...} with the key "config-file" and returns the entries after
  // the program name.
  std::vector<std::string> Expand(std::vector<const char*> args) {
    args.insert(args.begin(), "kalvex");
    parser_.ExpandArguments(list_, int(args.size()), args.data(), "config-file");
    std::vector<std::string> out;
    for (int i = 1; i < list_.Count(); ++i) out.emplace_back(list_.GetEntry(i));
    return out;
  }
  std::string Config(const std::string& name, const std::string& text) {
    const std::string path = dir_.File(name);
    kxtest::WriteFile(path, text);
    return "--config-file=" + path;
  }

  kxtest::TempDir dir_;
  Parser parser_;
  PackedStringList list_;
};

TEST_F(ConfigFileTest, LinesBecomeArguments) {
  const std::string ref = Config("a.cfg",
                                 "# only a comment\n"
                                 "\n"
                                 "first-frame 10\n"
                                 "last-frame=20   # trailing comment\n"
                                 "\t  export-text  out file.txt\r\n"
                                 "batch-mode\r"
                                 "limit-exported-3d-points\t7#no blank before the comment\n"
                                 "pixel-aspect 1.5");
  const std::vector<std::string> args = Expand({"-F1", ref.c_str(), "--last-frame=30"});
  EXPECT_EQ(args,
            (std::vector<std::string>{
                "-F1", "--first-frame=10", "--last-frame=20", "--export-text=out", "--batch-mode",
                "--limit-exported-3d-points=7", "--pixel-aspect=1.5", "--last-frame=30"}));
  parser_.ParseList(list_);
  EXPECT_FALSE(parser_.HasError());
  EXPECT_EQ(parser_.Options().first_frame, 10);  // the file's value overrides the earlier one
  EXPECT_EQ(parser_.Options().last_frame, 30);   // a later argument overrides the file
}

TEST_F(ConfigFileTest, CommentsAndBlankLinesAddNothing) {
  const std::string ref = Config("c.cfg", "# first-frame 10\n\n   \n#\n\t# x\n");
  EXPECT_TRUE(Expand({ref.c_str()}).empty());
}

TEST_F(ConfigFileTest, SelfReferenceStopsAfterTenLevels) {
  const std::string path = dir_.File("self.cfg");
  kxtest::WriteFile(path, "export-text x\nconfig-file " + path + "\n");
  const std::vector<std::string> args = Expand({("--config-file=" + path).c_str()});
  EXPECT_EQ(args.size(), 10u);
  for (const std::string& a : args) EXPECT_EQ(a, "--export-text=x");
  EXPECT_FALSE(parser_.HasError());
}

TEST_F(ConfigFileTest, FanOutIsBoundedAndFailsTheParse) {
  // Three references per level would read the file 3^10 times.
  kxtest::LogCapture log(2);
  const std::string path = dir_.File("fan.cfg");
  const std::string line = "config-file " + path + "\n";
  kxtest::WriteFile(path, "first-frame 1\n" + line + line + line);
  const std::vector<std::string> args = Expand({("--config-file=" + path).c_str(), "-L4"});
  EXPECT_LE(args.size(), size_t(Parser::kMaxConfigFiles) + 1);
  EXPECT_EQ(args.back(), "-L4");  // the arguments after the reference are kept
  EXPECT_TRUE(parser_.HasError());
  ASSERT_EQ(parser_.ErrorReasons().size(), 1u);
  EXPECT_NE(parser_.ErrorReasons()[0].find("expand too far"), std::string::npos);
}

TEST_F(ConfigFileTest, OverLongLineStopsTheFileAndIsReported) {
  kxtest::LogCapture log(2);
  std::string text = "first-frame 5\nexport-text ";
  text += std::string(4095 - 2 - 12, 'x');  // with "--" and "export-text=": 4095 characters
  text += "\nlast-frame 9\n";
  const std::string ref = Config("long.cfg", text);
  EXPECT_EQ(Expand({ref.c_str()}), (std::vector<std::string>{"--first-frame=5"}));
  EXPECT_TRUE(parser_.HasError());
  EXPECT_TRUE(log.Has("long.cfg"));
  ASSERT_EQ(parser_.ErrorReasons().size(), 1u);

  // One character less fits.
  Parser fits;
  PackedStringList list;
  const std::string path = dir_.File("fits.cfg");
  kxtest::WriteFile(path, "export-text " + std::string(4095 - 2 - 12 - 1, 'x') + "\n");
  const char* argv[] = {"kalvex", nullptr};
  const std::string arg = "--config-file=" + path;
  argv[1] = arg.c_str();
  fits.ExpandArguments(list, 2, argv, "config-file");
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(std::string(list.GetEntry(1)).size(), 4094u);
  EXPECT_FALSE(fits.HasError());
}

TEST_F(ConfigFileTest, MissingFileIsAnErrorNotAnAbort) {
  kxtest::LogCapture log(2);
  const std::string missing = "--config-file=" + dir_.File("missing.cfg");
  EXPECT_TRUE(Expand({missing.c_str(), "-F4"}) == std::vector<std::string>{"-F4"});
  parser_.ParseList(list_);
  EXPECT_TRUE(parser_.HasError());
  EXPECT_TRUE(parser_.HelpRequested());
  EXPECT_EQ(parser_.Options().first_frame, 4);
  EXPECT_TRUE(log.Has("couldn't open config file for reading"));
  ASSERT_EQ(parser_.ErrorReasons().size(), 1u);
  EXPECT_NE(parser_.ErrorReasons()[0].find("missing.cfg"), std::string::npos);
}

TEST_F(ConfigFileTest, EmptyReferenceStaysAnArgumentAndIsRejected) {
  EXPECT_EQ(Expand({"--config-file="}), (std::vector<std::string>{"--config-file="}));
  parser_.ParseList(list_);
  EXPECT_TRUE(parser_.HasError());
  EXPECT_TRUE(parser_.HelpRequested());
}

}  // namespace
