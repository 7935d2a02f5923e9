#pragma once
// TForm3, the search dialog: finds the next list entry of the main window whose path contains a
// text (upper-case comparison under the system locale's rules) and previews it. Modeless; closing
// it only hides it, so the text stays for the next opening.

#include <QDialog>

#include <memory>

namespace Ui {
class TForm3;
}

namespace muralo {

class TForm1;

// The message shown when no entry after the selection contains the text.
inline constexpr const char* SNotFoundInList = "Chaîne non trouvée dans la liste.";

// Whether text contains needle once both are upper-cased with the system locale's rules (accented
// letters included). An empty needle never matches.
bool ContainsUpperCase(const QString& text, const QString& needle);

class TForm3 : public QDialog {
 public:
  explicit TForm3(TForm1& form1, QWidget* parent = nullptr);
  ~TForm3() override;

  Ui::TForm3* ui() const { return Ui.get(); }

  // Rechercheruneimage1Click of the main window: shown, not modally.
  void ShowSearch();
  void BitBtn1Click();
  void BitBtn2Click();

 private:
  std::unique_ptr<Ui::TForm3> Ui;
  TForm1& Form1;
};

}  // namespace muralo
