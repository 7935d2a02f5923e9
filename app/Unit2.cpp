#include "app/Unit2.h"

#include <QApplication>
#include <QMessageBox>

#include "app/Duration.h"
#include "classlib/Exception.h"
#include "ui_Unit2.h"

namespace muralo {

TForm2::TForm2(QWidget* parent) : QDialog(parent), Ui(std::make_unique<Ui::TForm2>()) {
  Ui->setupUi(this);
  Ui->ComboBox1->setCurrentIndex(duSecondes);
  connect(Ui->Edit1, &QLineEdit::textChanged, this, &TForm2::Edit1Change);
  connect(Ui->ScrollBar1, &QScrollBar::valueChanged, this, &TForm2::ScrollBar1Change);
  connect(Ui->Button1, &QPushButton::clicked, this, &TForm2::Button1Click);
  connect(Ui->Button2, &QPushButton::clicked, this, &TForm2::Button2Click);
}

TForm2::~TForm2() = default;

void TForm2::SetDuration(int32_t milliseconds) {
  PreviousDuration = milliseconds;
  const TShownDuration shown = ShowDuration(static_cast<uint32_t>(milliseconds));
  DurationCount = static_cast<int32_t>(shown.Count);
  DurationUnit = shown.Unit;
  Ui->Edit1->setText(QString::number(shown.Count));
  Ui->ScrollBar1->setValue(static_cast<int>(std::min<uint32_t>(shown.Count, DurationScrollMax)));
  Ui->ComboBox1->setCurrentIndex(shown.Unit);
}

void TForm2::Edit1Change() {
  try {
    // QScrollBar keeps its value within its range: 75 moves it to 50, -3 to 0.
    Ui->ScrollBar1->setValue(StrToInt(Ui->Edit1->text().toStdString()));
  } catch (const EConvertError& e) {
    Report(QString::fromUtf8(e.what()));
  }
}

void TForm2::ScrollBar1Change() {
  const QString text = QString::number(Ui->ScrollBar1->value());
  if (Ui->Edit1->text() != text) Ui->Edit1->setText(text);
}

void TForm2::Button1Click() {
  DurationUnit = DurationUnitOfText(Ui->ComboBox1->currentText().toStdString());
  try {
    DurationCount = static_cast<int32_t>(DurationMilliseconds(Ui->Edit1->text().toStdString(), DurationUnit));
  } catch (const EConvertError& e) {
    Report(QString::fromUtf8(e.what()));
    DurationCount = PreviousDuration;
    reject();
    return;
  } catch (const EDurationError& e) {
    Report(QString::fromUtf8(e.what()));
    return;
  }
  accept();
}

void TForm2::Button2Click() { reject(); }

void TForm2::Report(const QString& text) {
  if (ShowError) {
    ShowError(text);
  } else {
    // As the program's standard error report: a message box with the application's title.
    QMessageBox::critical(this, QApplication::applicationDisplayName(), text);
  }
}

std::optional<int32_t> ExecuteDurationDialog(TForm2& dialog, int32_t currentDuration) {
  dialog.SetDuration(currentDuration);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.DurationCount;
}

}  // namespace muralo
