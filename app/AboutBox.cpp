#include "app/AboutBox.h"

#include <QMouseEvent>
#include <QPixmap>

#include "app/QtBridge.h"
#include "platform/Shell.h"
#include "ui_AboutBox.h"

namespace muralo {

TAboutForm::TAboutForm(QWidget* parent) : QDialog(parent), Ui(std::make_unique<::Ui::TAboutForm>()) {
  Ui->setupUi(this);
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  connect(Ui->OKButton, &QPushButton::clicked, this, &QDialog::accept);
  Ui->URLSite->installEventFilter(this);
  Ui->EMail->installEventFilter(this);
}

TAboutForm::~TAboutForm() = default;

bool TAboutForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonRelease && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    if (watched == Ui->URLSite) {
      URLSiteClick();
      return true;
    }
    if (watched == Ui->EMail) {
      EMailClick();
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void TAboutForm::Open(const std::string& target) {
  // The opener's result is not checked.
  if (OpenLink)
    OpenLink(target);
  else
    ShellOpen(target);
}

void TAboutForm::URLSiteClick() { Open(Ui->URLSite->text().toStdString()); }

void TAboutForm::EMailClick() { Open("mailto:" + Ui->EMail->text().toStdString()); }

TAboutBox::TAboutBox(QObject* owner) : QObject(owner), VersionInfo(new TKvVersionInfo(this)) {}

TAboutBox::~TAboutBox() = default;

void TAboutBox::SetImage(const TGraphic* icon) {
  if (icon) FIcon = icon->Clone();
}

bool TAboutBox::Execute(QWidget* parent) {
  TAboutForm form(parent);
  auto* ui = form.ui();
  ui->ProductName->setText(QString::fromStdString(VersionInfo->GetStringFileInfo(9)));
  ui->Version->setText("Version " + QString::fromStdString(VersionInfo->GetStringFileInfo(3)));
  ui->Copyright->setText(QString::fromUtf8("© ") + QString::fromStdString(VersionInfo->GetStringFileInfo(5)));
  ui->URLSite->setText(QString::fromStdString(URLSite));
  ui->EMail->setText(QString::fromStdString(EMail));
  if (FIcon && !FIcon->Empty())
    ui->ProgramIcon->setPixmap(QPixmap::fromImage(RenderToQImage(*FIcon, FIcon->Width(), FIcon->Height())));
  form.OpenLink = OpenLink;
  if (OnShow) OnShow(form);
  form.exec();
  return true;
}

}  // namespace muralo
