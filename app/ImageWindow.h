#pragma once
// TImgWin, the preview window: the thumbnail's picture at full size in a scroll box, or squeezed
// to the size the scale button took when it went down, and a command that writes the picture to
// a file in its own format.

#include <QDialog>

#include <functional>
#include <memory>
#include <string>

#include "imaging/PictureLoader.h"

namespace Ui {
class TImgWin;
}

namespace muralo {

// Writes the picture to fileName in its own image class's format, whatever the extension. A class
// that writes nothing (no writer of its own) is written as an uncompressed BMP instead, so that no
// empty file is left under the chosen name. An empty picture writes nothing. The bytes are built
// in memory first: an encoder that fails leaves an existing file as it was.
void SavePictureFile(TGraphic& graphic, const std::string& fileName);

class TImgWin : public QDialog {
 public:
  explicit TImgWin(QWidget* parent = nullptr);
  ~TImgWin() override;

  Ui::TImgWin* ui() const { return Ui.get(); }

  // Holds a copy of graphic (same image class); nullptr empties the window.
  void SetPicture(const TGraphic* graphic);
  TPicture& Picture() { return FPicture; }

  void SpeedButton1Click();
  void SpeedButton2Click();

  // The save-picture dialog (every registered picture format); empty result: cancelled.
  std::function<QString()> SavePictureDialog1;
  // The standard error report; a message box titled with the application's title when unset.
  std::function<void(const QString& text)> ShowError;

 private:
  void ShowPicture();
  QString ExecuteSavePictureDialog();

  std::unique_ptr<Ui::TImgWin> Ui;
  TPicture FPicture;
  QSize StretchSize;  // Image1's size, taken when the scale button went down
};

// Image1DblClick of the main window: a copy of the thumbnail's picture in the preview window,
// shown modally.
void ShowPreviewModal(TImgWin& window, const TGraphic* graphic);

}  // namespace muralo
