// The duration dialog TForm2 under QTest (offscreen): its controls, SetDuration, the edit and the
// scroll bar in step, OK and cancel.

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

#include <optional>
#include <string>
#include <vector>

#include "QtTestApp.h"
#include "app/Duration.h"
#include "app/Unit2.h"
#include "ui_Unit2.h"

namespace muralo {
namespace {

class DurationDialog : public ::testing::Test {
 protected:
  DurationDialog() {
    TestApplication();
    Form = std::make_unique<TForm2>();
    Form->ShowError = [this](const QString& text) { Errors.push_back(text.toStdString()); };
  }
  Ui::TForm2& ui() { return *Form->ui(); }
  void Type(const QString& text) {
    ui().Edit1->clear();
    Errors.clear();
    QTest::keyClicks(ui().Edit1, text);
  }
  // Sets the edit's text in one change, as a paste would.
  void Paste(const QString& text) { ui().Edit1->setText(text); }
  void ChooseUnit(int index) { ui().ComboBox1->setCurrentIndex(index); }
  std::string Shown() const { return Form->ui()->Edit1->text().toStdString(); }

  // What the user gets after OK with this count and unit, then reopening the dialog.
  struct Reopened {
    int32_t ms;
    std::string count;
    std::string unit;
  };
  Reopened ConfirmAndReopen(const QString& count, int unit) {
    Form->SetDuration(0);
    // A count above 50 stays in the edit only when typed with the scroll bar already at 50.
    if (count.toInt() > DurationScrollMax) ui().ScrollBar1->setValue(DurationScrollMax);
    Paste(count);
    ChooseUnit(unit);
    Form->Button1Click();
    EXPECT_EQ(Form->result(), QDialog::Accepted);
    const int32_t ms = Form->DurationCount;
    Form->SetDuration(ms);
    return {ms, Shown(), ui().ComboBox1->currentText().toStdString()};
  }

  std::unique_ptr<TForm2> Form;
  std::vector<std::string> Errors;
};

TEST_F(DurationDialog, ControlsAtTheirPlaces) {
  EXPECT_EQ(Form->windowTitle(), QString::fromUtf8("Durée du Timer"));
  EXPECT_EQ(Form->size(), QSize(209, 155));
  struct Place {
    QWidget* widget;
    int x, y, w;
  };
  const Place places[] = {
      {ui().Label1, 8, 8, -1},      {ui().Label2, 112, 8, -1},      {ui().Edit1, 8, 32, 57},
      {ui().ComboBox1, 88, 32, 89}, {ui().ScrollBar1, 24, 64, 137},
  };
  for (const Place& p : places) {
    SCOPED_TRACE(p.widget->objectName().toStdString());
    EXPECT_EQ(p.widget->pos(), QPoint(p.x, p.y));
    if (p.w > 0) {
      EXPECT_EQ(p.widget->width(), p.w);
    }
  }
  EXPECT_EQ(ui().ScrollBar1->height(), 17);
  EXPECT_EQ(ui().Label1->text(), QString::fromUtf8("Durée du Timer"));
  EXPECT_EQ(ui().Label2->text(), QString::fromUtf8("Unité"));
  EXPECT_EQ(ui().Label3->text(), "0");
  EXPECT_EQ(ui().Label4->text(), "50");
  EXPECT_EQ(ui().ScrollBar1->minimum(), 0);
  EXPECT_EQ(ui().ScrollBar1->maximum(), 50);
  EXPECT_EQ(ui().ScrollBar1->orientation(), Qt::Horizontal);
  ASSERT_EQ(ui().ComboBox1->count(), 4);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(ui().ComboBox1->itemText(i).toStdString(), DurationUnits[i].Name);
  EXPECT_TRUE(ui().ComboBox1->isEditable());
  EXPECT_EQ(ui().ComboBox1->currentText(), "secondes");
  EXPECT_EQ(ui().Button1->text(), "&Ok");
  EXPECT_TRUE(ui().Button1->isDefault());
  EXPECT_EQ(ui().Button2->text(), "&Annuler");
}

TEST_F(DurationDialog, SetDurationShowsCountUnitAndPosition) {
  struct Case {
    int32_t ms;
    const char* count;
    int position;
    const char* unit;
  };
  const Case cases[] = {
      {0, "0", 0, "secondes"},
      {45000, "45", 45, "secondes"},
      {55000, "0", 0, "minutes"},
      {90000, "1", 1, "minutes"},
      {300000, "5", 5, "minutes"},
      {172800000, "48", 48, "heures"},
      {259200000, "3", 3, "jours"},
      {static_cast<int32_t>(2160000000u), "25", 25, "jours"},  // negative as signed: read unsigned
      {-1, "49", 49, "jours"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ms);
    Form->SetDuration(c.ms);
    EXPECT_EQ(Shown(), c.count);
    EXPECT_EQ(ui().ScrollBar1->value(), c.position);
    EXPECT_EQ(ui().ComboBox1->currentText().toStdString(), c.unit);
  }
  EXPECT_TRUE(Errors.empty());
}

TEST_F(DurationDialog, ConfirmedDurationsReopenAsTheRulesSay) {
  struct Case {
    const char* count;
    int unit;
    int64_t ms;
    const char* shownCount;
    const char* shownUnit;
  };
  const Case cases[] = {
      {"5", duMinutes, 300000, "5", "minutes"},     {"45", duSecondes, 45000, "45", "secondes"},
      {"55", duSecondes, 55000, "0", "minutes"},    {"2", duJours, 172800000, "48", "heures"},
      {"3", duJours, 259200000, "3", "jours"},      {"24", duJours, 2073600000, "24", "jours"},
      {"25", duJours, 2160000000LL, "25", "jours"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.count) + " " + DurationUnits[c.unit].Name);
    const Reopened r = ConfirmAndReopen(c.count, c.unit);
    EXPECT_EQ(static_cast<uint32_t>(r.ms), static_cast<uint32_t>(c.ms));
    EXPECT_EQ(r.count, c.shownCount);
    EXPECT_EQ(r.unit, c.shownUnit);
  }
  EXPECT_TRUE(Errors.empty());
}

TEST_F(DurationDialog, TypingPastTheRangeClampsTheScrollBar) {
  Form->SetDuration(7000);
  ASSERT_EQ(ui().ScrollBar1->value(), 7);
  Paste("75");  // the scroll bar moves to 50, which rewrites the edit
  EXPECT_EQ(ui().ScrollBar1->value(), 50);
  EXPECT_EQ(Shown(), "50");
  Paste("80");  // already at the limit: the position does not move, the typed text stays
  EXPECT_EQ(ui().ScrollBar1->value(), 50);
  EXPECT_EQ(Shown(), "80");
  Paste("-4");
  EXPECT_EQ(ui().ScrollBar1->value(), 0);
  EXPECT_EQ(Shown(), "0");
  Paste("12");
  EXPECT_EQ(ui().ScrollBar1->value(), 12);
  EXPECT_EQ(Shown(), "12");
  EXPECT_TRUE(Errors.empty());
}

TEST_F(DurationDialog, KeyboardTypingFollowsEveryKey) {
  Form->SetDuration(7000);
  Type("75");  // "7" then "75"
  EXPECT_EQ(ui().ScrollBar1->value(), 50);
  EXPECT_EQ(Shown(), "50");
}

TEST_F(DurationDialog, ScrollBarWritesTheEdit) {
  Form->SetDuration(0);
  ui().ScrollBar1->setValue(33);
  EXPECT_EQ(Shown(), "33");
  ui().ScrollBar1->triggerAction(QAbstractSlider::SliderSingleStepAdd);  // the arrow button
  EXPECT_EQ(ui().ScrollBar1->value(), 34);
  EXPECT_EQ(Shown(), "34");
}

TEST_F(DurationDialog, TextThatIsNoWholeNumberIsReportedOnEveryChange) {
  Form->SetDuration(7000);
  Errors.clear();
  Paste("4x");
  Paste("4xy");
  Paste("");
  ASSERT_EQ(Errors.size(), 3u);
  EXPECT_EQ(Errors[0], "'4x' n'est pas une valeur entière correcte");
  EXPECT_EQ(Errors[1], "'4xy' n'est pas une valeur entière correcte");
  EXPECT_EQ(Errors[2], "'' n'est pas une valeur entière correcte");
  EXPECT_EQ(ui().ScrollBar1->value(), 7);  // left where it was
}

TEST_F(DurationDialog, OkWithNoWholeNumberReportsAndKeepsThePreviousDuration) {
  Form->SetDuration(300000);
  Paste("abc");
  Errors.clear();
  Form->Button1Click();
  ASSERT_EQ(Errors.size(), 1u);
  EXPECT_EQ(Errors[0], "'abc' n'est pas une valeur entière correcte");
  EXPECT_EQ(Form->result(), QDialog::Rejected);  // closed, and nothing changes
  EXPECT_EQ(Form->DurationCount, 300000);
}

TEST_F(DurationDialog, OkRefusesWhatWouldGiveAnotherIntervalAndStaysOpen) {
  struct Case {
    const char* name;
    const char* count;
    int unit;
    const char* unitText;  // typed by hand instead of an item when set
    const char* message;
  };
  const Case cases[] = {
      {"50 jours", "50", duJours, nullptr, SDurationTooLong},
      {"negative", "-5", duMinutes, nullptr, SDurationNegative},
      {"typed unit", "5", -1, "semaines", SDurationUnknownUnit},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Form->show();
    Form->SetDuration(300000);
    Form->setResult(-1);
    ui().ScrollBar1->blockSignals(true);  // keep the typed count as it is
    Paste(c.count);
    ui().ScrollBar1->blockSignals(false);
    if (c.unitText) {
      ui().ComboBox1->setEditText(c.unitText);
    } else {
      ChooseUnit(c.unit);
    }
    Errors.clear();
    Form->Button1Click();
    ASSERT_EQ(Errors.size(), 1u);
    EXPECT_EQ(Errors[0], c.message);
    EXPECT_TRUE(Form->isVisible());
    EXPECT_EQ(Form->result(), -1);
    Form->hide();
  }
}

TEST_F(DurationDialog, TypedUnitGivesUnitIndex255) {
  Form->SetDuration(300000);
  ui().ComboBox1->setEditText("minutes ");
  Form->Button1Click();
  EXPECT_EQ(Form->DurationUnit, duNone);
  EXPECT_EQ(Form->DurationUnit, 255);
}

// Runs the dialog modally and acts on it once it is up.
std::optional<int32_t> RunModal(TForm2& form, int32_t current, std::function<void()> act) {
  QTimer::singleShot(0, &form, [&form, act] {
    if (form.isVisible()) act();
  });
  return ExecuteDurationDialog(form, current);
}

TEST_F(DurationDialog, ModalRunReturnsTheDurationOnOkOnly) {
  const auto ok = RunModal(*Form, 45000, [this] {
    Paste("5");
    ChooseUnit(duMinutes);
    QTest::mouseClick(ui().Button1, Qt::LeftButton);
  });
  ASSERT_TRUE(ok.has_value());
  EXPECT_EQ(*ok, 300000);

  const auto cancelled = RunModal(*Form, 300000, [this] {
    Paste("9");
    QTest::mouseClick(ui().Button2, Qt::LeftButton);
  });
  EXPECT_FALSE(cancelled.has_value());

  const auto escaped = RunModal(*Form, 300000, [this] {
    Paste("9");
    QTest::keyClick(Form.get(), Qt::Key_Escape);
  });
  EXPECT_FALSE(escaped.has_value());

  const auto entered = RunModal(*Form, 300000, [this] {
    Paste("7");
    QTest::keyClick(ui().Edit1, Qt::Key_Return);  // the default button
  });
  ASSERT_TRUE(entered.has_value());
  EXPECT_EQ(*entered, 420000);

  const auto badText = RunModal(*Form, 300000, [this] {
    Paste("x");
    QTest::mouseClick(ui().Button1, Qt::LeftButton);
  });
  EXPECT_FALSE(badText.has_value());  // reported, previous duration kept
}

TEST_F(DurationDialog, FirstRunShowsZeroSeconds) {
  const auto result = RunModal(*Form, 0, [this] {
    EXPECT_EQ(Shown(), "0");
    EXPECT_EQ(ui().ComboBox1->currentText(), "secondes");
    QTest::mouseClick(ui().Button1, Qt::LeftButton);
  });
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(*result, 0);
}

}  // namespace
}  // namespace muralo
