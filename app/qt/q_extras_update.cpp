// The update check of qExtras: one request to the maker's server, and the boxes that tell
// the user what its answer means.
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSettings>
#include <QXmlStreamAttributes>
#include <QXmlStreamReader>

#include "app/qt/q_extras.h"
#include "foundation/runtime/product_info.h"

namespace {

const char kServerKey[] = "UpdateSettings/UpdateServer";
const char kDefaultServer[] = "https://www.torbane.de";
const char kVersionInfoPath[] = "/version_info.xml";
// A server that accepts the connection and then says nothing must not keep the check
// pending for the rest of the session.
constexpr int kTransferTimeoutMilliseconds = 30000;
// A version-info document is a few kilobytes; a server that sends more than this is not
// the one meant, and its answer is not kept in memory.
constexpr qint64 kMaxAnswerBytes = 1 << 20;

QSettings UserSettings() {
  return QSettings(QSettings::IniFormat, QSettings::UserScope,
                   QString::fromStdString(ProductInfo::GetCompanyInfo().company_name),
                   QString::fromStdString(ProductInfo::GetProductName()));
}

// An attribute as a decimal number; missing or not a number counts as 0.
int Number(const QXmlStreamAttributes& attributes, const char* name) {
  return attributes.value(QLatin1String(name)).toInt();
}

QString ElementText(QXmlStreamReader& reader) {
  return reader.readElementText(QXmlStreamReader::SkipChildElements);
}

// Inside `ReleaseNotes`: the notes of the element named language (none when it is empty).
QString ReadNotes(QXmlStreamReader& reader, const QString& language) {
  QString notes;
  while (reader.readNextStartElement()) {
    if (language.isEmpty() || reader.name() != language) {
      reader.skipCurrentElement();
      continue;
    }
    while (reader.readNextStartElement()) {
      if (reader.name() == u"Note") {
        notes += QStringLiteral("\n- ") + ElementText(reader);
      } else {
        reader.skipCurrentElement();
      }
    }
  }
  return notes;
}

// Inside a newer `product`: its version text, download address and notes. Anything else
// is skipped whole, so that a nested `Link` or the end of an unknown child cannot stand
// for the product's own.
void ReadOffer(QXmlStreamReader& reader, const QString& language, qUpdateOffer& offer) {
  while (reader.readNextStartElement()) {
    if (reader.name() == u"VersionString") {
      offer.version = ElementText(reader);
    } else if (reader.name() == u"Link") {
      offer.link = ElementText(reader);
    } else if (reader.name() == u"ReleaseNotes") {
      offer.notes = ReadNotes(reader, language);
    } else {
      reader.skipCurrentElement();  // "Date" and whatever a later server adds
    }
  }
}

qReleaseVersion RunningVersion() {
  return {ProductInfo::GetMajorVersion(), ProductInfo::GetMinorVersion(),
          ProductInfo::GetPatchVersion()};
}

QString UpdateAvailableText(const qUpdateOffer& offer) {
  return QMessageBox::tr("A new version of Kalvex is available, please update to Kalvex ") +
         offer.version + QStringLiteral(".\n") + QMessageBox::tr("You can find the download at: ") +
         offer.link + QStringLiteral("\n\nRelease notes:") + offer.notes;
}

}  // namespace

qVersionInfo parseVersionInfo(const QByteArray& xml, const QString& product,
                              const qReleaseVersion& running, int language) {
  const QString notes_language = language == 1   ? QStringLiteral("En")
                                 : language == 2 ? QStringLiteral("De")
                                                 : QString();
  qVersionInfo info;
  QXmlStreamReader reader(xml);
  while (!reader.atEnd()) {
    reader.readNext();
    if (!reader.isStartElement() || reader.name() != u"product") continue;
    const QXmlStreamAttributes attributes = reader.attributes();
    if (attributes.value(QLatin1String("name")) != product) continue;
    const qReleaseVersion offered{Number(attributes, "major"), Number(attributes, "minor"),
                                  Number(attributes, "maintenance")};
    qUpdateOffer offer;
    if (running < offered) {
      offer.relation = qUpdateOffer::kNewer;
      ReadOffer(reader, notes_language, offer);
    } else {
      offer.relation = running == offered ? qUpdateOffer::kSame : qUpdateOffer::kOlder;
    }
    info.offers.append(offer);
  }
  // A document cut short or garbled says nothing reliable, also before the damage.
  info.readable = !reader.hasError();
  if (!info.readable) info.offers.clear();
  return info;
}

QString qExtras::readUpdateServer() {
  return UserSettings().value(QLatin1String(kServerKey), QLatin1String(kDefaultServer)).toString();
}

void qExtras::writeUpdateServer(const QString& server) {
  UserSettings().setValue(QLatin1String(kServerKey), server);
}

void qExtras::checkForUpdates(bool manual) {
  if (!manual && !readAutoCheckForUpdates()) return;
  if (m_network == nullptr) {
    m_network = new QNetworkAccessManager(this);
    connect(m_network, &QNetworkAccessManager::finished, this, &qExtras::handleUpdateCheckResponse);
  }
  QUrl url(readUpdateServer());
  url.setPath(QLatin1String(kVersionInfoPath));
  QNetworkRequest request(url);
  request.setTransferTimeout(kTransferTimeoutMilliseconds);
  // An invalid address still gives a reply, which fails through the same path.
  QNetworkReply* reply = m_network->get(request);
  connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64 total) {
    if (received > kMaxAnswerBytes || total > kMaxAnswerBytes) reply->abort();
  });
  m_manual_check = manual;
}

void qExtras::endUpdateChecks() {
  // The manager aborts its replies without a finished signal to us and joins its thread.
  disconnect(m_network, nullptr, this, nullptr);
  delete m_network;
  m_network = nullptr;
}

void qExtras::handleUpdateCheckResponse(QNetworkReply* reply) {
  if (reply == nullptr) return;
  reply->deleteLater();
  const bool manual = m_manual_check;
  qVersionInfo info;
  QString failure;
  if (reply->error() != QNetworkReply::NoError) {
    failure = reply->errorString();
  } else if (reply->bytesAvailable() > kMaxAnswerBytes) {
    // Arrived at once, before the download limit could stop it.
    failure = QMessageBox::tr("The server's answer could not be read.");
  } else {
    info = parseVersionInfo(reply->readAll(), QString::fromStdString(ProductInfo::GetProductName()),
                            RunningVersion(), readUiLanguage());
    if (!info.readable) {
      failure = QMessageBox::tr("The server's answer could not be read.");
    } else if (info.offers.isEmpty()) {
      failure = QMessageBox::tr("The server's answer does not name this program.");
    }
  }

  // Every text may carry the server's words: shown as they are, never as markup.
  const auto show = [](QMessageBox::Icon icon, const QString& title, const QString& text) {
    QMessageBox box(icon, title, text, QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    runMessageBox(box);
  };
  const QString up_to_date_title = QMessageBox::tr("No updates available");
  const QString up_to_date_text = QMessageBox::tr("Your version of Kalvex is up to date");
  bool answered = false;
  for (const qUpdateOffer& offer : info.offers) {
    if (offer.relation == qUpdateOffer::kNewer) {
      show(QMessageBox::Information, QMessageBox::tr("Update available"),
           UpdateAvailableText(offer));
      answered = true;
      Q_EMIT updateAvailable(offer.version);
    } else if (offer.relation == qUpdateOffer::kSame && manual) {
      show(QMessageBox::Information, up_to_date_title, up_to_date_text);
      answered = true;
    }
  }
  // A check the user asked for always answers: a newer running version is up to date, and
  // a failure says so instead of looking like nothing happened.
  if (manual && !answered) {
    if (failure.isEmpty()) {
      show(QMessageBox::Information, up_to_date_title, up_to_date_text);
    } else {
      show(QMessageBox::Warning, QMessageBox::tr("Update check failed"),
           QMessageBox::tr("Could not check for updates.") + QLatin1Char('\n') + failure);
    }
  }
  Q_EMIT updateCheckFinished();
}
