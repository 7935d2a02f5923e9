#pragma once
// TAboutBox, the About component: owns a version reader, the web-site and e-mail texts and an
// icon, and shows TAboutForm filled from the version resource (product name, "Version " and the
// file version, "© " and the copyright) with the two links.

#include <QDialog>
#include <QObject>

#include <functional>
#include <memory>
#include <string>

#include "app/VInfo.h"
#include "classlib/Graphics.h"

namespace Ui {
class TAboutForm;
}

namespace muralo {

class TAboutForm : public QDialog {
 public:
  explicit TAboutForm(QWidget* parent = nullptr);
  ~TAboutForm() override;
  Ui::TAboutForm* ui() const { return Ui.get(); }

  // Open the site, or a new message to the address, with the desktop's opener.
  void URLSiteClick();
  void EMailClick();
  // Where links go; ShellOpen (xdg-open) when unset.
  std::function<void(const std::string& target)> OpenLink;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Open(const std::string& target);
  std::unique_ptr<Ui::TAboutForm> Ui;
};

class TAboutBox : public QObject {
 public:
  explicit TAboutBox(QObject* owner = nullptr);
  ~TAboutBox() override;

  std::string GetFileName() const { return VersionInfo->FileName(); }
  void SetFileName(const std::string& name) { VersionInfo->SetFileName(name); }
  // Keeps a copy of the icon; none is ignored.
  void SetImage(const TGraphic* icon);
  const TGraphic* Icon() const { return FIcon.get(); }
  TKvVersionInfo& Info() { return *VersionInfo; }

  std::string URLSite;
  std::string EMail;

  // Shows the dialog modally, destroys it when it closes; answers true.
  bool Execute(QWidget* parent = nullptr);
  // Called with the dialog, filled, right before it is shown (tests answer it from here).
  std::function<void(TAboutForm& form)> OnShow;
  // Handed to the dialog's links.
  std::function<void(const std::string& target)> OpenLink;

 private:
  TKvVersionInfo* VersionInfo;
  std::unique_ptr<TGraphic> FIcon;
};

}  // namespace muralo
