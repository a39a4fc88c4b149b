#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include <string>

#include "app/qt/q_extras.h"
#include "foundation/runtime/product_info.h"

namespace {

// Counts the combo box's index-change signals.
struct ChangeCount {
  explicit ChangeCount(QComboBox* combo) {
    QObject::connect(combo, &QComboBox::currentIndexChanged, combo, [this] { ++n; });
  }
  int count() const { return n; }
  int n = 0;
};

TEST(StyleSheetTest, PlatformSheetIsTheLightTheme) {
  const QString sheet = qExtras::platformStyleSheet();
  EXPECT_TRUE(sheet.contains(QLatin1String("QProgressBar::chunk")));
  EXPECT_TRUE(sheet.contains(QLatin1String("#05B8CC")));
  EXPECT_TRUE(sheet.contains(QLatin1String("#ADADAD")));
}

// The generated sheets are compared whole: their tab and blank runs are part of them.
TEST(StyleSheetTest, GeneratedSheetsExactly) {
  const std::string bar_error =
      "QProgressBar {\t\t\t\t\t\t\tborder: 1px solid gray;\t\t\t\t\t\t\tborder-radius: "
      "5px;\t\t\t\t\t\t\tcolor: #F0F0F0;\t\t\t\t\t\t\ttext-align: "
      "center;\t\t\t\t\t\t\tbackground-color: #FF0000;\t\t\t\t\t\t}\t\t\t\t\t\tQProgressBar::"
      "chunk {\t\t\t\t\t\t    background-color: #408060;\t\t\t\t\t\t\twidth: "
      "2px;\t\t\t\t\t\t}";
  std::string bar_normal = bar_error;
  bar_normal.replace(bar_normal.find("center;\t\t\t\t\t\t\tbackground-color: #FF0000;"),
                     std::string("center;\t\t\t\t\t\t\tbackground-color: #FF0000;").size(),
                     "center;" + std::string(28, ' ') + "background-color: #404040;");
  const std::string first =
      "QPushButton{\t\t\t\t\t   background-color: #A0A0A0;\t\t\t\t\t   border: 1px solid "
      "gray;\t\t\t\t\t   border-top-left-radius: 5px;\t\t\t\t\t   border-top-right-radius: "
      "0px;\t\t\t\t\t   border-bottom-left-radius: 0px;\t\t\t\t\t   border-bottom-right-radius: "
      "0px;\t\t\t\t\t   border-bottom: 0px;\t\t\t\t\t   border-right: 0px;\t\t\t\t\t   "
      "padding: 2px;\t\t\t\t\t   }\t\t\t\t\t   QPushButton:pressed{\t\t\t\t\t   border: 2px "
      "solid gray;\t\t\t\t\t   padding: 2px;\t\t\t\t\t   }";
  std::string middle = first;
  middle.replace(middle.find("top-left-radius: 5px"), 20, "top-left-radius: 0px");
  std::string last = middle;
  last.replace(last.find("top-right-radius: 0px"), 21, "top-right-radius: 5px");
  last.erase(last.find("border-right: 0px;\t\t\t\t\t   "), 26);

  EXPECT_EQ(qExtras::progressBarStyleSheet(1, true).toStdString(), bar_error);
  EXPECT_EQ(qExtras::progressBarStyleSheet(1, false).toStdString(), bar_normal);
  for (bool flag : {false, true}) {
    EXPECT_EQ(qExtras::progressBarStyleSheet(2, flag).toStdString(), first);
    EXPECT_EQ(qExtras::progressBarStyleSheet(3, flag).toStdString(), middle);
    EXPECT_EQ(qExtras::progressBarStyleSheet(4, flag).toStdString(), last);
  }
  EXPECT_TRUE(qExtras::progressBarStyleSheet(0, false).isEmpty());
  EXPECT_TRUE(qExtras::progressBarStyleSheet(5, false).isEmpty());
}

TEST(StyleSheetTest, ColourSwatchCodeIsLowerCaseAndPadded) {
  const auto sheet = [](const std::string& code) {
    return "QPushButton{\t\t\t\t   border: 1px solid darkgray;\t\t\t\t   background-color: #" +
           code +
           ";\t\t\t\t   border-radius: 3px;\t\t\t\t   }\t\t\t\t   QPushButton:pressed{\t\t\t\t "
           "  border: 2px solid black;\t\t\t\t   }";
  };
  EXPECT_EQ(qExtras::colorButtonStyleSheet(QColor(0, 10, 255)).toStdString(), sheet("000aff"));
  EXPECT_EQ(qExtras::colorButtonStyleSheet(QColor(171, 205, 239)).toStdString(), sheet("abcdef"));
  EXPECT_EQ(qExtras::colorButtonStyleSheet(QColor()).toStdString(), sheet(""));
}

TEST(WidgetHelperTest, ButtonColourInEveryGroup) {
  QPushButton button;
  const QColor colour(12, 34, 56);
  qExtras::setButtonColor(&button, colour);
  for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    EXPECT_EQ(button.palette().color(group, QPalette::Button), colour);
  }
  EXPECT_EQ(qExtras::buttonColor(&button), colour);
  qExtras::setButtonColor(nullptr, colour);
}

// Items carry their values as data; the selection and reading go by value, never by row.
class ComboTest : public ::testing::Test {
 protected:
  void SetUp() override {
    combo.addItem(QStringLiteral("4:3"), 1.3333);
    combo.addItem(QStringLiteral("16:9"), 1.7778);
    ints.addItem(QStringLiteral("a"), 7);
    ints.addItem(QStringLiteral("b"), 1.5);
    ints.addItem(QStringLiteral("c"), 2);
  }
  QComboBox combo;
  QComboBox ints;
};

TEST_F(ComboTest, SelectByValueWithinTolerance) {
  combo.setCurrentIndex(1);
  ChangeCount changed(&combo);
  qExtras::selectComboByValue(&combo, 1.3335, false);
  EXPECT_EQ(combo.currentIndex(), 1);
  qExtras::selectComboByValue(&combo, 1.33334, true);
  EXPECT_EQ(combo.currentIndex(), 0);
  EXPECT_EQ(changed.count(), 0);  // blocked
  qExtras::selectComboByValue(&combo, 1.7778, false);
  EXPECT_EQ(combo.currentIndex(), 1);
  EXPECT_EQ(changed.count(), 1);
  double value = 0.0;
  EXPECT_TRUE(qExtras::comboCurrentDouble(&value, &combo));
  EXPECT_DOUBLE_EQ(value, 1.7778);
}

TEST_F(ComboTest, SelectByIntEqualValueOnly) {
  ChangeCount changed(&ints);
  EXPECT_FALSE(selectComboByInt(&ints, 1, false));  // 1.5 is not 1
  EXPECT_EQ(ints.currentIndex(), 0);
  EXPECT_TRUE(selectComboByInt(&ints, 2, true));
  EXPECT_EQ(ints.currentIndex(), 2);
  EXPECT_EQ(changed.count(), 0);
  EXPECT_TRUE(selectComboByInt(&ints, 7, false));
  EXPECT_EQ(changed.count(), 1);
  int value = 0;
  EXPECT_TRUE(currentComboInt(&value, &ints));
  EXPECT_EQ(value, 7);
  EXPECT_FALSE(currentComboInt(nullptr, &ints));
  EXPECT_FALSE(qExtras::comboCurrentInt(nullptr, &ints));
}

// An editable combo box falls back to its text in the qExtras form only; the text is
// stored even when it is not a number.
TEST(ComboEditTest, EditedTextFallback) {
  QComboBox combo;
  combo.setEditable(true);
  combo.lineEdit()->setText(QStringLiteral("25"));
  int value = -1;
  EXPECT_FALSE(currentComboInt(&value, &combo));
  EXPECT_EQ(value, -1);
  EXPECT_TRUE(qExtras::comboCurrentInt(&value, &combo));
  EXPECT_EQ(value, 25);
  combo.lineEdit()->setText(QStringLiteral("abc"));
  EXPECT_FALSE(qExtras::comboCurrentInt(&value, &combo));
  EXPECT_EQ(value, 0);
  double d = -1.0;
  combo.lineEdit()->setText(QStringLiteral("2.5"));
  EXPECT_TRUE(qExtras::comboCurrentDouble(&d, &combo));
  EXPECT_EQ(d, 2.5);

  QComboBox fixed;
  fixed.addItem(QStringLiteral("no value"));
  value = -1;
  EXPECT_FALSE(qExtras::comboCurrentInt(&value, &fixed));
  EXPECT_EQ(value, -1);
}

TEST(HelpTextTest, PagesAboutAndTools) {
  EXPECT_TRUE(qExtras::pageHelpText(0).isEmpty());
  EXPECT_TRUE(qExtras::pageHelpText(10).isEmpty());
  EXPECT_EQ(qExtras::pageHelpText(1).toStdString(),
            "Load an image sequence<br>\t\tSelect interlacing<br>\t\tSelect start and end image "
            "of sequence to track");
  EXPECT_TRUE(qExtras::pageHelpText(3).startsWith(
      QStringLiteral("a) click \"New\" to begin a new mask<br>\t\tb) click")));
  EXPECT_TRUE(qExtras::pageHelpText(8).startsWith(
      QStringLiteral("<b>Focal Tool</b><br><p align=\"justify\" style=\" margin-top:0px;")));
  EXPECT_TRUE(qExtras::pageHelpText(9).startsWith(QStringLiteral("<b>Locator Tool</b><br><p")));
  EXPECT_TRUE(qExtras::pageHelpText(9).endsWith(QStringLiteral("</p>")));

  const int kind = ProductInfo::GetReleaseKind();
  ProductInfo::SetReleaseKind(ProductInfo::kBeta);
  const QString beta = qExtras::pageHelpText(7);
  ProductInfo::SetReleaseKind(ProductInfo::kFinal);
  const QString final_release = qExtras::pageHelpText(7);
  ProductInfo::SetReleaseKind(42);
  EXPECT_EQ(qExtras::releaseKindName(), QStringLiteral("unknown"));
  ProductInfo::SetReleaseKind(kind);

  const QString version =
      QStringLiteral("<center>Version: ") + QString::fromStdString(ProductInfo::GetVersionString());
  EXPECT_TRUE(
      beta.contains(QStringLiteral("<br>Beta Release<br></center><br><h3>TORBANE GmbH</h3>")))
      << beta.toStdString();
  EXPECT_TRUE(final_release.contains(QStringLiteral("<br></center><br><h3>TORBANE GmbH</h3>")));
  EXPECT_FALSE(final_release.contains(QStringLiteral("Release")));
  EXPECT_TRUE(final_release.contains(QStringLiteral("<h3> Team: </h3>")));
}

}  // namespace
