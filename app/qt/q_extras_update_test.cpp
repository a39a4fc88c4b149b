#include <gtest/gtest.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QEventLoop>
#include <QHostAddress>
#include <QMessageBox>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QTranslator>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "app/qt/q_extras.h"
#include "app/qt/settings_location_for_test.h"
#include "foundation/runtime/product_info.h"

namespace {

const QString kProduct = QStringLiteral("Kalvex");

QByteArray Product(const char* name, const char* major, const char* minor, const char* patch,
                   const QByteArray& children = QByteArray()) {
  return QByteArray("<product name=\"") + name + "\" major=\"" + major + "\" minor=\"" + minor +
         "\" maintenance=\"" + patch + "\">" + children + "</product>";
}

QByteArray Document(const QByteArray& products) {
  return "<?xml version=\"1.0\"?><versions>" + products + "</versions>";
}

const QByteArray kNotes =
    "<ReleaseNotes><En><Note>Faster solve</Note><Note>Fixed export</Note></En>"
    "<De><Note>Schneller</Note></De></ReleaseNotes>";
const QByteArray kNewerChildren =
    "<VersionString>1.6.1</VersionString><Date>2026-12-01</Date>"
    "<Link>https://example.invalid/get</Link>" +
    kNotes;

// ---- the parse

TEST(VersionInfoTest, VersionsCompareAsTuples) {
  EXPECT_LT((qReleaseVersion{1, 10, 0}), (qReleaseVersion{2, 0, 0}));
  EXPECT_LT((qReleaseVersion{1, 9, 9}), (qReleaseVersion{1, 10, 0}));
  EXPECT_EQ((qReleaseVersion{1, 6, 0}), (qReleaseVersion{1, 6, 0}));

  // The old sum major*100 + minor*10 + patch made these two the same version.
  const QByteArray xml = Document(Product("Kalvex", "2", "0", "0",
                                          "<VersionString>2.0.0"
                                          "</VersionString>"));
  const qVersionInfo info = parseVersionInfo(xml, kProduct, {1, 10, 0}, 1);
  ASSERT_EQ(info.offers.size(), 1);
  EXPECT_EQ(info.offers[0].relation, qUpdateOffer::kNewer);
  EXPECT_EQ(info.offers[0].version, QStringLiteral("2.0.0"));
  EXPECT_EQ(parseVersionInfo(xml, kProduct, {2, 0, 1}, 1).offers[0].relation, qUpdateOffer::kOlder);
}

TEST(VersionInfoTest, ReadsTheNewerProductInTheInterfaceLanguage) {
  struct Case {
    int language;
    QString notes;
  };
  const Case cases[] = {
      {1, QStringLiteral("\n- Faster solve\n- Fixed export")},
      {2, QStringLiteral("\n- Schneller")},
      {3, QString()},  // no language of ours: no notes
  };
  for (const Case& c : cases) {
    const qVersionInfo info =
        parseVersionInfo(Document(Product("Kalvex", "1", "6", "1", kNewerChildren)), kProduct,
                         {1, 6, 0}, c.language);
    ASSERT_TRUE(info.readable);
    ASSERT_EQ(info.offers.size(), 1);
    EXPECT_EQ(info.offers[0].relation, qUpdateOffer::kNewer);
    EXPECT_EQ(info.offers[0].version, QStringLiteral("1.6.1"));
    EXPECT_EQ(info.offers[0].link, QStringLiteral("https://example.invalid/get"));
    EXPECT_EQ(info.offers[0].notes, c.notes) << "language " << c.language;
  }
  // German asked, only English there: no notes at all.
  const qVersionInfo only_en =
      parseVersionInfo(Document(Product("Kalvex", "1", "7", "0",
                                        "<VersionString>1.7.0</VersionString>"
                                        "<ReleaseNotes><En><Note>x</Note></En></ReleaseNotes>")),
                       kProduct, {1, 6, 0}, 2);
  ASSERT_EQ(only_en.offers.size(), 1);
  EXPECT_TRUE(only_en.offers[0].notes.isEmpty());
}

TEST(VersionInfoTest, OnlyOurProductCountsAndUnknownChildrenAreSkippedWhole) {
  // A foreign product, an unknown child holding its own Link and VersionString, a
  // non-numeric attribute (0), then a second matching product.
  const QByteArray xml = Document(
      Product("Other", "9", "0", "0", "<VersionString>9.0</VersionString>") +
      Product("Kalvex", "1", "7", "x",
              "<Mirror><Link>https://evil.invalid</Link><VersionString>6.6.6</VersionString>"
              "</Mirror><VersionString>1.7.0</VersionString>"
              "<Link>https://example.invalid/1.7</Link>") +
      Product("kalvex", "5", "0", "0") +  // names compare exactly
      Product("Kalvex", "1", "6", "0") + Product("Kalvex", "1", "5", "9"));
  const qVersionInfo info = parseVersionInfo(xml, kProduct, {1, 6, 0}, 1);
  ASSERT_TRUE(info.readable);
  ASSERT_EQ(info.offers.size(), 3);
  EXPECT_EQ(info.offers[0].relation, qUpdateOffer::kNewer);
  EXPECT_EQ(info.offers[0].version, QStringLiteral("1.7.0"));
  EXPECT_EQ(info.offers[0].link, QStringLiteral("https://example.invalid/1.7"));
  EXPECT_EQ(info.offers[1].relation, qUpdateOffer::kSame);
  EXPECT_EQ(info.offers[2].relation, qUpdateOffer::kOlder);
}

TEST(VersionInfoTest, UnreadableAnswersOfferNothing) {
  const QByteArray cut_short = Document(Product("Kalvex", "2", "0", "0")).left(60);
  for (const QByteArray& xml : {QByteArray(), QByteArray("<html><body>Not Found</body>"), cut_short,
                                Product("Kalvex", "2", "0", "0") + "<<garbage"}) {
    const qVersionInfo info = parseVersionInfo(xml, kProduct, {1, 6, 0}, 1);
    EXPECT_FALSE(info.readable) << xml.toStdString();
    EXPECT_TRUE(info.offers.isEmpty()) << xml.toStdString();
  }
}

// ---- the check against a server on this machine

// Answers every request with one status and body, and remembers the paths asked for.
class VersionServer {
 public:
  VersionServer(int status, QByteArray body) : status_(status), body_(std::move(body)) {
    EXPECT_TRUE(server_.listen(QHostAddress::LocalHost, 0));
    QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] { Accept(); });
  }
  QString Address() const {
    return QStringLiteral("http://127.0.0.1:%1").arg(server_.serverPort());
  }
  const std::vector<QByteArray>& Paths() const { return paths_; }

 private:
  void Accept() {
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
      QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
        QByteArray& request = pending_[socket];
        request += socket->readAll();
        if (!request.contains("\r\n\r\n")) return;
        paths_.push_back(request.split(' ').value(1));
        const QByteArray reason = status_ == 200 ? "OK" : "Not Found";
        socket->write("HTTP/1.1 " + QByteArray::number(status_) + " " + reason +
                      "\r\nContent-Type: text/xml\r\nConnection: close\r\nContent-Length: " +
                      QByteArray::number(body_.size()) + "\r\n\r\n" + body_);
        socket->disconnectFromHost();
      });
      QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
  }

  QTcpServer server_;
  int status_;
  QByteArray body_;
  std::vector<QByteArray> paths_;
  std::map<QTcpSocket*, QByteArray> pending_;
};

// Records each box and presses OK.
class RecordedBoxes : public qDialogRunner {
 public:
  struct Seen {
    QString title, text;
    Qt::TextFormat format;
  };
  std::vector<Seen> boxes;
  int runMessageBox(QMessageBox& box) override {
    boxes.push_back({box.windowTitle(), box.text(), box.textFormat()});
    return QMessageBox::Ok;
  }
};

class UpdateCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
#if defined(__SANITIZE_THREAD__)
    // Qt runs HTTP on threads of its own, built without ThreadSanitizer: their hand-overs
    // are invisible to it. The checks' own code runs on this thread only; the parse is
    // tested above.
    GTEST_SKIP() << "Qt's network threads are not instrumented";
#endif
    ProductInfo::SetVersion(1, 6, 0);  // restored by TearDown
    qExtras::setDialogRunner(&boxes_);
    QObject::connect(qExtras::instance(), &qExtras::updateAvailable, &receiver_,
                     [this](const QString& version) { announced_.push_back(version); });
  }
  void TearDown() override {
    qExtras::setDialogRunner(nullptr);
    ProductInfo::SetVersion(version_.major, version_.minor, version_.patch);
  }

  // Runs checks against server (empty: nobody listens) and waits for every answer.
  void Check(const QString& server, std::initializer_list<bool> manual_flags) {
    qExtras::writeUpdateServer(server);
    int finished = 0;
    QEventLoop loop;
    QObject::connect(qExtras::instance(), &qExtras::updateCheckFinished, &loop, [&] {
      if (++finished == static_cast<int>(manual_flags.size())) loop.quit();
    });
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    for (bool manual : manual_flags) qExtras::instance()->checkForUpdates(manual);
    loop.exec();
    EXPECT_EQ(finished, static_cast<int>(manual_flags.size())) << "answers missing";
  }

  const qReleaseVersion version_{ProductInfo::GetMajorVersion(), ProductInfo::GetMinorVersion(),
                                 ProductInfo::GetPatchVersion()};
  kxtest::TempSettingsLocation settings_;
  RecordedBoxes boxes_;
  QObject receiver_;  // ends the connection to updateAvailable with the test
  std::vector<QString> announced_;
};

QString ClosedPortAddress() {
  QTcpServer closed;
  EXPECT_TRUE(closed.listen(QHostAddress::LocalHost, 0));
  const QString address = QStringLiteral("http://127.0.0.1:%1").arg(closed.serverPort());
  closed.close();
  return address;
}

TEST_F(UpdateCheckTest, OnlyANewerVersionIsShownOnAnAutomaticCheck) {
  struct Case {
    const char* what;
    int status;
    QByteArray body;  // empty with status 0: no server
  };
  const Case cases[] = {
      {"newer", 200, Document(Product("Kalvex", "1", "6", "1", kNewerChildren))},
      {"same", 200, Document(Product("Kalvex", "1", "6", "0"))},
      {"older", 200, Document(Product("Kalvex", "1", "5", "9"))},
      {"malformed", 200, Document(Product("Kalvex", "1", "7", "0")).left(70)},
      {"404", 404, "<html><product name=\"Kalvex\" major=\"9\"/></html>"},
      {"no server", 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    boxes_.boxes.clear();
    announced_.clear();
    if (c.status == 0) {
      Check(ClosedPortAddress(), {false});
    } else {
      VersionServer server(c.status, c.body);
      Check(server.Address(), {false});
      EXPECT_EQ(server.Paths(), std::vector<QByteArray>{"/version_info.xml"});
    }
    if (std::string(c.what) != "newer") {
      EXPECT_TRUE(boxes_.boxes.empty());
      EXPECT_TRUE(announced_.empty());
      continue;
    }
    ASSERT_EQ(boxes_.boxes.size(), 1u);
    EXPECT_EQ(boxes_.boxes[0].title, QStringLiteral("Update available"));
    EXPECT_EQ(boxes_.boxes[0].text,
              QStringLiteral("A new version of Kalvex is available, please update to Kalvex "
                             "1.6.1.\nYou can find the download at: https://example.invalid/get"
                             "\n\nRelease notes:\n- Faster solve\n- Fixed export"));
    EXPECT_EQ(boxes_.boxes[0].format, Qt::PlainText);
    EXPECT_EQ(announced_, std::vector<QString>{QStringLiteral("1.6.1")});
  }
}

TEST_F(UpdateCheckTest, AManualCheckAlwaysAnswers) {
  struct Case {
    const char* what;
    int status;
    QByteArray body;
    const char* title;
  };
  const Case cases[] = {
      {"same", 200, Document(Product("Kalvex", "1", "6", "0")), "No updates available"},
      {"running a newer one", 200, Document(Product("Kalvex", "1", "5", "9")),
       "No updates available"},
      {"foreign product only", 200, Document(Product("Other", "2", "0", "0")),
       "Update check failed"},
      {"malformed", 200, "<versions><product", "Update check failed"},
      {"404", 404, "Not Found", "Update check failed"},
      {"no server", 0, {}, "Update check failed"},
      {"oversized", 200, Document(Product("Kalvex", "1", "6", "0") + QByteArray(2 << 20, ' ')),
       "Update check failed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    boxes_.boxes.clear();
    if (c.status == 0) {
      Check(ClosedPortAddress(), {true});
    } else {
      VersionServer server(c.status, c.body);
      Check(server.Address(), {true});
    }
    ASSERT_EQ(boxes_.boxes.size(), 1u);
    EXPECT_EQ(boxes_.boxes[0].title, QString::fromLatin1(c.title));
    if (std::string(c.title) == "No updates available") {
      EXPECT_EQ(boxes_.boxes[0].text, QStringLiteral("Your version of Kalvex is up to date"));
    } else {
      EXPECT_TRUE(boxes_.boxes[0].text.startsWith(QStringLiteral("Could not check for updates.")));
    }
    EXPECT_TRUE(announced_.empty());
  }
}

TEST_F(UpdateCheckTest, SeveralMatchingProductsEachShowTheirBoxInTheStoredLanguage) {
  qExtras::writeUiLanguage(2);
  VersionServer server(
      200, Document(Product("Kalvex", "1", "7", "0",
                            "<VersionString>1.7.0</VersionString><Link>L</Link>"
                            "<ReleaseNotes><En><Note>only English</Note></En></ReleaseNotes>") +
                    Product("Kalvex", "2", "0", "0",
                            "<VersionString>2.0</VersionString><Link>M</Link>")));
  Check(server.Address(), {false});
  ASSERT_EQ(boxes_.boxes.size(), 2u);
  // German notes asked for, only English ones there: the text ends at the heading.
  EXPECT_TRUE(boxes_.boxes[0].text.endsWith(QStringLiteral("\n\nRelease notes:")));
  EXPECT_EQ(announced_, (std::vector<QString>{QStringLiteral("1.7.0"), QStringLiteral("2.0")}));
}

TEST_F(UpdateCheckTest, NoRequestWhileAutomaticChecksAreOff) {
  qExtras::writeAutoCheckForUpdates(false);
  VersionServer server(200, Document(Product("Kalvex", "9", "0", "0")));
  qExtras::writeUpdateServer(server.Address());
  qExtras::instance()->checkForUpdates(false);
  QEventLoop loop;
  QTimer::singleShot(300, &loop, &QEventLoop::quit);
  loop.exec();
  EXPECT_TRUE(server.Paths().empty());
  EXPECT_TRUE(boxes_.boxes.empty());
  // The user's own check still goes out.
  Check(server.Address(), {true});
  EXPECT_EQ(server.Paths().size(), 1u);
  EXPECT_EQ(announced_.size(), 1u);
}

// Quitting while a check waits for its answer: the check is dropped without a box or a
// finished notice, and a later check starts afresh.
TEST_F(UpdateCheckTest, EndingChecksDropsTheOneUnderWay) {
  QTcpServer silent;  // accepts and never answers
  ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
  qExtras::writeUpdateServer(QStringLiteral("http://127.0.0.1:%1").arg(silent.serverPort()));
  int finished = 0;
  QObject::connect(qExtras::instance(), &qExtras::updateCheckFinished, &receiver_,
                   [&finished] { ++finished; });
  qExtras::instance()->checkForUpdates(true);
  QEventLoop loop;
  QObject::connect(&silent, &QTcpServer::newConnection, &loop, &QEventLoop::quit);
  QTimer::singleShot(5000, &loop, &QEventLoop::quit);
  loop.exec();
  qExtras::instance()->endUpdateChecks();
  QTimer::singleShot(200, &loop, &QEventLoop::quit);
  loop.exec();
  EXPECT_EQ(finished, 0);
  EXPECT_TRUE(boxes_.boxes.empty());

  VersionServer server(200, Document(Product("Kalvex", "1", "6", "0")));
  Check(server.Address(), {true});
  EXPECT_EQ(finished, 1);
  EXPECT_EQ(boxes_.boxes.size(), 1u);
}

TEST_F(UpdateCheckTest, TheLaterRequestsManualFlagDecidesForBothAnswers) {
  VersionServer server(200, Document(Product("Kalvex", "1", "6", "0")));
  Check(server.Address(), {false, true});
  EXPECT_EQ(boxes_.boxes.size(), 2u);
  boxes_.boxes.clear();
  Check(server.Address(), {true, false});
  EXPECT_TRUE(boxes_.boxes.empty());
}

TEST_F(UpdateCheckTest, TheGermanCatalogTranslatesTheBoxes) {
  QTranslator german;
  ASSERT_TRUE(german.load(QStringLiteral(KALVEX_GERMAN_CATALOG)));
  QCoreApplication::installTranslator(&german);
  VersionServer server(200, Document(Product("Kalvex", "1", "6", "1", kNewerChildren)));
  Check(server.Address(), {false});
  QCoreApplication::removeTranslator(&german);
  ASSERT_EQ(boxes_.boxes.size(), 1u);
  EXPECT_EQ(boxes_.boxes[0].title, QStringLiteral("Aktualisierung verfügbar"));
  EXPECT_TRUE(boxes_.boxes[0].text.startsWith(
      QStringLiteral("Eine neue Version von Kalvex ist verfügbar, bitte aktualisieren Sie auf "
                     "Kalvex 1.6.1.\nSie finden den Download unter: ")));
}

}  // namespace
