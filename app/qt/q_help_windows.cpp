#include "app/qt/q_help_windows.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QTextBrowser>
#include <QTextEdit>
#include <QUrl>
#include <QVBoxLayout>

namespace {

QDialogButtonBox* OkButtonBox(QDialog* dialog) {
  auto* box = new QDialogButtonBox(QDialogButtonBox::Ok, Qt::Horizontal, dialog);
  box->setObjectName(QStringLiteral("buttonBox"));
  QObject::connect(box, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
  QObject::connect(box, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  return box;
}

}  // namespace

qCommandLineWindow::qCommandLineWindow(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("qCommandLineWindow"));
  setWindowTitle(tr("Command line output"));
  resize(744, 445);
  auto* layout = new QVBoxLayout(this);
  layout->setObjectName(QStringLiteral("verticalLayout"));
  m_command_line_te = new QTextEdit(this);
  m_command_line_te->setObjectName(QStringLiteral("m_command_line_te"));
  layout->addWidget(m_command_line_te);
  buttonBox = OkButtonBox(this);
  layout->addWidget(buttonBox);
}

void qCommandLineWindow::SetText(const std::string& text) {
  m_command_line_te->setPlainText(QString::fromUtf8(text.data(), qsizetype(text.size())));
}

qHelpViewer::qHelpViewer(QWidget* parent) : qHelpViewer(parent, helpDirectories()) {}

qHelpViewer::qHelpViewer(QWidget* parent, const QStringList& directories)
    : QDialog(parent), m_directories(directories) {
  setObjectName(QStringLiteral("HelpViewer"));
  setWindowTitle(tr("Kalvex Help"));
  resize(953, 629);
  auto* layout = new QVBoxLayout(this);
  layout->setObjectName(QStringLiteral("verticalLayout"));
  layout->setContentsMargins(0, 0, 0, 0);
  m_helpview = new QTextBrowser(this);
  m_helpview->setObjectName(QStringLiteral("m_helpview"));
  m_helpview->setSizePolicy(QSizePolicy::MinimumExpanding, QSizePolicy::MinimumExpanding);
  // Links to other help pages stay in the viewer; web links go to the system browser.
  m_helpview->setOpenExternalLinks(true);
  layout->addWidget(m_helpview);
  auto* row = new QHBoxLayout();
  row->setObjectName(QStringLiteral("horizontalLayout"));
  m_info_l = new QLabel(this);
  m_info_l->setObjectName(QStringLiteral("m_info_l"));
  m_progress = new QProgressBar(this);
  m_progress->setObjectName(QStringLiteral("m_progress"));
  m_progress->setValue(24);
  row->addWidget(m_info_l, 80);
  row->addWidget(m_progress, 20);
  layout->addLayout(row);

  connect(this, &qHelpViewer::loadStarted, this, &qHelpViewer::handleLoadStarted);
  connect(this, &qHelpViewer::loadFinished, this, &qHelpViewer::handleLoadFinished);
  connect(this, &qHelpViewer::loadProgress, this, &qHelpViewer::handleLoadProgress);
}

QStringList qHelpViewer::helpDirectories() {
  const QDir program(QCoreApplication::applicationDirPath());
  return {QDir::cleanPath(program.filePath(QStringLiteral("help"))),
          QDir::cleanPath(program.filePath(QStringLiteral("../share/kalvex/help")))};
}

bool qHelpViewer::showPage(const QString& page) {
  Q_EMIT loadStarted();
  QString found;
  for (const QString& directory : m_directories) {
    const QFileInfo file(QDir(directory), page);
    if (file.isFile() && file.isReadable()) {
      found = file.absoluteFilePath();
      break;
    }
  }
  Q_EMIT loadProgress(50);
  if (found.isEmpty()) {
    QString folders;
    for (const QString& directory : m_directories) {
      folders += QStringLiteral("<li>") + QDir::toNativeSeparators(directory).toHtmlEscaped() +
                 QStringLiteral("</li>");
    }
    m_helpview->setHtml(tr("<h3>No help pages found</h3><p>The help page \"%1\" is not "
                           "installed. It was looked for in:</p><ul>%2</ul>")
                            .arg(page.toHtmlEscaped(), folders));
    m_info_l->setText(tr("Help page \"%1\" not found").arg(page));
    Q_EMIT loadFinished(false);
    return false;
  }
  m_helpview->setSearchPaths(m_directories);
  m_helpview->setSource(QUrl::fromLocalFile(found));
  m_info_l->setText(QDir::toNativeSeparators(found));
  Q_EMIT loadFinished(true);
  return true;
}

void qHelpViewer::handleLoadStarted() {
  m_progress->setValue(0);
  m_progress->show();
}

void qHelpViewer::handleLoadFinished(bool /*ok*/) {
  m_progress->setValue(100);
  m_progress->hide();
}

void qHelpViewer::handleLoadProgress(int percent) {
  m_progress->setValue(percent);
}

qInteractivHelpDialog::qInteractivHelpDialog(QWidget* parent)
    : QDialog(parent, Qt::CustomizeWindowHint) {
  setObjectName(QStringLiteral("qInteractivHelpDialog"));
  setWindowTitle(tr("Dialog"));
  setModal(false);
  resize(510, 300);
  setFixedSize(510, 300);
  setFocusPolicy(Qt::NoFocus);
  auto* layout = new QGridLayout(this);
  layout->setObjectName(QStringLiteral("gridLayout"));
  m_help_animation_la = new QLabel(this);
  m_help_animation_la->setObjectName(QStringLiteral("m_help_animation_la"));
  m_help_animation_la->setMinimumSize(250, 250);
  m_help_animation_la->setFrameShape(QFrame::Box);
  m_help_animation_la->setFrameShadow(QFrame::Sunken);
  m_help_animation_la->setAlignment(Qt::AlignCenter);
  layout->addWidget(m_help_animation_la, 0, 0);
  m_help_text_te = new QTextEdit(this);
  m_help_text_te->setObjectName(QStringLiteral("m_help_text_te"));
  m_help_text_te->setReadOnly(true);
  m_help_text_te->setAutoFormatting(QTextEdit::AutoAll);
  m_help_text_te->setHtml(
      tr("<p style=\"font-size:8pt\">Interactive help.</p>"
         "<p style=\"font-size:8pt\">Hints for the current step appear here.</p>"));
  layout->addWidget(m_help_text_te, 0, 1);
  buttonBox = OkButtonBox(this);
  buttonBox->setLayoutDirection(Qt::LeftToRight);
  buttonBox->setCenterButtons(false);
  layout->addWidget(buttonBox, 1, 1);
}
