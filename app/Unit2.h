#pragma once
// TForm2 "Durée du Timer": the modal dialog in which the user sets the timer's interval as a number
// and a unit. The arithmetic is in Duration.h; this class routes the widgets' events to it.
//
// For the main window: ExecuteDurationDialog is Dure1Click's dialog part. It fills the dialog from
// the current duration, runs it modally and answers the new duration in ms when the user confirmed
// a valid one (nullopt otherwise). The main window then sets TimerDuration and the timer's
// interval and calls SaveSettings.

#include <QDialog>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace Ui {
class TForm2;
}

namespace muralo {

class TForm2 : public QDialog {
 public:
  explicit TForm2(QWidget* parent = nullptr);
  ~TForm2() override;

  Ui::TForm2* ui() const { return Ui.get(); }

  // Fills the dialog from a duration in ms, read as an unsigned 32-bit number.
  void SetDuration(int32_t milliseconds);

  // Every change of the edit's text: the scroll bar follows (clamped to 0..50); a text that is no
  // whole number is reported.
  void Edit1Change();
  // Every change of the scroll bar's position: the edit shows it.
  void ScrollBar1Change();
  // OK: a valid count and unit close the dialog accepted with DurationCount in ms. A count that is
  // no whole number is reported and the dialog closes keeping the previous duration (rejected); a
  // negative count, a duration of 50 "jours" or more, or a unit typed by hand is reported and the
  // dialog stays open.
  void Button1Click();
  // Cancel (also Escape).
  void Button2Click();

  // The number shown; after OK, the result in milliseconds.
  int32_t DurationCount = 0;
  // The unit index (0 "secondes" .. 3 "jours"; 255 for a unit text typed by hand).
  uint8_t DurationUnit = 0;

  // The program's standard error report; a message box when unset.
  std::function<void(const QString& text)> ShowError;

 private:
  void Report(const QString& text);

  std::unique_ptr<Ui::TForm2> Ui;
  int32_t PreviousDuration = 0;
};

std::optional<int32_t> ExecuteDurationDialog(TForm2& dialog, int32_t currentDuration);

}  // namespace muralo
