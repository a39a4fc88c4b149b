// The style sheets, widget helpers and texts of qExtras.
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPalette>
#include <QSignalBlocker>
#include <QStringList>
#include <QVariant>
#include <QWidget>
#include <cmath>

#include "app/qt/q_extras.h"
#include "foundation/runtime/product_info.h"

// The resources live in a static library: their registration must be referenced.
static void InitResources() {
  Q_INIT_RESOURCE(kalvex);
}

namespace {

#if defined(Q_OS_WIN)
const char kStyleSheetResource[] = ":/resource/kalvex_win.qss";
#elif defined(Q_OS_MACOS)
const char kStyleSheetResource[] = ":/resource/kalvex_osx.qss";
#else
const char kStyleSheetResource[] = ":/resource/kalvex_linux.qss";
#endif

// Makes the first item that matches current (with the signals blocked when quiet); false
// without a match.
template <class Matches>
bool SelectFirst(QComboBox* combo, bool quiet, Matches matches) {
  if (combo == nullptr) return false;
  for (int i = 0; i < combo->count(); ++i) {
    if (!matches(combo->itemData(i, Qt::UserRole))) continue;
    const QSignalBlocker blocker(quiet ? combo : nullptr);
    combo->setCurrentIndex(i);
    return true;
  }
  return false;
}

// For an editable combo box, its text read as a number, stored even when it is not one.
template <class T, class Convert>
bool EditedValue(T* value, const QComboBox* combo, Convert convert) {
  if (!combo->isEditable() || combo->lineEdit() == nullptr) return false;
  bool ok = false;
  *value = convert(combo->lineEdit()->text(), &ok);
  return ok;
}

// One segment button of a row; the separator run between declarations is part of the text.
QString SegmentStyleSheet(bool round_left, bool round_right, bool right_border) {
  const QString gap = QStringLiteral("\t\t\t\t\t   ");
  QString s = QStringLiteral("QPushButton{") + gap + "background-color: #A0A0A0;" + gap +
              "border: 1px solid gray;" + gap +
              "border-top-left-radius: " + (round_left ? "5px;" : "0px;") + gap +
              "border-top-right-radius: " + (round_right ? "5px;" : "0px;") + gap +
              "border-bottom-left-radius: 0px;" + gap + "border-bottom-right-radius: 0px;" + gap +
              "border-bottom: 0px;" + gap;
  if (!right_border) s += QStringLiteral("border-right: 0px;") + gap;
  s += QStringLiteral("padding: 2px;") + gap + "}" + gap + "QPushButton:pressed{" + gap +
       "border: 2px solid gray;" + gap + "padding: 2px;" + gap + "}";
  return s;
}

QString HexComponent(int component) {
  return QStringLiteral("%1").arg(component, 2, 16, QLatin1Char('0'));
}

// The people named in the About text.
const char* const kTeam[] = {"The Kalvex development team"};

const char kToolParagraph[] =
    "<p align=\"justify\" style=\" margin-top:0px; margin-bottom:0px; margin-left:0px; "
    "margin-right:0px; -qt-block-indent:0; text-indent:0px;\">";
const char kToolFiller[] =
    "Lorem ipsum dolor sit amet, consetetur sadipscing elitr, sed diam nonumy eirmod tempor "
    "invidunt ut labore et dolore magna aliquyam erat, sed diam voluptua. At vero eos et "
    "accusam et justo duo dolores et ea rebum.";

QString AboutText() {
  const CompanyInfo& company = ProductInfo::GetCompanyInfo();
  const auto text = [](const std::string& s) { return QString::fromStdString(s); };
  QString s = QStringLiteral("<center>Version: ") + text(ProductInfo::GetVersionString()) + "<br>";
  if (ProductInfo::GetReleaseKind() != ProductInfo::kFinal) {
    s += qExtras::releaseKindName() + "<br>";
  }
  s += QStringLiteral("</center>") + "<br>" + "<h3>" + text(company.company_name) + "</h3>" +
       text(company.street) + "<br>" + text(company.postal_code) + " " + text(company.city) + ", " +
       text(company.country) + "<br>" + text(company.web_address) + "<br>" +
       text(company.email_address) + "<br>" + "<h3> Team: </h3>";
  QStringList team;
  for (const char* name : kTeam) team << QString::fromUtf8(name);
  return s + team.join(QStringLiteral("<br>"));
}

QString ToolHelpText(const char* title) {
  return QStringLiteral("<b>") + QString::fromUtf8(title) + "</b>" + "<br>" +
         QString::fromUtf8(kToolParagraph) + QString::fromUtf8(kToolFiller) + "</p>";
}

}  // namespace

QString qExtras::platformStyleSheet() {
  InitResources();
  QFile file(QString::fromLatin1(kStyleSheetResource));
  if (!file.open(QIODevice::ReadOnly)) return QString();
  return QString::fromUtf8(file.readAll());
}

QString qExtras::progressBarStyleSheet(int kind, bool error) {
  switch (kind) {
    case 1: {
      const QString gap = QStringLiteral("\t\t\t\t\t\t\t");
      const QString before_background =
          error ? gap : QStringLiteral("                            ");  // 28 blanks
      return QStringLiteral("QProgressBar {") + gap + "border: 1px solid gray;" + gap +
             "border-radius: 5px;" + gap + "color: #F0F0F0;" + gap + "text-align: center;" +
             before_background + "background-color: " + (error ? "#FF0000;" : "#404040;") +
             "\t\t\t\t\t\t}\t\t\t\t\t\tQProgressBar::chunk {\t\t\t\t\t\t    "
             "background-color: #408060;\t\t\t\t\t\t\twidth: 2px;\t\t\t\t\t\t}";
    }
    case 2:
      return SegmentStyleSheet(true, false, false);
    case 3:
      return SegmentStyleSheet(false, false, false);
    case 4:
      return SegmentStyleSheet(false, true, true);
    default:
      return QString();
  }
}

QString qExtras::colorButtonStyleSheet(const QColor& colour) {
  QString code;
  if (colour.isValid()) {
    code = HexComponent(colour.red()) + HexComponent(colour.green()) + HexComponent(colour.blue());
  }
  return QStringLiteral(
             "QPushButton{\t\t\t\t   border: 1px solid darkgray;\t\t\t\t   "
             "background-color: #") +
         code +
         ";\t\t\t\t   border-radius: 3px;\t\t\t\t   }\t\t\t\t   QPushButton:pressed{\t\t\t\t"
         "   border: 2px solid black;\t\t\t\t   }";
}

void qExtras::setButtonColor(QWidget* widget, const QColor& colour) {
  if (widget == nullptr) return;
  QPalette palette = widget->palette();
  const QBrush brush(colour, Qt::SolidPattern);
  for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    palette.setBrush(group, QPalette::Button, brush);
  }
  widget->setPalette(palette);
}

QColor qExtras::buttonColor(const QWidget* widget) {
  if (widget == nullptr) return QColor();
  return widget->palette().color(QPalette::Button);
}

bool qExtras::comboCurrentInt(int* value, const QComboBox* combo) {
  if (value == nullptr || combo == nullptr) return false;
  if (currentComboInt(value, combo)) return true;
  return EditedValue(value, combo, [](const QString& text, bool* ok) { return text.toInt(ok); });
}

bool qExtras::comboCurrentDouble(double* value, const QComboBox* combo) {
  if (value == nullptr || combo == nullptr) return false;
  bool ok = false;
  const double data = combo->currentData(Qt::UserRole).toDouble(&ok);
  if (ok) {
    *value = data;
    return true;
  }
  return EditedValue(value, combo, [](const QString& text, bool* ok) { return text.toDouble(ok); });
}

void qExtras::selectComboByValue(QComboBox* combo, double value, bool block) {
  SelectFirst(combo, block, [value](const QVariant& data) {
    bool ok = false;
    const double d = data.toDouble(&ok);
    return ok && std::fabs(d - value) < 1e-4;
  });
}

QString qExtras::releaseKindName() {
  switch (ProductInfo::GetReleaseKind()) {
    case ProductInfo::kAlpha:
      return QStringLiteral("Alpha Release");
    case ProductInfo::kBeta:
      return QStringLiteral("Beta Release");
    case ProductInfo::kReleaseCandidate:
      return QStringLiteral("Release Candidate");
    case ProductInfo::kFinal:
      return QStringLiteral("Final Release");
    default:
      return QStringLiteral("unknown");
  }
}

QString qExtras::pageHelpText(int index) {
  switch (index) {
    case 1:
      return QStringLiteral(
          "Load an image sequence<br>\t\tSelect interlacing<br>\t\tSelect start and end image of "
          "sequence to track");
    case 2:
      return QStringLiteral(
          "Adjust radial lens distortion with slider or Ctrl + left mouse button<br>\t\tAdd "
          "reference lines to verifiy distortion parameter<br>\t\t<table>\t\t<tr><th>Key</"
          "th><th>Action</th></tr>\t\t<tr><td>l</td><td>add new reference line</td></"
          "tr>\t\t<tr><td>h</td><td>toggle distortion</td></tr>\t\t</table>");
    case 3:
      return QStringLiteral(
          "a) click \"New\" to begin a new mask<br>\t\tb) click into image to define mask "
          "vertices<br>\t\tc) click at first vertex or button \"Close\" to close the "
          "mask<br>\t\t\t\tEditing options:<br>\t\t- mask vertices can be dragged<br>\t\t- a "
          "mask can be shifted as a whole<br>\t\t- selected vertices can be scaled by the mouse "
          "wheel<br>");
    case 4:
      return QStringLiteral(
          "a) Select camera motion: free move or pure rotation for cameras on a "
          "tripod<br>\t\tb) Start tracking, where the final refinement step can be "
          "skipped<br>\t\tc) Apply the final refinement "
          "separately<br>\t\t<table>\t\t<tr><th>Key</th><th>Action</th></tr>\t\t<tr><td>f</"
          "td><td>toggle 2D features and tracks</td></tr>\t\t<tr><td>d</td><td>toggle 3D "
          "points</td></tr>\t\t</table>");
    case 5:
      return QStringLiteral(
          "a) Add test objects to the scene. Selected 3D points are used to place "
          "objects<br>\t\tb) The view can be locked to selected 2D or 3D points<br>\t\tc) "
          "Adjust the scene relative to the world coordinate system of the ground "
          "grid<br>\t\t<table>\t\t<tr><th>Key</th><th>Action</th></tr>\t\t<tr><td>v</"
          "td><td>toggle image/scene view</td></tr>\t\t<tr><td>x</td><td>toggle scene "
          "manipulation</td></tr>\t\t<tr><td>a</td><td>toggle viewports</td></"
          "tr>\t\t<tr><td>d</td><td>toggle 3D points</td></tr>\t\t<tr><td>g</td><td>toggle "
          "grid</td></tr>\t\t<tr><td>s</td><td>add cone</td></tr>\t\t<tr><td>p</td><td>add "
          "plane</td></tr>\t\t</table>");
    case 6:
      return QStringLiteral(
          "a) Select export format and save the camera track and 3D points<br>\t\tb) Limit the "
          "number of exported 3D points<br>\t\tc) Save undistorted (equalized) image sequence "
          "as they are displayed");
    case 7:
      return AboutText();
    case 8:
      return ToolHelpText("Focal Tool");
    case 9:
      return ToolHelpText("Locator Tool");
    default:
      return QString();
  }
}

bool currentComboInt(int* value, const QComboBox* combo) {
  if (value == nullptr || combo == nullptr) return false;
  bool ok = false;
  const int data = combo->currentData(Qt::UserRole).toInt(&ok);
  if (ok) *value = data;
  return ok;
}

bool selectComboByInt(QComboBox* combo, int value, bool quiet) {
  // Numeric comparison: an item holding 1.5 does not equal 1.
  return SelectFirst(combo, quiet,
                     [value](const QVariant& data) { return data == QVariant(value); });
}

void qExtras::showColorSwatch(QWidget* button, const QColor& colour) {
  setButtonColor(button, colour);
  button->setStyleSheet(colorButtonStyleSheet(colour));
}
