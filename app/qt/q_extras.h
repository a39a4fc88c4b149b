// qExtras: the interface services that belong to no window.
//
// File actions (the instance()): open, save and save as of project files, the question
// to save changes, relocating the images of an opened project and choosing the files of a
// new image sequence. They never lose work: a save that fails or is cancelled after the
// user asked for it stops the action that asked; a project that cannot be read leaves the
// current project and its path as they were (unless only its images moved: then it is
// opened so that they can be relocated). Every dialog and message box is Qt's own, carries
// the platform style sheet, and is shown through the dialog runner (tests script it).
// File names cross between Qt and the program as UTF-8 (QFile::encodeName/decodeName).
//
// Settings: the interface's preferences in the user's INI settings file (organisation
// "TORBANE GmbH", application "Kalvex"; on Linux ~/.config/TORBANE GmbH/Kalvex.ini). Every
// accessor opens the file, reads or writes its keys and closes it again, so a change is on
// disk when the call returns. Missing keys read as their defaults. Tracking data never goes
// here; it lives in project files.
//
// Style sheets and helpers: the platform's style sheet (a resource), generated style
// sheets for progress bars, segment buttons and colour swatches, the combo-box and
// colour-button helpers, the release kinds' names and the page help texts.
//
// Update check: asks the maker's server for "/version_info.xml" without blocking and tells
// the user about a newer version of this product. An automatic check never shows a failure
// (no network, an error page, an unreadable answer); a manual one always answers.
//
// Threads: interface thread only.
#pragma once

#include <QByteArray>
#include <QColor>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

#include <compare>

#include "foundation/runtime/shared_ptr.h"

class PackedStringList;
class QComboBox;
class QFileDialog;
class QMessageBox;
class QNetworkAccessManager;
class QNetworkReply;
class QWidget;

namespace uic {
class Controller;
class MetaCTracker;
}  // namespace uic

// Shows qExtras' dialogs modally; tests replace it to answer them.
class qDialogRunner {
 public:
  virtual ~qDialogRunner() = default;
  // The chosen file (the first selected one) when the dialog was accepted, else empty.
  virtual QString runFileDialog(QFileDialog& dialog);
  // The button pressed (a QMessageBox::StandardButton; 0 when none).
  virtual int runMessageBox(QMessageBox& box);
};

// A program version, ordered as the tuple (major, minor, patch): 1.10.0 < 2.0.0.
struct qReleaseVersion {
  int major = 0;
  int minor = 0;
  int patch = 0;
  auto operator<=>(const qReleaseVersion&) const = default;
};

// One entry of a version-info answer that names this product.
struct qUpdateOffer {
  enum Relation { kOlder, kSame, kNewer };  // the offered version against the running one
  Relation relation = kOlder;
  // Read only for a newer version:
  QString version;  // the text to show ("VersionString")
  QString link;     // the download address
  QString notes;    // "\n- " and the note, for every note of the interface language
};

// A version-info answer as read. Unreadable (not well-formed XML, or empty) answers carry
// no offers.
struct qVersionInfo {
  bool readable = false;
  QList<qUpdateOffer> offers;  // in document order
};

// Reads a version-info document: every `product` element whose `name` is product (exact)
// becomes an offer; its `major`, `minor` and `maintenance` attributes (missing or not a
// number: 0) are compared with running. The notes come from the `En` (language 1) or `De`
// (language 2) child of `ReleaseNotes`; any other language gives none. Unknown elements
// are skipped with everything inside them.
qVersionInfo parseVersionInfo(const QByteArray& xml, const QString& product,
                              const qReleaseVersion& running, int language);

class qExtras : public QObject {
  Q_OBJECT

 public:
  // ---- file actions (interface thread)
  // The process-wide object, made on first use and never destroyed.
  static qExtras* instance();

  // Opens a project file chosen in a dialog into a new tracker, which replaces the current
  // one. Asks first whether to save changes when the current tracker has images. True when
  // a project was opened.
  bool openProject();
  // Saves the current project as a text project under the project path, or asks for a
  // name (saveProjectAs) when there is none. True when saved; the modified flag is then
  // cleared. A failure is shown to the user and leaves the flag as it was.
  bool saveProject();
  // Asks for a name ("kpz" appended when missing) and saves there; true when saved. The
  // project path changes only when the save succeeded.
  bool saveProjectAs();
  // 0 when the project is not modified. Otherwise asks Yes / No / Cancel and returns the
  // QMessageBox button; Yes saves first, and a save that fails or is cancelled makes the
  // answer Cancel, so the caller stops.
  int askToSaveProject();
  // Lets the user pick any file of the moved sequence; its whole numbered sequence gives
  // the tracker's images their new names.
  void relocateSequenceImages(uic::MetaCTracker* tracker);
  // Empties the project path (a new sequence is a new, unsaved project), asks to save
  // changes, then lets the user pick a file of the new sequence. True, with the whole
  // numbered sequence in list, when one was found.
  bool loadSequence(SharedPtr<PackedStringList>& list);
  void setProjectPath(const QString& path) { m_project_path = path; }
  // The current project's file; empty when it was never saved.
  const QString& projectPath() const { return m_project_path; }

  // The runner of every dialog and message box; null restores the default (exec). Not
  // owned.
  static void setDialogRunner(qDialogRunner* runner);
  // Runs a message box through the current runner; the button pressed.
  static int runMessageBox(QMessageBox& box);

  // ---- interface settings
  // Interface language: 1 English (default), 2 German.
  static int readUiLanguage();
  static void writeUiLanguage(int language);
  // Show the program's icon in the system tray (default on).
  static bool readUseTrayIcon();
  static void writeUseTrayIcon(bool use);
  // Look for a newer version when the main window is built (default on).
  static bool readAutoCheckForUpdates();
  static void writeAutoCheckForUpdates(bool check);
  // Start directory of the project and sequence file dialogs (default empty).
  static QString readFileDialogDirectory();
  // The file dialogs' side-bar places, as many as the stored count says; an entry missing
  // from the file reads as an empty URL.
  static QList<QUrl> readFileDialogSidebarUrls();
  // Stores the directory, the places under indices 0, 1, ... and then their count. Entries
  // of an earlier, longer list stay in the file beyond the count and are not read again.
  static void writeFileDialogSettings(const QString& directory, const QList<QUrl>& places);
  // A file dialog of a window: given caption and filter, Qt's own dialog with the platform
  // style sheet, starting in the stored directory with the stored side-bar places (when
  // any), run through the dialog runner. Stores nothing: the caller remembers the place
  // when it uses the file. The chosen file or empty.
  static QString runRememberedFileDialog(QFileDialog& dialog, const QString& caption,
                                         const QString& filter);

  // ---- style sheets
  // The whole text of the platform's style sheet resource; empty when it cannot be read.
  static QString platformStyleSheet();
  // Kind 1: a progress bar (red background when error is set); 2, 3, 4: the first, a
  // middle and the last segment of a row of push buttons (error ignored). Empty for other
  // kinds.
  static QString progressBarStyleSheet(int kind, bool error);
  // A colour-swatch push button showing colour ("#rrggbb", lower case).
  static QString colorButtonStyleSheet(const QColor& colour);
  // Sets the Button role of the widget's palette to colour in the active, inactive and
  // disabled groups; nothing for a null widget.
  static void setButtonColor(QWidget* widget, const QColor& colour);
  // A colour-swatch button showing colour: its palette and its style sheet.
  static void showColorSwatch(QWidget* button, const QColor& colour);
  // The Button role's colour of the widget's palette in its current group.
  static QColor buttonColor(const QWidget* widget);

  // ---- combo boxes (every item carries its value as Qt::UserRole data)
  // The current item's value; for an editable combo box whose item has no such value, its
  // text read as a number, stored even when the text is not one. False for a null value
  // pointer or when neither converts.
  static bool comboCurrentInt(int* value, const QComboBox* combo);
  static bool comboCurrentDouble(double* value, const QComboBox* combo);
  // Makes the first item whose value lies within 1e-4 of value current, with the combo
  // box's signals blocked during the change when block is set; nothing without a match.
  static void selectComboByValue(QComboBox* combo, double value, bool block);

  // ---- texts
  // The name of the release kind: "Alpha Release", "Beta Release", "Release Candidate",
  // "Final Release", else "unknown".
  static QString releaseKindName();
  // The rich help text of tool page 1 to 6, the About text (7) and the focal (8) and
  // locator (9) tool help; empty for any other index.
  static QString pageHelpText(int index);

  // ---- update check (interface thread)
  // Sends the request and returns at once; the answer is handled when it arrives. An
  // automatic check (manual false) sends nothing while automatic checks are switched off.
  // A second check before the first answer replaces the manual flag for both answers. The
  // request gives up after 30 s, and an answer over 1 MiB counts as failed.
  void checkForUpdates(bool manual);
  // Drops a check still under way, answer unread, and ends the network's own threads. Call
  // before the application object goes: a name lookup still running after it crashes the
  // program on its way out. A later check starts afresh.
  void endUpdateChecks();
  // The server asked, scheme and host (default "https://www.torbane.de"); the request goes
  // to its path "/version_info.xml".
  static QString readUpdateServer();
  static void writeUpdateServer(const QString& server);

 Q_SIGNALS:
  // A newer version, with its version text; sent after the user has closed its box.
  void updateAvailable(QString version);
  // An answer (or a failure) of a check was handled, boxes included.
  void updateCheckFinished();

 public Q_SLOTS:
  // Shows a newer version of this product; on a manual check also "up to date" or that the
  // check failed. Deletes the reply later.
  void handleUpdateCheckResponse(QNetworkReply* reply);

 private:
  qExtras();
  // A dialog of the given caption and filter; "remembered" dialogs start in the stored
  // directory with the stored side-bar places.
  static void prepareFileDialog(QFileDialog& dialog, const QString& caption, const QString& filter,
                                bool remembered);
  // Runs a prepared dialog; a remembered one stores its directory and places afterwards,
  // accepted or not. The chosen file or empty.
  static QString runFileDialog(QFileDialog& dialog, bool remembered);
  // The file dialog of a new sequence or a relocation.
  static QString chooseSequenceFile(bool remembered);
  bool saveProjectTo(const QString& path);
  // The current tracker when its project may be replaced: null without one, or when the
  // question to save changes (asked only when it has images) was cancelled.
  uic::MetaCTracker* trackerToReplace();

  uic::Controller* m_controller;
  SharedPtr<PackedStringList> m_relocation_list;
  SharedPtr<PackedStringList> m_sequence_list;
  QString m_project_path;
  QNetworkAccessManager* m_network = nullptr;  // made by the first check, owned
  bool m_manual_check = false;
};

// Appends "." and suffix to name, and prints the new name on its own line on the standard
// output, when name's suffix (after the last dot of its file part) is not exactly suffix
// (case matters).
void appendMissingSuffix(const QString& suffix, QString& name);

// The current item's int value (Qt::UserRole data) without falling back to an edited
// text. False for a null pointer or an item without an int value.
bool currentComboInt(int* value, const QComboBox* combo);
// Makes the first item whose int value equals value current, with the combo box's signals
// blocked during the change when quiet is set. False, and no change, without a match.
bool selectComboByInt(QComboBox* combo, int value, bool quiet);
