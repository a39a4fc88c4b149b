#include "app/qt/q_kalvex_main_window_services.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QKeyEvent>
#include <QMessageBox>
#include <QTimer>
#include <QTranslator>
#include <QUrl>
#include <atomic>
#include <chrono>
#include <deque>
#include <thread>
#include <vector>

#include "app/qt/q_ctracker.h"
#include "app/qt/q_extras.h"
#include "app/qt/q_kalvex_main_window.h"
#include "app/qt/settings_location_for_test.h"
#include "foundation/runtime/product_info.h"
#include "interaction/controller.h"

namespace {

// Answers the message boxes from a script and counts them.
class ScriptedBoxes : public qDialogRunner {
 public:
  std::deque<int> answers;
  int asked = 0;
  int runMessageBox(QMessageBox& /*box*/) override {
    ++asked;
    EXPECT_FALSE(answers.empty()) << "unexpected message box";
    if (answers.empty()) return QMessageBox::Cancel;
    const int answer = answers.front();
    answers.pop_front();
    return answer;
  }
};

// The URLs QDesktopServices was asked to open.
class OpenedUrls : public QObject {
  Q_OBJECT

 public:
  std::vector<QUrl> urls;

 public Q_SLOTS:
  void open(const QUrl& url) { urls.push_back(url); }
};

// Visible as far as the window's logic can tell, but never painted: nothing here depends on
// pixels, and painting would only add Qt's own worker threads to the run.
void ShowWithoutPainting(QWidget& window) {
  window.setAttribute(Qt::WA_DontShowOnScreen);
  window.show();
}

class WindowServicesTest : public ::testing::Test {
 protected:
  WindowServicesTest() {
    // Before the window exists: no test asks the network.
    qExtras::writeAutoCheckForUpdates(false);
    ProductInfo::SetVersion(1, 6, 0);
    ProductInfo::SetReleaseKind(ProductInfo::kFinal);
    qExtras::setDialogRunner(&boxes);
  }
  ~WindowServicesTest() override {
    qExtras::setDialogRunner(nullptr);
    setTrayAvailableAnswer(nullptr);
    controller->SetModified(false);
    ProductInfo::SetVersion(major_, minor_, patch_);
    ProductInfo::SetReleaseKind(kind_);
  }

  const int major_ = ProductInfo::GetMajorVersion();
  const int minor_ = ProductInfo::GetMinorVersion();
  const int patch_ = ProductInfo::GetPatchVersion();
  const int kind_ = ProductInfo::GetReleaseKind();
  kxtest::TempSettingsLocation settings;
  ScriptedBoxes boxes;
  uic::Controller* controller = uic::Controller::Instance();
};

TEST_F(WindowServicesTest, TitleShowsTheVersionAndAnAnnouncedUpdate) {
  qKalvexMainWindow window;
  EXPECT_EQ(window.windowTitle(), QStringLiteral("Kalvex 1.6.0"));
  Q_EMIT qExtras::instance()->updateAvailable(QStringLiteral("1.7.0"));
  EXPECT_EQ(window.windowTitle(),
            QStringLiteral("Kalvex 1.6.0 --- (Update to Kalvex 1.7.0 available)"));
}

TEST_F(WindowServicesTest, GermanCatalogTranslatesTheWindowsOwnTexts) {
  QTranslator german;
  ASSERT_TRUE(german.load(QStringLiteral(KALVEX_GERMAN_CATALOG)));
  QCoreApplication::installTranslator(&german);
  {
    qKalvexMainWindow window;
    Q_EMIT qExtras::instance()->updateAvailable(QStringLiteral("1.7.0"));
    EXPECT_EQ(window.windowTitle(),
              QStringLiteral("Kalvex 1.6.0 --- (Aktualisierung auf Kalvex 1.7.0 verfügbar)"));
    EXPECT_EQ(window.m_use_tray_icon_cb->text(), QStringLiteral("Symbol im Infobereich verwenden"));
  }
  QCoreApplication::removeTranslator(&german);
}

TEST_F(WindowServicesTest, LanguageChoiceIsStoredAndAsksForARestart) {
  qExtras::writeUiLanguage(2);
  qKalvexMainWindow window;
  // Shown quietly at construction: nothing written, no note.
  EXPECT_EQ(window.m_ui_language_cb->currentData().toInt(), 2);
  EXPECT_TRUE(window.m_language_changed_info_l->text().isEmpty());

  window.m_ui_language_cb->setCurrentIndex(window.m_ui_language_cb->findData(1));
  EXPECT_EQ(qExtras::readUiLanguage(), 1);
  EXPECT_EQ(window.m_language_changed_info_l->text(),
            QStringLiteral("Please restart Kalvex to apply changes"));
  window.m_ui_language_cb->setCurrentIndex(window.m_ui_language_cb->findData(2));
  EXPECT_EQ(qExtras::readUiLanguage(), 2);
}

TEST_F(WindowServicesTest, SwitchesAreStoredAsTheyAreClicked) {
  qExtras::writeUseTrayIcon(false);
  qKalvexMainWindow window;
  EXPECT_FALSE(window.m_use_tray_icon_cb->isChecked());
  EXPECT_FALSE(window.m_automatically_check_for_updates_cb->isChecked());
  window.m_use_tray_icon_cb->click();
  EXPECT_TRUE(qExtras::readUseTrayIcon());
  window.m_automatically_check_for_updates_cb->click();
  EXPECT_TRUE(qExtras::readAutoCheckForUpdates());
}

TEST_F(WindowServicesTest, HelpOpensThePageOfTheStoredLanguage) {
  OpenedUrls opened;
  QDesktopServices::setUrlHandler(QStringLiteral("file"), &opened, "open");
  qKalvexMainWindow window;
  const QString dir = QCoreApplication::applicationDirPath();
  for (int language : {1, 2, 3}) {
    qExtras::writeUiLanguage(language);
    window.m_help_tb->click();
  }
  QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
  // Any other language opens nothing.
  EXPECT_EQ(opened.urls, (std::vector<QUrl>{
                             QUrl::fromLocalFile(dir + "/help/en/Kalvex_Help_en.html"),
                             QUrl::fromLocalFile(dir + "/help/de/Kalvex_Help_de.html"),
                         }));
}

TEST_F(WindowServicesTest, ClosingAsksOnlyForUnsavedChangesAndCancelKeepsTheWindow) {
  qKalvexMainWindow window;
  ShowWithoutPainting(window);
  // Nothing changed: no question.
  QCloseEvent unchanged;
  QApplication::sendEvent(&window, &unchanged);
  EXPECT_TRUE(unchanged.isAccepted());
  EXPECT_EQ(boxes.asked, 0);

  controller->SetModified(true);
  boxes.answers = {QMessageBox::Cancel};
  QCloseEvent cancelled;
  QApplication::sendEvent(&window, &cancelled);
  EXPECT_FALSE(cancelled.isAccepted());
  EXPECT_EQ(boxes.asked, 1);

  boxes.answers = {QMessageBox::No};
  EXPECT_TRUE(window.close());
  EXPECT_EQ(boxes.asked, 2);
  EXPECT_FALSE(window.m_tray_icon->isVisible());
}

bool TrayThere() {
  return true;
}
bool NoTray() {
  return false;
}

TEST_F(WindowServicesTest, MinimisingHidesTheWindowOnlyIntoAnExistingTray) {
  struct Case {
    bool use_tray_icon;
    bool (*tray)();
    bool hidden;
  };
  const Case cases[] = {
      {true, &TrayThere, true},
      {false, &TrayThere, false},
      {true, &NoTray, false},  // hidden, nothing could bring it back
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "setting " << c.use_tray_icon << " tray " << c.tray());
    setTrayAvailableAnswer(c.tray);
    qExtras::writeUseTrayIcon(c.use_tray_icon);
    qKalvexMainWindow window;
    ASSERT_NE(window.m_tray_icon, nullptr);  // exists whatever the setting says
    ShowWithoutPainting(window);
    window.setWindowState(Qt::WindowMinimized);
    // The queued hide, and nothing else (no painting).
    QCoreApplication::sendPostedEvents(&window, QEvent::MetaCall);
    EXPECT_EQ(window.isHidden(), c.hidden);
    if (!c.hidden) continue;
    // A double click on the icon brings it back, no longer minimised.
    window.handleTrayIconActivated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(window.isHidden());
    window.handleTrayIconActivated(QSystemTrayIcon::DoubleClick);
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.isMinimized());
    EXPECT_TRUE(window.windowState().testFlag(Qt::WindowActive));
  }
}

TEST_F(WindowServicesTest, ToolKeysReachTheViewerFromAnyWidgetOthersDoNot) {
  qKalvexMainWindow window;
  const auto press = [&](int key, Qt::KeyboardModifiers modifiers, const char* text) {
    QKeyEvent event(QEvent::KeyPress, key, modifiers, QString::fromLatin1(text));
    QApplication::sendEvent(window.m_toolbox, &event);
  };
  press(Qt::Key_2, Qt::NoModifier, "2");
  EXPECT_EQ(window.m_viewer->m_key, '2');
  QKeyEvent release(QEvent::KeyRelease, Qt::Key_2, Qt::NoModifier, QStringLiteral("2"));
  QApplication::sendEvent(window.m_toolbox, &release);
  EXPECT_EQ(window.m_viewer->m_key, 0);

  press(Qt::Key_Y, Qt::NoModifier, "y");
  EXPECT_EQ(window.m_viewer->m_key, 0);
  // As the platform sends it: the state before the press (Qt reports Ctrl held).
  press(Qt::Key_Control, Qt::NoModifier, "");
  EXPECT_EQ(window.m_viewer->m_modifier_code, 0x800);
}

// A tracker whose run is a thread of its own that ends only when the run is stopped.
class ThreadedTracker : public qCTracker {
 public:
  explicit ThreadedTracker(std::atomic<bool>* joined) : joined_(joined) {}
  ~ThreadedTracker() override {
    if (IsTracking()) StopTracking();
    if (worker_.joinable()) worker_.join();
    *joined_ = true;
  }

 protected:
  bool CreateTrackingThread() override {
    worker_ = std::thread([this] {
      while (IsTracking()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    return true;
  }

 private:
  std::atomic<bool>* joined_;
  std::thread worker_;
};

TEST_F(WindowServicesTest, TrayQuitJoinsTheRunThenEndsTheEventLoopWithoutAsking) {
  qKalvexMainWindow window;
  std::atomic<bool> joined{false};
  auto* tracker = new ThreadedTracker(&joined);
  controller->SetCTracker(tracker);
  ASSERT_TRUE(tracker->StartTracking());
  controller->SetModified(true);  // unsaved changes: still no question

  QTimer::singleShot(0, &window, &qKalvexMainWindow::trayQuit);
  QTimer guard;  // a quit that never comes fails instead of hanging
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(7); });
  guard.start(10000);
  EXPECT_EQ(QCoreApplication::exec(), 0);
  EXPECT_TRUE(joined);
  EXPECT_EQ(boxes.asked, 0);
  EXPECT_NE(controller->GetCTracker(), nullptr);
}

}  // namespace

#include "q_kalvex_main_window_services_test.moc"
