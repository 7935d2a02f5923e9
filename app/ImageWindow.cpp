#include "app/ImageWindow.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPixmap>
#include <QStyle>

#include "app/DialogFilters.h"
#include "app/QtBridge.h"
#include "classlib/Bitmap.h"
#include "classlib/Streams.h"
#include "ui_ImageWindow.h"

namespace muralo {

void SavePictureFile(TGraphic& graphic, const std::string& fileName) {
  if (graphic.Empty()) return;
  TMemoryStream bytes;
  graphic.SaveToStream(bytes);
  if (bytes.Size() == 0) {
    // No writer of its own (TIFF and the other read-only classes): the picture as a bitmap.
    TBitmap bitmap;
    bitmap.Assign(graphic);
    bitmap.SaveToStream(bytes);
  }
  TFileStream file(fileName, TFileMode::fmCreate);
  file.WriteBuffer(bytes.Memory(), bytes.Size());
}

TImgWin::TImgWin(QWidget* parent) : QDialog(parent), Ui(std::make_unique<::Ui::TImgWin>()) {
  Ui->setupUi(this);
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  Ui->SpeedButton1->setIcon(style()->standardIcon(QStyle::SP_TitleBarMaxButton));
  Ui->SpeedButton2->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
  connect(Ui->SpeedButton1, &QAbstractButton::clicked, this, [this] { SpeedButton1Click(); });
  connect(Ui->SpeedButton2, &QAbstractButton::clicked, this, [this] {
    try {
      SpeedButton2Click();
    } catch (const std::exception& e) {
      const QString text = QString::fromUtf8(e.what());
      if (ShowError)
        ShowError(text);
      else
        QMessageBox::critical(this, QApplication::applicationDisplayName(), text);
    }
  });
  FPicture.OnChange = [this](TPicture&) { ShowPicture(); };
}

TImgWin::~TImgWin() = default;

void TImgWin::SetPicture(const TGraphic* graphic) {
  if (graphic)
    FPicture.Assign(*graphic);
  else
    FPicture.Clear();
}

void TImgWin::ShowPicture() {
  QLabel* image = Ui->Image1;
  TGraphic* graphic = FPicture.Graphic();
  QPixmap pixmap;
  if (graphic && !graphic->Empty())
    pixmap = QPixmap::fromImage(RenderToQImage(*graphic, graphic->Width(), graphic->Height()));
  image->setPixmap(pixmap);
  if (Ui->SpeedButton1->isChecked()) {
    // Stretched to the size taken when the button went down, proportions not kept.
    image->setScaledContents(true);
    image->resize(StretchSize);
  } else {
    image->setScaledContents(false);
    image->resize(pixmap.size());
  }
}

void TImgWin::SpeedButton1Click() {
  if (Ui->SpeedButton1->isChecked()) StretchSize = Ui->ScrollBox1->viewport()->size();
  ShowPicture();
}

QString TImgWin::ExecuteSavePictureDialog() {
  if (SavePictureDialog1) return SavePictureDialog1();
  QFileDialog dialog(this);
  dialog.setObjectName("SavePictureDialog1");
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  QStringList filters;
  for (const std::string& f : ToQtFilters(FilterFor(TGraphic::StaticClass()))) filters << QString::fromStdString(f);
  dialog.setNameFilters(filters);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().first();
}

void TImgWin::SpeedButton2Click() {
  const QString fileName = ExecuteSavePictureDialog();
  if (fileName.isEmpty()) return;
  if (TGraphic* graphic = FPicture.Graphic()) SavePictureFile(*graphic, fileName.toStdString());
}

void ShowPreviewModal(TImgWin& window, const TGraphic* graphic) {
  window.SetPicture(graphic);
  window.exec();
}

}  // namespace muralo
