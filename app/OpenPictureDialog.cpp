#include "app/OpenPictureDialog.h"

#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "app/DialogFilters.h"
#include "app/QtBridge.h"
#include "imaging/PictureLoader.h"

namespace muralo {

namespace {
constexpr int PaneSize = 160;
}

TOpenPictureDialog::TOpenPictureDialog(QWidget* parent) : QFileDialog(parent) {
  setObjectName("OpenImage");
  // Our own widgets go beside the file list, so the dialog is Qt's, not the desktop's.
  setOption(QFileDialog::DontUseNativeDialog, true);
  setFileMode(QFileDialog::ExistingFiles);
  setAcceptMode(QFileDialog::AcceptOpen);
  setSizeGripEnabled(true);
  QStringList filters;
  for (const std::string& f : ToQtFilters(FilterFor(TGraphic::StaticClass()))) filters << QString::fromStdString(f);
  setNameFilters(filters);

  auto* pane = new QWidget(this);
  auto* column = new QVBoxLayout(pane);
  Preview = new QLabel(pane);
  Preview->setObjectName("PreviewPane");
  Preview->setFixedSize(PaneSize, PaneSize);
  Preview->setAlignment(Qt::AlignCenter);
  Preview->setFrameShape(QFrame::StyledPanel);
  Size = new QLabel(pane);
  Size->setAlignment(Qt::AlignCenter);
  column->addWidget(Preview);
  column->addWidget(Size);
  column->addStretch();
  if (auto* grid = qobject_cast<QGridLayout*>(layout()))
    grid->addWidget(pane, 0, grid->columnCount(), grid->rowCount(), 1);
  connect(this, &QFileDialog::currentChanged, this, &TOpenPictureDialog::ShowPreview);
}

void TOpenPictureDialog::ShowPreview(const QString& fileName) {
  Preview->clear();
  Size->clear();
  if (!QFileInfo(fileName).isFile()) return;
  try {
    TPicture picture;
    LoadPicture(picture, fileName.toStdString());
    TGraphic* g = picture.Graphic();
    if (!g || g->Empty()) return;
    // Scaled down to fit the pane with its proportions.
    const double scale = std::min(1.0, std::min(double(PaneSize) / g->Width(), double(PaneSize) / g->Height()));
    const int w = std::max(1, int(g->Width() * scale)), h = std::max(1, int(g->Height() * scale));
    Preview->setPixmap(QPixmap::fromImage(RenderToQImage(*g, w, h)));
    Size->setText(QString("%1 x %2").arg(g->Width()).arg(g->Height()));
  } catch (const std::exception&) {
    // A file the loader cannot read simply shows no preview.
  }
}

QStringList TOpenPictureDialog::GetOpenFileNames(QWidget* parent) {
  TOpenPictureDialog dialog(parent);
  if (dialog.exec() != QDialog::Accepted) return {};
  return dialog.selectedFiles();
}

}  // namespace muralo
