// The Qt shell's test program: one QApplication on the offscreen platform for every test,
// and a message handler that turns a failed signal connection into a test failure (Qt
// only warns, and the slot then silently never runs).
#include <gtest/gtest.h>

#include <QApplication>
#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include "app/qt/q_extras.h"
#include "app/qt/settings_location_for_test.h"
#include "foundation/runtime/notify.h"

namespace {

QtMessageHandler previous_handler = nullptr;

void FailOnConnectWarnings(QtMsgType type, const QMessageLogContext& context,
                           const QString& message) {
  if (message.startsWith(QLatin1String("QObject::connect:"))) {
    ADD_FAILURE() << message.toStdString();
  }
  if (previous_handler) previous_handler(type, context, message);
}

}  // namespace

#if defined(__SANITIZE_THREAD__)
// Qt's libraries are not built with ThreadSanitizer, and QMutex on Linux waits on a futex
// directly: the lock that orders a posted event (or a queued signal's arguments) between
// the posting thread and the interface thread that delivers and deletes it is invisible to
// TSan. Reports whose one side is that delivery are this hand-over; the program's own locks
// and atomics stay checked.
extern "C" const char* __tsan_default_suppressions() {
  return "race:QObject::event\n"
         "race:QCoreApplicationPrivate::sendPostedEvents\n";
}
#endif

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // Widget tests never need a display.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  previous_handler = qInstallMessageHandler(&FailOnConnectWarnings);
  QApplication app(argc, argv);
  // No test reads or writes the user's own settings file; tests of the settings choose a
  // fresh folder of their own.
  kxtest::TempSettingsLocation settings_location;
  // Nor does any window ask the network on its own; the update tests switch checks on.
  qExtras::writeAutoCheckForUpdates(false);
  // Warnings only: a real tracking run's working notes would bury the test output.
  NotifyContext::SetNotifyLevel(2);
  const int result = RUN_ALL_TESTS();
  qExtras::instance()->endUpdateChecks();
  return result;
}
