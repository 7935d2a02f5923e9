#include "app/Unit3.h"

#include <QApplication>
#include <QListWidget>
#include <QLocale>
#include <QMessageBox>
#include <QStyle>

#include "app/Unit1.h"
#include "ui_Unit1.h"
#include "ui_Unit3.h"

namespace muralo {

bool ContainsUpperCase(const QString& text, const QString& needle) {
  if (needle.isEmpty()) return false;
  const QLocale locale = QLocale::system();
  return locale.toUpper(text).contains(locale.toUpper(needle));
}

TForm3::TForm3(TForm1& form1, QWidget* parent) : QDialog(parent), Ui(std::make_unique<::Ui::TForm3>()), Form1(form1) {
  Ui->setupUi(this);
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  // "Cherche" with its glyph; "&Fermer" is the class library's standard close button.
  Ui->BitBtn1->setIcon(style()->standardIcon(QStyle::SP_FileDialogContentsView));
  Ui->BitBtn2->setIcon(style()->standardIcon(QStyle::SP_DialogCloseButton));
  connect(Ui->BitBtn1, &QPushButton::clicked, this, [this] { Form1.RunGuarded([this] { BitBtn1Click(); }); });
  connect(Ui->BitBtn2, &QPushButton::clicked, this, [this] { BitBtn2Click(); });
}

TForm3::~TForm3() = default;

void TForm3::ShowSearch() {
  show();
  raise();
  activateWindow();
}

void TForm3::BitBtn1Click() {
  const QString needle = Ui->Edit1->text();
  const auto& entries = Form1.Entries();
  // From the entry after the selection (the first when nothing is selected) to the last; no
  // wrap-around, so a second press finds the next match.
  for (int i = std::max(Form1.EntryIndex() + 1, 0); i < static_cast<int>(entries.size()); ++i) {
    if (!ContainsUpperCase(QString::fromStdString(entries[static_cast<size_t>(i)]), needle)) continue;
    // Selected by the program: no SelectionMade, no wallpaper change; the thumbnail shows it.
    Form1.SetEntryIndex(i);
    Form1.ui()->Liste->repaint();
    Form1.ApercuBNClick();
    return;
  }
  // A message box titled with the application's title, one OK button.
  QMessageBox box(QMessageBox::NoIcon, QApplication::applicationDisplayName(), QString::fromUtf8(SNotFoundInList),
                  QMessageBox::Ok, this);
  box.setObjectName("NotFoundBox");
  box.exec();
}

void TForm3::BitBtn2Click() { hide(); }

}  // namespace muralo
