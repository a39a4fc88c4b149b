// qExtras: the interface services that belong to no window.
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
// Threads: interface thread only.
#pragma once

#include <QColor>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

class QComboBox;
class QWidget;

class qExtras : public QObject {
  Q_OBJECT

 public:
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
};

// The current item's int value (Qt::UserRole data) without falling back to an edited
// text. False for a null pointer or an item without an int value.
bool currentComboInt(int* value, const QComboBox* combo);
// Makes the first item whose int value equals value current, with the combo box's signals
// blocked during the change when quiet is set. False, and no change, without a match.
bool selectComboByInt(QComboBox* combo, int value, bool quiet);
