// The interface settings of qExtras.
#include <QSettings>
#include <QVariant>
#include <algorithm>

#include "app/qt/q_extras.h"
#include "foundation/runtime/product_info.h"

namespace {

const char kFileDialogGroup[] = "FileDialog_Settings";
const char kDirectoryKey[] = "FileDialog_Directory";
const char kUrlCountKey[] = "FileDialog_UrlNum";
const char kUrlKey[] = "FileDialog_Url_";
// A count beyond this comes from a damaged file, not from a dialog's side bar.
const int kMaxPlaces = 1024;

// One short-lived settings object per access: the file is written when it goes.
class Settings : public QSettings {
 public:
  Settings()
      : QSettings(QSettings::IniFormat, QSettings::UserScope,
                  QString::fromStdString(ProductInfo::GetCompanyInfo().company_name),
                  QString::fromStdString(ProductInfo::GetProductName())) {}
};

QVariant Read(const char* group, const char* key, const QVariant& fallback) {
  Settings settings;
  settings.beginGroup(QLatin1String(group));
  return settings.value(QLatin1String(key), fallback);
}

void Write(const char* group, const char* key, const QVariant& value) {
  Settings settings;
  settings.beginGroup(QLatin1String(group));
  settings.setValue(QLatin1String(key), value);
}

QString UrlKey(qsizetype index) {
  return QLatin1String(kUrlKey) + QString::number(index);
}

}  // namespace

int qExtras::readUiLanguage() {
  Settings settings;
  return settings.value(QStringLiteral("Language_Settings/UI_Language"), 1).toInt();
}

void qExtras::writeUiLanguage(int language) {
  Settings settings;
  settings.setValue(QStringLiteral("Language_Settings/UI_Language"), QVariant(language));
}

bool qExtras::readUseTrayIcon() {
  return Read("GeneralSettings", "UseTrayIcon", true).toBool();
}

void qExtras::writeUseTrayIcon(bool use) {
  Write("GeneralSettings", "UseTrayIcon", QVariant(use));
}

bool qExtras::readAutoCheckForUpdates() {
  return Read("UpdateSettings", "AutomaticallyCheckForUpdates", true).toBool();
}

void qExtras::writeAutoCheckForUpdates(bool check) {
  Write("UpdateSettings", "AutomaticallyCheckForUpdates", QVariant(check));
}

QString qExtras::readFileDialogDirectory() {
  return Read(kFileDialogGroup, kDirectoryKey, QString()).toString();
}

QList<QUrl> qExtras::readFileDialogSidebarUrls() {
  Settings settings;
  settings.beginGroup(QLatin1String(kFileDialogGroup));
  const int count = std::min(settings.value(QLatin1String(kUrlCountKey), 0).toInt(), kMaxPlaces);
  QList<QUrl> places;
  for (int i = 0; i < count; ++i) places.append(settings.value(UrlKey(i)).toUrl());
  return places;
}

void qExtras::writeFileDialogSettings(const QString& directory, const QList<QUrl>& places) {
  Settings settings;
  settings.beginGroup(QLatin1String(kFileDialogGroup));
  settings.setValue(QLatin1String(kDirectoryKey), directory);
  for (qsizetype i = 0; i < places.size(); ++i) settings.setValue(UrlKey(i), places[i]);
  settings.setValue(QLatin1String(kUrlCountKey), int(places.size()));
}
