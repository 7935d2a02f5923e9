#pragma once
// TfrmSplash: the borderless start-up window with the banner and the program title.

#include <QWidget>

class QLabel;

namespace muralo {

class TGraphic;

class TfrmSplash : public QWidget {
 public:
  // banner may be null (the window then shows the title alone).
  explicit TfrmSplash(TGraphic* banner, QWidget* parent = nullptr);
  QLabel* Banner() const { return FBanner; }
  QLabel* Label() const { return FLabel; }

 private:
  QLabel* FBanner;
  QLabel* FLabel;
};

}  // namespace muralo
