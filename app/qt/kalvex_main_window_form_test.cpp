// The main window's designer form: the widget tree setupUi builds, compared row by row with
// a checked-in table (testdata/kalvex_main_window_form.txt), and the translation context of
// its texts.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFrame>
#include <QGroupBox>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMetaEnum>
#include <QMetaProperty>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QSet>
#include <QSlider>
#include <QSpinBox>
#include <QSplitter>
#include <QStackedWidget>
#include <QStringList>
#include <QTabWidget>
#include <QTextEdit>
#include <QTextStream>
#include <QToolBox>
#include <QToolButton>
#include <QTranslator>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/qt/ui_kalvex_main_window.h"

// The form's pictures live in the static Qt library: their registration must be referenced.
static void InitFormResources() {
  Q_INIT_RESOURCE(main_window);
}

namespace {

constexpr int kMaxSize = 16777215;  // QWIDGETSIZE_MAX

QString Quoted(const QString& text) {
  return QLatin1Char('"') + text + QLatin1Char('"');
}

QString OnOff(bool on) {
  return on ? QStringLiteral("on") : QStringLiteral("off");
}

QString Number(double value) {
  return QString::number(value, 'g', 10);
}

// The checked-in table, section by section; each row split into trimmed cells.
using Rows = std::vector<QStringList>;

std::map<QString, Rows> ReadTable() {
  std::map<QString, Rows> sections;
  QFile file(QStringLiteral(KALVEX_SOURCE_DIR "/app/qt/testdata/kalvex_main_window_form.txt"));
  EXPECT_TRUE(file.open(QIODevice::ReadOnly | QIODevice::Text)) << "missing form table";
  QTextStream in(&file);
  in.setEncoding(QStringConverter::Utf8);
  QString section;
  while (!in.atEnd()) {
    const QString line = in.readLine().trimmed();
    if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) continue;
    if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
      section = line.mid(1, line.size() - 2);
      continue;
    }
    QStringList cells = line.split(QStringLiteral(" | "));
    for (QString& cell : cells) cell = cell.trimmed();
    sections[section].push_back(cells);
  }
  return sections;
}

// Names a picture by the resource it came from, comparing rendered images; "none" for a
// null icon, "?" for a picture no resource holds.
class ResourcePictures {
 public:
  ResourcePictures() {
    const QDir dir(QStringLiteral(":/resource"));
    for (const QString& name : dir.entryList(QDir::Files)) {
      if (name.endsWith(QLatin1String(".png")) || name.endsWith(QLatin1String(".xpm"))) {
        names_ << name;
      }
    }
  }

  QString NameOf(const QIcon& icon, QIcon::Mode mode = QIcon::Normal,
                 QIcon::State state = QIcon::Off) const {
    if (icon.isNull()) return QStringLiteral("none");
    const QImage image = Render(icon, mode, state);
    // A picture given for the state shows as it is; otherwise Qt derives one from the normal
    // picture (a tint for the selected mode).
    for (const QString& name : names_) {
      const QIcon candidate(QStringLiteral(":/resource/") + name);
      if (Render(candidate, QIcon::Normal, QIcon::Off) == image ||
          Render(candidate, mode, state) == image) {
        return name;
      }
    }
    return QStringLiteral("?");
  }

  // The normal picture plus the states whose picture is another resource.
  QString Describe(const QIcon& icon) const {
    const QString normal = NameOf(icon);
    QString text = normal;
    const struct {
      const char* label;
      QIcon::Mode mode;
      QIcon::State state;
    } others[] = {{"on", QIcon::Normal, QIcon::On},
                  {"active", QIcon::Active, QIcon::Off},
                  {"selected", QIcon::Selected, QIcon::Off}};
    for (const auto& other : others) {
      const QString name = NameOf(icon, other.mode, other.state);
      if (name != normal) text += QLatin1Char(' ') + other.label + QLatin1Char(':') + name;
    }
    return text;
  }

  QString NameOf(const QPixmap& pixmap) const {
    if (pixmap.isNull()) return QStringLiteral("-");
    const QImage image = pixmap.toImage();
    for (const QString& name : names_) {
      if (QPixmap(QStringLiteral(":/resource/") + name).toImage() == image) return name;
    }
    return QStringLiteral("?");
  }

 private:
  static QImage Render(const QIcon& icon, QIcon::Mode mode, QIcon::State state) {
    return icon.pixmap(QSize(16, 16), mode, state).toImage();
  }

  QStringList names_;
};

// A fresh widget of the same kind, for telling set properties from defaults; custom widgets
// are measured against their Qt base.
std::unique_ptr<QWidget> FreshWidget(const QString& kind) {
  static const std::map<QString, std::function<QWidget*()>> makers = {
      {"QWidget", [] { return new QWidget; }},
      {"qViewer", [] { return new QWidget; }},
      {"qTimebar", [] { return new QWidget; }},
      {"qScrubSlider", [] { return new QSlider; }},
      {"QSplitter", [] { return new QSplitter; }},
      {"QFrame", [] { return new QFrame; }},
      {"QToolBox", [] { return new QToolBox; }},
      {"QTabWidget", [] { return new QTabWidget; }},
      {"QStackedWidget", [] { return new QStackedWidget; }},
      {"QToolButton", [] { return new QToolButton; }},
      {"QPushButton", [] { return new QPushButton; }},
      {"QCheckBox", [] { return new QCheckBox; }},
      {"QGroupBox", [] { return new QGroupBox; }},
      {"QLabel", [] { return new QLabel; }},
      {"QComboBox", [] { return new QComboBox; }},
      {"QLineEdit", [] { return new QLineEdit; }},
      {"QSpinBox", [] { return new QSpinBox; }},
      {"QDoubleSpinBox", [] { return new QDoubleSpinBox; }},
      {"QSlider", [] { return new QSlider; }},
      {"QProgressBar", [] { return new QProgressBar; }},
      {"QTextEdit", [] { return new QTextEdit; }},
  };
  const auto it = makers.find(kind);
  return std::unique_ptr<QWidget>(it == makers.end() ? nullptr : it->second());
}

QString PropertyText(const QMetaProperty& property, const QVariant& value) {
  if (property.isEnumType()) {
    const QMetaEnum meta = property.enumerator();
    return meta.isFlag() ? QString::fromLatin1(meta.valueToKeys(value.toInt())).replace('|', '+')
                         : QString::fromLatin1(meta.valueToKey(value.toInt()));
  }
  if (value.metaType() == QMetaType::fromType<QSizePolicy>()) {
    const QSizePolicy policy = value.value<QSizePolicy>();
    const QMetaEnum meta = QMetaEnum::fromType<QSizePolicy::Policy>();
    return QString::fromLatin1(meta.valueToKey(policy.horizontalPolicy())) + QLatin1Char('/') +
           QString::fromLatin1(meta.valueToKey(policy.verticalPolicy()));
  }
  if (value.metaType() == QMetaType::fromType<double>()) return Number(value.toDouble());
  return value.toString();
}

// The form settings that the other columns do not show, where they differ from the default.
QString Settings(const QWidget* widget) {
  static const char* const kNames[] = {"alignment",       "buttonSymbols", "contextMenuPolicy",
                                       "frameShadow",     "frameShape",    "layoutDirection",
                                       "pageStep",        "popupMode",     "readOnly",
                                       "singleStep",      "sizePolicy",    "textInteractionFlags",
                                       "toolButtonStyle", "arrowType",     "flat",
                                       "textVisible"};
  const std::unique_ptr<QWidget> fresh = FreshWidget(widget->metaObject()->className());
  if (!fresh) return QStringLiteral("no default for this kind");
  QStringList tokens;
  // A slider's or splitter's orientation brings its own size policy: the policy counts as set
  // only where it differs from the one the orientation gives.
  const QVariant orientation = widget->property("orientation");
  if (orientation.isValid() && orientation != fresh->property("orientation")) {
    tokens << QStringLiteral("orientation=") +
                  PropertyText(widget->metaObject()->property(
                                   widget->metaObject()->indexOfProperty("orientation")),
                               orientation);
    fresh->setProperty("orientation", orientation);
  }
  for (const char* name : kNames) {
    const int index = widget->metaObject()->indexOfProperty(name);
    if (index < 0) continue;
    const QMetaProperty property = widget->metaObject()->property(index);
    const QString value = PropertyText(property, widget->property(name));
    if (value == PropertyText(property, fresh->property(name))) continue;
    tokens << QString::fromLatin1(name) + QLatin1Char('=') + value;
  }
  tokens.sort();
  return tokens.isEmpty() ? QStringLiteral("-") : tokens.join(QLatin1Char(' '));
}

// Qt names its own inner widgets "qt_..." or leaves them unnamed, except the tab bar's
// scroll buttons.
bool IsFormName(const QString& name) {
  return !name.isEmpty() && !name.startsWith(QLatin1String("qt_")) &&
         name != QLatin1String("ScrollLeftButton") && name != QLatin1String("ScrollRightButton");
}

QString NamedParent(const QWidget* widget) {
  for (const QWidget* parent = widget->parentWidget(); parent; parent = parent->parentWidget()) {
    if (IsFormName(parent->objectName())) return parent->objectName();
  }
  return QStringLiteral("-");
}

QString SizeText(const QSize& size, const QSize& default_size) {
  if (size == default_size) return QStringLiteral("-");
  return QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
}

// What a spin box shows for its value once on screen (its line edit is filled only then).
template <class SpinBox>
QString SpinText(const SpinBox* spin, const QString& number) {
  if (spin->value() == spin->minimum() && !spin->specialValueText().isEmpty()) {
    return spin->specialValueText();
  }
  return spin->prefix() + number + spin->suffix();
}

// One table row for a widget, in the table's column order.
QStringList Describe(const QWidget* widget, const ResourcePictures& pictures) {
  QString text = QStringLiteral("-");
  QString range = QStringLiteral("-");
  QString value = QStringLiteral("-");
  QString check = QStringLiteral("-");
  QString icon = QStringLiteral("-");
  if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) {
    text = Quoted(button->text());
    if (button->isCheckable()) check = button->isChecked() ? "checked" : "unchecked";
    if (!button->icon().isNull()) icon = pictures.Describe(button->icon());
  } else if (const auto* label = qobject_cast<const QLabel*>(widget)) {
    text = Quoted(label->text());
    icon = pictures.NameOf(label->pixmap());
  } else if (const auto* group = qobject_cast<const QGroupBox*>(widget)) {
    text = Quoted(group->title());
    if (group->isCheckable()) check = group->isChecked() ? "checked" : "unchecked";
  } else if (const auto* edit = qobject_cast<const QLineEdit*>(widget)) {
    text = Quoted(edit->text());
  } else if (const auto* spin = qobject_cast<const QSpinBox*>(widget)) {
    text = Quoted(SpinText(spin, QString::number(spin->value())));
    range = QStringLiteral("%1:%2").arg(spin->minimum()).arg(spin->maximum());
    value = QString::number(spin->value());
  } else if (const auto* dspin = qobject_cast<const QDoubleSpinBox*>(widget)) {
    text = Quoted(SpinText(dspin, QString::number(dspin->value(), 'f', dspin->decimals())));
    range = Number(dspin->minimum()) + QLatin1Char(':') + Number(dspin->maximum());
    value = Number(dspin->value());
  } else if (const auto* slider = qobject_cast<const QAbstractSlider*>(widget)) {
    range = QStringLiteral("%1:%2").arg(slider->minimum()).arg(slider->maximum());
    value = QString::number(slider->value());
  } else if (const auto* progress = qobject_cast<const QProgressBar*>(widget)) {
    range = QStringLiteral("%1:%2").arg(progress->minimum()).arg(progress->maximum());
    value = QString::number(progress->value());
  } else if (const auto* combo = qobject_cast<const QComboBox*>(widget)) {
    value = QString::number(combo->count());
  } else if (const auto* toolbox = qobject_cast<const QToolBox*>(widget)) {
    value = QString::number(toolbox->currentIndex());
  } else if (const auto* tabs = qobject_cast<const QTabWidget*>(widget)) {
    value = QString::number(tabs->currentIndex());
  } else if (const auto* stack = qobject_cast<const QStackedWidget*>(widget)) {
    value = QString::number(stack->currentIndex());
  }
  return {widget->objectName(),
          QString::fromLatin1(widget->metaObject()->className()),
          NamedParent(widget),
          text,
          Quoted(widget->toolTip()),
          OnOff(!widget->testAttribute(Qt::WA_ForceDisabled)),
          widget->isHidden() ? QStringLiteral("hidden") : QStringLiteral("shown"),
          range,
          value,
          check,
          SizeText(widget->minimumSize(), QSize(0, 0)),
          SizeText(widget->maximumSize(), QSize(kMaxSize, kMaxSize)),
          icon,
          Settings(widget)};
}

// Compares two row sets keyed by their first cell; every difference is one failure that
// shows both rows.
void CompareRows(const char* what, const Rows& expected, const Rows& actual) {
  std::map<QString, QStringList> by_name;
  for (const QStringList& row : actual) by_name[row.value(0)] = row;
  QSet<QString> seen;
  for (const QStringList& row : expected) {
    const QString name = row.value(0);
    seen.insert(name);
    const auto it = by_name.find(name);
    if (it == by_name.end()) {
      ADD_FAILURE() << what << ": missing " << name.toStdString();
      continue;
    }
    if (row != it->second) {
      ADD_FAILURE() << what
                    << " row differs\n  table: " << row.join(QStringLiteral(" | ")).toStdString()
                    << "\n  form:  " << it->second.join(QStringLiteral(" | ")).toStdString();
    }
  }
  for (const auto& [name, row] : by_name) {
    if (!seen.contains(name)) {
      ADD_FAILURE() << what
                    << ": not in the table: " << row.join(QStringLiteral(" | ")).toStdString();
    }
  }
}

class MainWindowFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitFormResources();
    form_.setupUi(&window_);
  }

  QMainWindow window_;
  Ui::KalvexMainWindow form_;
  ResourcePictures pictures_;
  std::map<QString, Rows> table_ = ReadTable();
};

TEST_F(MainWindowFormTest, WidgetTreeMatchesTheTable) {
  Rows actual;
  for (const QWidget* widget : window_.findChildren<QWidget*>()) {
    // The promoted widgets' insides are their own forms, not this one.
    const QWidget* parent = widget->parentWidget();
    if (parent != nullptr &&
        (form_.m_timeline->isAncestorOf(parent) || form_.m_viewer->isAncestorOf(parent))) {
      continue;
    }
    if (IsFormName(widget->objectName())) actual.push_back(Describe(widget, pictures_));
  }
  ASSERT_FALSE(table_["widgets"].empty());
  CompareRows("widget", table_["widgets"], actual);
}

TEST_F(MainWindowFormTest, WindowPagesTabsAndActions) {
  EXPECT_EQ(window_.objectName(), QStringLiteral("KalvexMainWindow"));
  EXPECT_EQ(window_.size(), QSize(984, 852));
  EXPECT_EQ(window_.windowTitle(), QStringLiteral("Kalvex"));
  EXPECT_EQ(window_.centralWidget(), form_.centralwidget);
  EXPECT_EQ(form_.m_toolbox->currentIndex(), 3) << "the window's reset turns to page 0";

  Rows pages;
  for (int i = 0; i < form_.m_toolbox->count(); ++i) {
    pages.push_back({QString::number(i), form_.m_toolbox->widget(i)->objectName(),
                     Quoted(form_.m_toolbox->itemText(i)),
                     pictures_.NameOf(form_.m_toolbox->itemIcon(i))});
  }
  CompareRows("page", table_["pages"], pages);

  Rows tabs;
  for (int i = 0; i < form_.m_info_tw->count(); ++i) {
    tabs.push_back({QString::number(i), form_.m_info_tw->widget(i)->objectName(),
                    Quoted(form_.m_info_tw->tabText(i))});
  }
  CompareRows("tab", table_["tabs"], tabs);

  // An action without a tool tip of its own shows its text: the table leaves it empty.
  Rows actions;
  for (QAction* action : window_.findChildren<QAction*>(QString(), Qt::FindDirectChildrenOnly)) {
    if (!IsFormName(action->objectName())) continue;
    const QString tip = action->toolTip() == action->text() && !action->text().isEmpty()
                            ? QString()
                            : action->toolTip();
    actions.push_back({action->objectName(), Quoted(action->text()), Quoted(tip),
                       pictures_.NameOf(action->icon())});
  }
  Rows expected_actions = table_["actions"];
  for (QStringList& row : expected_actions) {
    if (row.value(1) == row.value(2)) row[2] = Quoted(QString());
  }
  CompareRows("action", expected_actions, actions);
  EXPECT_EQ(actions.size(), 8u);
}

// Records the contexts each text is asked for in.
class ContextRecorder : public QTranslator {
 public:
  QString translate(const char* context, const char* source, const char* disambiguation,
                    int n) const override {
    (void)disambiguation;
    (void)n;
    contexts[QString::fromUtf8(source)].insert(QString::fromLatin1(context));
    return QString();
  }
  bool isEmpty() const override { return false; }

  mutable std::map<QString, QSet<QString>> contexts;
};

// A translation catalogue finds the form's texts only under the form's own context name, and
// the texts reach it as UTF-8.
TEST(MainWindowFormTranslationTest, TextsAreTranslatedInTheFormContext) {
  ContextRecorder recorder;
  ASSERT_TRUE(QCoreApplication::installTranslator(&recorder));
  {
    QMainWindow window;
    Ui::KalvexMainWindow form;
    form.setupUi(&window);
  }
  QCoreApplication::removeTranslator(&recorder);
  const QSet<QString> form_context{QStringLiteral("KalvexMainWindow")};
  for (const char* text :
       {"Kalvex", "Load Sequence", "4. Tracking", "Status", "Rectangle Selection",
        "Switch between image and scene views", "0 (default)", " fps", "\u00b0"}) {
    EXPECT_EQ(recorder.contexts[QString::fromUtf8(text)], form_context) << text;
  }
}

}  // namespace
