#include "app/commandline_parser.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace ogem {
namespace {

using Option = CommandlineParser::Option;

const Option kTable[] = {
    {"first-frame", 70, "UNSIGNED", 0, "first frame of the sequence"},
    {"batch-mode", 359, nullptr, 0, "run without user interaction"},
    {nullptr, 0, nullptr, 0, "export options:"},
    {"export-text", 363, "STRING", 0, "export the camera as text"},
    {"export-maya", 364, "STRING", 0, "export the camera for Maya"},
    {"verbose", 368, "STRING", 0, "log level"},
    {"deinterlace", 'd', "UNSIGNED", 0, nullptr},
    {nullptr, 0, nullptr, 0, nullptr},
};

// Records every hook call in order; rejects unknown names and values that start with '='.
class RecordingParser : public CommandlineParser {
 public:
  explicit RecordingParser(const Option* table = kTable) {
    SetOptionTable(table);
    m_synopsis = "<sequence>";
    m_description = "Tracks a camera.";
  }

  int OnOption(int code, const char* value) override {
    calls.push_back(std::to_string(code) + ":" + (value != nullptr ? value : "<null>"));
    if (code == 0 || (value != nullptr && value[0] == '=')) return kRejected;
    return 0;
  }

  int OnFiles(const std::vector<std::string>& files) override {
    std::string call = "files:";
    for (const std::string& file : files) call += file + ",";
    calls.push_back(call);
    return 0;
  }

  int ParseArgs(std::vector<const char*> args) {
    args.insert(args.begin(), "kalvex");
    return Parse(static_cast<int>(args.size()), args.data());
  }

  std::vector<std::string> calls;
};

struct SplitCase {
  const char* label;
  const char* arg;
  const char* name;
  const char* value;
};

void PrintTo(const SplitCase& c, std::ostream* os) {
  *os << c.label;
}

class TokenSplitTest : public testing::TestWithParam<SplitCase> {};

TEST_P(TokenSplitTest, GivesNameAndValue) {
  const CommandlineParser::Token token = CommandlineParser::Token::Split(GetParam().arg);
  EXPECT_EQ(token.name, GetParam().name);
  EXPECT_EQ(token.value, GetParam().value);
  EXPECT_EQ(token.code, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, TokenSplitTest,
    testing::Values(SplitCase{"LongWithValue", "--first-frame=10", "first-frame", "10"},
                    SplitCase{"LongWithoutValue", "--batch-mode", "batch-mode", ""},
                    SplitCase{"LongEmptyValue", "--verbose=", "verbose", ""},
                    SplitCase{"SecondEqualsStaysInValue", "--a=b=c", "a", "b=c"},
                    SplitCase{"ShortWithValue", "-F10", "F", "10"},
                    SplitCase{"ShortAlone", "-F", "F", ""},
                    SplitCase{"ShortKeepsEquals", "-F=10", "F", "=10"},
                    SplitCase{"ShortHelpSpelling", "-help", "h", "elp"},
                    SplitCase{"DashesInsideGoLong", "-x--y=1", "y", "1"},
                    SplitCase{"SingleDash", "-", "", ""}, SplitCase{"DoubleDash", "--", "", ""},
                    SplitCase{"DoubleDashEquals", "--=x", "", "x"}, SplitCase{"Empty", "", "", ""},
                    SplitCase{"Null", nullptr, "", ""}),
    [](const testing::TestParamInfo<SplitCase>& info) { return info.param.label; });

TEST(CommandlineParserTest, FindOptionMatchesPrefixesAndShortForms) {
  RecordingParser parser;
  struct Case {
    const char* name;
    int code;
  } cases[] = {
      {"first-frame", 70}, {"first", 70},     {"f", 0},  // short forms go by code only
      {"F", 70},           {"d", 'd'},        {"x", 0}, {"first-frame-x", 0},
      {"First", 0},                            // long names are case-sensitive
      {"export", 363},     {"export-m", 364},  // the first of several matches wins
      {"batch-mode", 359}, {"", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(parser.FindOption(c.name), c.code) << '"' << c.name << '"';
  }
  EXPECT_EQ(parser.OptionCount(), 7u);
}

TEST(CommandlineParserTest, CountsRowsBeforeTheEndRow) {
  const Option only_end[] = {{nullptr, 0, nullptr, 0, nullptr}};
  const Option reserved_row[] = {{nullptr, 0, nullptr, 1, nullptr},
                                 {nullptr, 0, nullptr, 0, nullptr}};
  CommandlineParser parser;
  parser.SetOptionTable(only_end);
  EXPECT_EQ(parser.OptionCount(), 0u);
  parser.SetOptionTable(reserved_row);
  EXPECT_EQ(parser.OptionCount(), 1u);
  parser.SetOptionTable(nullptr);
  EXPECT_EQ(parser.OptionCount(), 0u);
  EXPECT_EQ(parser.FindOption("F"), 0);
}

struct ParseCase {
  const char* label;
  std::vector<const char*> args;
  bool help;
  bool version;
  bool error;
  std::vector<std::string> calls;
};

void PrintTo(const ParseCase& c, std::ostream* os) {
  *os << c.label;
}

class CommandlineParseTest : public testing::TestWithParam<ParseCase> {};

TEST_P(CommandlineParseTest, SetsFlagsAndCallsHooks) {
  const ParseCase& c = GetParam();
  RecordingParser parser;
  EXPECT_EQ(parser.ParseArgs(c.args), 0);
  EXPECT_EQ(parser.HelpRequested(), c.help);
  EXPECT_EQ(parser.VersionRequested(), c.version);
  EXPECT_EQ(parser.HasError(), c.error);
  EXPECT_EQ(parser.calls, c.calls);
  EXPECT_STREQ(parser.ProgramName(), "kalvex");
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, CommandlineParseTest,
    testing::Values(
        ParseCase{"ShortH", {"-h"}, true, false, false, {"files:"}},
        ParseCase{"LongH", {"--h"}, true, false, false, {"files:"}},
        ParseCase{"ShortHelp", {"-help"}, true, false, false, {"files:"}},
        ParseCase{"LongHelp", {"--help"}, true, false, false, {"files:"}},
        ParseCase{"UpperHelp", {"--HELP"}, true, false, false, {"files:"}},
        ParseCase{"UpperShortHIsAnOption", {"-H"}, true, false, true, {"0:<null>", "files:"}},
        ParseCase{"Version", {"--version"}, false, true, false, {"files:"}},
        ParseCase{"UpperVersion", {"--VERSION"}, false, true, false, {"files:"}},
        ParseCase{"VersionPrefixIsLookedUp", {"--vers"}, true, false, true, {"0:<null>", "files:"}},
        ParseCase{"PrefixOfVerbose", {"--ver=info"}, false, false, false, {"368:info", "files:"}},
        ParseCase{"EmptyNamesSkipped", {"-", "--", "--=x"}, false, false, false, {"files:"}},
        ParseCase{"LongAndShortForms",
                  {"--first=5", "-F7", "--F=8", "--batch-mode"},
                  false,
                  false,
                  false,
                  {"70:5", "70:7", "70:8", "359:<null>", "files:"}},
        ParseCase{
            "EmptyValueIsNull", {"--verbose="}, false, false, false, {"368:<null>", "files:"}},
        ParseCase{"UnknownNameRejected",
                  {"--bogus=1", "-F3"},
                  true,
                  false,
                  true,
                  {"0:1", "70:3", "files:"}},
        ParseCase{"RejectedValueGoesOn",
                  {"-F=10", "--batch-mode"},
                  true,
                  false,
                  true,
                  {"70:=10", "359:<null>", "files:"}},
        ParseCase{"OptionsBeforeFiles",
                  {"shot/img####.png", "-F2", "other.png"},
                  false,
                  false,
                  false,
                  {"70:2", "files:shot/img####.png,other.png,"}}),
    [](const testing::TestParamInfo<ParseCase>& info) { return info.param.label; });

TEST(CommandlineParserTest, SecondParseKeepsFlagsAndReplacesLists) {
  RecordingParser parser;
  parser.ParseArgs({"--bogus", "--version", "a.png"});
  parser.ParseArgs({"-F1", "b.png"});
  EXPECT_TRUE(parser.HasError());
  EXPECT_TRUE(parser.HelpRequested());
  EXPECT_TRUE(parser.VersionRequested());
  ASSERT_EQ(parser.Tokens().size(), 1u);
  EXPECT_EQ(parser.Tokens()[0].code, 70);
  EXPECT_EQ(parser.Tokens()[0].value, "1");
  EXPECT_EQ(parser.Files(), std::vector<std::string>{"b.png"});
}

TEST(CommandlineParserTest, BaseRejectsEveryOption) {
  CommandlineParser parser;
  const char* args[] = {"kalvex", "--anything", "file.png"};
  EXPECT_EQ(parser.Parse(3, args), 0);
  EXPECT_TRUE(parser.HasError());
  EXPECT_TRUE(parser.HelpRequested());
  EXPECT_EQ(parser.Files(), std::vector<std::string>{"file.png"});
}

TEST(CommandlineParserTest, UsageListsTheTable) {
  const std::string options =
      "options: \n"
      " -F, --first-frame=UNSIGNED\tfirst frame of the sequence\n"
      "     --batch-mode\trun without user interaction\n"
      "     \nexport options:\n"
      "     --export-text=STRING\texport the camera as text\n"
      "     --export-maya=STRING\texport the camera for Maya\n"
      "     --verbose=STRING\tlog level\n"
      " -d, --deinterlace=UNSIGNED\n"
      "\n"
      " -h, --help\tdisplay this help and exit\n"
      "     --version\toutput of version information and exit\n";
  const std::string head =
      "usage:\n"
      "kalvex <options> <sequence>\n\n"
      "Tracks a camera.\n\n";

  RecordingParser parser;
  parser.ParseArgs({"-F1"});
  EXPECT_EQ(parser.Usage(), head + options);

  parser.ParseArgs({"--first-frame=x1", "--nonsense"});
  EXPECT_EQ(parser.Usage(),
            "An error occurred please check your command line options for errors! \n\n\n" + head +
                options);
}

TEST(CommandlineParserTest, UsageWithoutTableOrProgramName) {
  CommandlineParser parser;
  EXPECT_EQ(parser.Usage(), "usage:\nprogname\n\n");
}

}  // namespace
}  // namespace ogem
