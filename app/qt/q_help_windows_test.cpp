#include "app/qt/q_help_windows.h"

#include <gtest/gtest.h>

#include <QDialogButtonBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTextBrowser>
#include <QTextEdit>
#include <string>
#include <vector>

#include "app/commandline_parser_camera_tracking.h"
#include "testing/temp_dir.h"

namespace {

// The text of `kalvex --help`, as start-up shows it.
std::string HelpUsage() {
  CommandlineParserCameraTracking parser;
  const char* argv[] = {"kalvex", "--help"};
  parser.Parse(2, argv);
  EXPECT_TRUE(parser.HelpRequested());
  return parser.Usage();
}

TEST(CommandLineWindowTest, ShowsTheUsageTextAsItIs) {
  const std::string usage = HelpUsage();
  ASSERT_NE(usage.find("kalvex <options> <image file template>\n"), std::string::npos);
  qCommandLineWindow window(nullptr);
  EXPECT_EQ(window.windowTitle(), QStringLiteral("Command line output"));
  window.SetText(usage);
  // Plain text: every line break and the "<...>" placeholders survive.
  EXPECT_EQ(window.m_command_line_te->toPlainText().toStdString(), usage);
  // A first line that looks like markup is still shown as written.
  window.SetText("<b>x</b>\nsecond line");
  EXPECT_EQ(window.m_command_line_te->toPlainText(), QStringLiteral("<b>x</b>\nsecond line"));
}

TEST(CommandLineWindowTest, OkAndCloseEndTheDialog) {
  {
    qCommandLineWindow window(nullptr);
    window.open();
    ASSERT_TRUE(window.isVisible());
    window.buttonBox->button(QDialogButtonBox::Ok)->click();
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.result(), QDialog::Accepted);
  }
  {
    qCommandLineWindow window(nullptr);
    window.open();
    window.close();
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.result(), QDialog::Rejected);
  }
}

// Records the viewer's load signals and what the bar showed at each.
struct LoadRecord {
  std::vector<std::string> events;
  void Watch(qHelpViewer& viewer) {
    QObject::connect(&viewer, &qHelpViewer::loadStarted,
                     [this, &viewer] { events.push_back("start " + State(viewer)); });
    QObject::connect(&viewer, &qHelpViewer::loadProgress,
                     [this, &viewer](int) { events.push_back("progress " + State(viewer)); });
    QObject::connect(&viewer, &qHelpViewer::loadFinished, [this, &viewer](bool ok) {
      events.push_back(std::string(ok ? "ok " : "failed ") + State(viewer));
    });
  }
  // Connected after the viewer's own slots, so this is the state they left.
  static std::string State(const qHelpViewer& viewer) {
    return std::to_string(viewer.m_progress->value()) +
           (viewer.m_progress->isHidden() ? " hidden" : " shown");
  }
};

TEST(HelpViewerTest, LoadsALocalPageAndHidesTheBarAfterwards) {
  kxtest::TempDir first, second;
  kxtest::WriteFile(second.File("index.html"),
                    "<html><body><h1>Tracking</h1><p>Load a sequence.</p></body></html>");
  qHelpViewer viewer(nullptr,
                     {QString::fromStdString(first.path()), QString::fromStdString(second.path())});
  EXPECT_EQ(viewer.windowTitle(), QStringLiteral("Kalvex Help"));
  EXPECT_EQ(viewer.m_progress->value(), 24);
  LoadRecord record;
  record.Watch(viewer);
  EXPECT_TRUE(viewer.showPage());
  EXPECT_EQ(record.events,
            (std::vector<std::string>{"start 0 shown", "progress 50 shown", "ok 100 hidden"}));
  EXPECT_TRUE(viewer.m_helpview->toPlainText().contains(QStringLiteral("Load a sequence.")));
}

// No page: a message saying what is missing and where it was looked for; the bar still
// ends hidden.
TEST(HelpViewerTest, MissingPagesGiveAMessageNotABlankWindow) {
  kxtest::TempDir empty;
  const QString folder = QString::fromStdString(empty.path());
  qHelpViewer viewer(nullptr, {folder});
  LoadRecord record;
  record.Watch(viewer);
  EXPECT_FALSE(viewer.showPage(QStringLiteral("tracking.html")));
  EXPECT_EQ(record.events,
            (std::vector<std::string>{"start 0 shown", "progress 50 shown", "failed 100 hidden"}));
  const QString shown = viewer.m_helpview->toPlainText();
  EXPECT_TRUE(shown.contains(QStringLiteral("No help pages found"))) << shown.toStdString();
  EXPECT_TRUE(shown.contains(QStringLiteral("tracking.html")));
  EXPECT_TRUE(shown.contains(folder));
  EXPECT_FALSE(viewer.m_info_l->text().isEmpty());
}

TEST(HelpViewerTest, LooksBesideTheProgramAndInTheSharedFolder) {
  const QStringList folders = qHelpViewer::helpDirectories();
  ASSERT_EQ(folders.size(), 2);
  EXPECT_TRUE(folders[0].endsWith(QStringLiteral("/help")));
  EXPECT_TRUE(folders[1].endsWith(QStringLiteral("/share/kalvex/help")));
}

TEST(InteractiveHelpDialogTest, FixedPanelWithReadOnlyText) {
  qInteractivHelpDialog dialog(nullptr);
  EXPECT_EQ(dialog.size(), QSize(510, 300));
  EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
  EXPECT_TRUE(dialog.m_help_text_te->isReadOnly());
  EXPECT_FALSE(dialog.m_help_text_te->toPlainText().isEmpty());
  EXPECT_TRUE(dialog.windowFlags().testFlag(Qt::CustomizeWindowHint));
}

}  // namespace
