#include "app/Splash.h"

#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPixmap>
#include <QScreen>

#include "app/QtBridge.h"
#include "classlib/Graphics.h"

namespace muralo {

TfrmSplash::TfrmSplash(TGraphic* banner, QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint) {
  setObjectName("frmSplash");
  setFixedSize(312, 114);
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, pal.color(QPalette::ToolTipBase));
  setPalette(pal);

  FBanner = new QLabel(this);
  FBanner->setObjectName("Image1");
  FBanner->setGeometry(0, 0, 312, 73);
  FBanner->setScaledContents(true);
  if (banner && !banner->Empty())
    FBanner->setPixmap(QPixmap::fromImage(RenderToQImage(*banner, banner->Width(), banner->Height())));

  auto* bevel = new QFrame(this);
  bevel->setObjectName("Bevel1");
  bevel->setGeometry(4, 76, 304, 34);
  bevel->setFrameShape(QFrame::Panel);
  bevel->setFrameShadow(QFrame::Raised);

  FLabel = new QLabel(this);
  FLabel->setObjectName("Label1");
  FLabel->setGeometry(8, 78, 296, 30);
  FLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  FLabel->setText("Muralo");
  QFont font("Times New Roman");
  font.setPointSize(22);
  FLabel->setFont(font);
  QPalette labelPal = FLabel->palette();
  labelPal.setColor(QPalette::WindowText, QColor(0, 128, 128));  // teal
  FLabel->setPalette(labelPal);

  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->geometry();
    move(area.center() - rect().center());
  }
}

}  // namespace muralo
