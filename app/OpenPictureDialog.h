#pragma once
// OpenImage: the open-picture dialog with a preview pane. The pane loads the current file through
// the picture loader and shows it scaled down with its size.

#include <QFileDialog>

class QLabel;

namespace muralo {

class TOpenPictureDialog : public QFileDialog {
 public:
  explicit TOpenPictureDialog(QWidget* parent = nullptr);
  // Shows the dialog; the chosen files, or none when cancelled.
  static QStringList GetOpenFileNames(QWidget* parent);

  QLabel* PreviewPane() const { return Preview; }
  QLabel* SizeLabel() const { return Size; }
  // Loads fileName into the pane (an empty pane when it cannot be read).
  void ShowPreview(const QString& fileName);

 private:
  QLabel* Preview;
  QLabel* Size;
};

}  // namespace muralo
