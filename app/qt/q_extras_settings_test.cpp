#include <gtest/gtest.h>

#include <QList>
#include <QSettings>
#include <QUrl>

#include <string>

#include "app/qt/q_extras.h"
#include "app/qt/settings_location_for_test.h"

namespace {

TEST(InterfaceSettingsTest, DefaultsWithoutASettingsFile) {
  kxtest::TempSettingsLocation location;
  EXPECT_EQ(qExtras::readUiLanguage(), 1);
  EXPECT_TRUE(qExtras::readUseTrayIcon());
  EXPECT_TRUE(qExtras::readAutoCheckForUpdates());
  EXPECT_TRUE(qExtras::readFileDialogDirectory().isEmpty());
  EXPECT_TRUE(qExtras::readFileDialogSidebarUrls().isEmpty());
}

// Each write is in the file when it returns, under the keys another session reads.
TEST(InterfaceSettingsTest, WrittenValuesAreOnDiskUnderTheirKeys) {
  kxtest::TempSettingsLocation location;
  EXPECT_NE(location.File().find("TORBANE GmbH/Kalvex.ini"), std::string::npos);
  qExtras::writeUiLanguage(2);
  qExtras::writeUseTrayIcon(false);
  qExtras::writeAutoCheckForUpdates(false);

  const std::string text = kxtest::ReadText(location.File());
  EXPECT_NE(text.find("[Language_Settings]\nUI_Language=2\n"), std::string::npos) << text;
  EXPECT_NE(text.find("[GeneralSettings]\nUseTrayIcon=false\n"), std::string::npos) << text;
  EXPECT_NE(text.find("[UpdateSettings]\nAutomaticallyCheckForUpdates=false\n"), std::string::npos)
      << text;
  EXPECT_EQ(qExtras::readUiLanguage(), 2);
  EXPECT_FALSE(qExtras::readUseTrayIcon());
  EXPECT_FALSE(qExtras::readAutoCheckForUpdates());
  qExtras::writeUseTrayIcon(true);
  EXPECT_TRUE(qExtras::readUseTrayIcon());
}

// A shorter list leaves the longer list's entries in the file; only the counted ones are
// read back. Folder names outside ASCII survive the round trip.
TEST(InterfaceSettingsTest, FileDialogPlacesAndDirectory) {
  kxtest::TempSettingsLocation location;
  const QString directory = QString::fromUtf8("/home/me/Aufnahmen-Müller/日本");
  const QList<QUrl> three{QUrl::fromLocalFile(QStringLiteral("/home/me")),
                          QUrl::fromLocalFile(directory),
                          QUrl::fromLocalFile(QStringLiteral("/tmp"))};
  qExtras::writeFileDialogSettings(directory, three);
  EXPECT_EQ(qExtras::readFileDialogSidebarUrls(), three);
  EXPECT_EQ(qExtras::readFileDialogDirectory(), directory);

  const QList<QUrl> one{QUrl::fromLocalFile(QStringLiteral("/srv"))};
  qExtras::writeFileDialogSettings(QStringLiteral("/srv"), one);
  EXPECT_EQ(qExtras::readFileDialogSidebarUrls(), one);
  EXPECT_EQ(qExtras::readFileDialogDirectory(), QStringLiteral("/srv"));
  QSettings file(QString::fromStdString(location.File()), QSettings::IniFormat);
  EXPECT_EQ(file.value(QStringLiteral("FileDialog_Settings/FileDialog_UrlNum")).toInt(), 1);
  EXPECT_EQ(file.value(QStringLiteral("FileDialog_Settings/FileDialog_Url_2")).toUrl(), three[2]);

  // A count larger than the stored entries reads the missing ones as empty places.
  file.setValue(QStringLiteral("FileDialog_Settings/FileDialog_UrlNum"), 2);
  file.sync();
  EXPECT_EQ(qExtras::readFileDialogSidebarUrls(), (QList<QUrl>{one[0], three[1]}));
  file.remove(QStringLiteral("FileDialog_Settings/FileDialog_Url_1"));
  file.sync();
  EXPECT_EQ(qExtras::readFileDialogSidebarUrls(), (QList<QUrl>{one[0], QUrl()}));
}

}  // namespace
