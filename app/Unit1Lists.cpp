// TForm1's list commands: add, remove, drop, sort, and the list-file commands with their dialogs.
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QListWidget>
#include <QMimeData>
#include <QUrl>

#include <algorithm>

#include "app/OpenPictureDialog.h"
#include "app/Unit1.h"
#include "ui_Unit1.h"

namespace muralo {

namespace {

constexpr const char* OpenListTitle = "Chargement d'une liste d'images";
constexpr const char* OpenListFilter = "Listes de fichiers image (*.que);;Tout fichier (*)";
constexpr const char* SaveListTitle = "Sauver une liste d'images";
constexpr const char* SaveListFilter = "Fichiers Liste d'images (*.que);;Tout fichier (*)";

}  // namespace

// ---- list commands -----------------------------------------------------------------------------

void TForm1::WriteList(const std::string& fileName) { WriteListFile(fileName, List); }

void TForm1::AjouterBNClick() {
  QStringList files;
  if (Services.OpenImages) {
    files = Services.OpenImages();
  } else {
    files = TOpenPictureDialog::GetOpenFileNames(this);
  }
  if (files.isEmpty()) return;
  Ui->Liste->setUpdatesEnabled(false);
  try {
    for (const QString& f : files) AddEntry(f.toStdString());
  } catch (...) {
    Ui->Liste->setUpdatesEnabled(true);
    ShowCount();
    SaveSettings();
    throw;
  }
  Ui->Liste->setUpdatesEnabled(true);
  ShowCount();
  SaveSettings();
}

void TForm1::EnleverBNClick() {
  const int index = EntryIndex();
  if (index >= 0 && index < static_cast<int>(List.size())) {
    List.erase(List.begin() + index);
    SelectingProgrammatically = true;
    delete Ui->Liste->takeItem(index);
    Ui->Liste->setCurrentRow(-1);
    Ui->Liste->clearSelection();
    SelectingProgrammatically = false;
  }
  ShowCount();
  SaveSettings();
}

void TForm1::WMDropFiles(const QStringList& files) {
  for (const QString& f : files) AddEntry(f.toStdString());
  ShowCount();
  SaveSettings();
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
  if (!Closed && event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
  QStringList files;
  for (const QUrl& url : event->mimeData()->urls())
    if (url.isLocalFile()) files << url.toLocalFile();
  event->acceptProposedAction();
  if (!files.isEmpty()) RunGuarded([&] { WMDropFiles(files); });
}

void TForm1::CheckBox3Click() {
  if (!Ui->CheckBox3->isChecked()) return;  // turning sorting off keeps the current order
  const int index = EntryIndex();
  std::string selected = index >= 0 ? List[static_cast<size_t>(index)] : std::string();
  std::stable_sort(List.begin(), List.end(), ListTextLess);
  RefreshList();
  if (index >= 0) {
    auto it = std::find(List.begin(), List.end(), selected);
    SetEntryIndex(static_cast<int>(it - List.begin()));
  }
}

void TForm1::SaveCurrentList() {
  if (ListFile.empty())
    SauverListeSous1Click();
  else
    WriteList(ListFile);
}

void TForm1::NouvelleListe1Click() {
  SaveCurrentList();
  ListFile.clear();
  List.clear();
  RefreshList();
  ShowCount();
}

void TForm1::ChargerListe1Click() {
  SaveCurrentList();
  QString name;
  if (Services.OpenListFile) {
    name = Services.OpenListFile();
  } else {
    QFileDialog dialog(this, QString::fromUtf8(OpenListTitle), QString(), QString::fromUtf8(OpenListFilter));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setDefaultSuffix("que");
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) name = dialog.selectedFiles().front();
  }
  if (name.isEmpty()) return;
  ListFile = name.toStdString();
  SetEntries(ReadListFile(ListFile));
  ShowCount();
}

void TForm1::SauverListeSous1Click() {
  QString name;
  if (Services.SaveListFile) {
    name = Services.SaveListFile(QString::fromStdString(ListFile));
  } else {
    QFileDialog dialog(this, QString::fromUtf8(SaveListTitle), QString(), QString::fromUtf8(SaveListFilter));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    dialog.setDefaultSuffix("que");
    if (!ListFile.empty()) dialog.selectFile(QString::fromStdString(ListFile));
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) name = dialog.selectedFiles().front();
  }
  if (name.isEmpty()) return;
  // With no extension typed, the list file gets ".que".
  if (QFileInfo(name).suffix().isEmpty()) name += ".que";
  ListFile = name.toStdString();
  WriteList(ListFile);
}

}  // namespace muralo
