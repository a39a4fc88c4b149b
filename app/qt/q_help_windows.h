// The shell's small text windows: the command-line output window (the usage text at
// start-up), the help viewer and the interactive-help panel.
//
// qHelpViewer shows the program's local HTML help pages in a QTextBrowser. It looks for
// them in "help" beside the program and in "../share/kalvex/help" from the program's
// folder (the installed layout); when a page is in neither, the viewer says so and where it
// looked, never a blank window. A page load announces its start, progress and end through
// the viewer's own signals, which drive the progress bar: shown from 0 while a page loads,
// hidden at 100 when it ends, also when the load failed.
//
// Threads: interface thread only.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <string>

class QDialogButtonBox;
class QLabel;
class QProgressBar;
class QTextBrowser;
class QTextEdit;

class qCommandLineWindow : public QDialog {
  Q_OBJECT

 public:
  explicit qCommandLineWindow(QWidget* parent);

  // Shows text (UTF-8) as plain text: the usage text is not markup, and its line breaks
  // and "<...>" placeholders must stay as they are.
  void SetText(const std::string& text);

  QTextEdit* m_command_line_te;
  QDialogButtonBox* buttonBox;
};

class qHelpViewer : public QDialog {
  Q_OBJECT

 public:
  // Pages are looked for in helpDirectories().
  explicit qHelpViewer(QWidget* parent);
  // Pages are looked for in directories, in order.
  qHelpViewer(QWidget* parent, const QStringList& directories);

  // The folders searched for help pages, beside the program first.
  static QStringList helpDirectories();

  // Loads page (a file name such as "index.html") from the first folder that holds it.
  // False, with a message naming the page and the folders searched, when none does.
  bool showPage(const QString& page = QStringLiteral("index.html"));

  QTextBrowser* m_helpview;
  QLabel* m_info_l;
  QProgressBar* m_progress;

 Q_SIGNALS:
  void loadStarted();
  void loadProgress(int percent);
  void loadFinished(bool ok);

 public Q_SLOTS:
  void handleLoadStarted();
  void handleLoadFinished(bool ok);
  void handleLoadProgress(int percent);

 private:
  QStringList m_directories;
};

class qInteractivHelpDialog : public QDialog {
  Q_OBJECT

 public:
  explicit qInteractivHelpDialog(QWidget* parent);

  QLabel* m_help_animation_la;
  QTextEdit* m_help_text_te;
  QDialogButtonBox* buttonBox;
};
