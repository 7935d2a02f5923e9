#pragma once
// The picture loader: the one process-wide list of picture file formats (extension, description,
// class that reads it), and TPicture, a holder of at most one loaded picture object.
//
// The list is created on first use holding the class library's own picture classes:
//   wmf "MétaFichiers" and emf "MétaFichiers évolués" (TMetafile), ico "Icônes" (TIcon), bmp "Bitmaps"
//   (TBitmap), then jpeg and jpg "Fichier image JPEG" (TJPEGImage).
// The framework's registry appends its readers after them; the newest registration of an
// extension wins.

#include <memory>
#include <string>
#include <vector>

#include "classlib/Graphics.h"

namespace muralo {

struct TPictureFormat {
  std::string Extension;    // without the dot, lower case
  std::string Description;  // shown in file dialogs
  TGraphicClass GraphicClass = nullptr;
};

// Appends an entry (the extension is lower-cased; a leading dot is not expected and kept as given).
void AddFormat(const std::string& extension, const std::string& description, TGraphicClass graphicClass);
// Removes every entry whose class is graphicClass or derives from it.
void RemoveClass(TGraphicClass graphicClass);
// The class of the newest entry for the extension (compared lower-cased), or nullptr.
TGraphicClass ClassForExtension(const std::string& extension);
// The entries in registration order (oldest first).
std::vector<TPictureFormat> PictureFormats();
// The file-dialog filter listing the entries whose class derives from base, newest first,
// preceded by a "Tout (...)" pair when more than one entry is listed.
std::string FilterFor(TGraphicClass base);

// The extension of a file name without its dot: the part after the last dot that follows the last
// path separator ("\", ":" or "/"); empty when there is no such dot.
std::string PictureExtension(const std::string& fileName);

// A holder of at most one picture object. The object is replaced only when a new one is ready
// (a successful load or an Assign); a failing load leaves the previous one in place.
class TPicture {
 public:
  TPicture() = default;
  TPicture(const TPicture&) = delete;
  TPicture& operator=(const TPicture&) = delete;

  // The held picture, or nullptr.
  TGraphic* Graphic() const { return FGraphic.get(); }
  bool Empty() const { return !FGraphic; }

  // Takes ownership of graphic (nullptr clears the picture).
  void SetGraphic(std::unique_ptr<TGraphic> graphic);
  // Holds a copy of graphic (a new object of its class).
  void Assign(const TGraphic& graphic);
  // Holds nothing any more.
  void Clear() { SetGraphic(nullptr); }

  // The held picture's size; raise EInvalidGraphic when the picture holds nothing.
  int Width() const;
  int Height() const;

  // LoadPicture on this picture.
  void LoadFromFile(const std::string& fileName);
  // The held picture writes its own format, whatever the file name's extension.
  void SaveToFile(const std::string& fileName);

  // Raised after the held picture was replaced or cleared, or changed itself.
  std::function<void(TPicture& sender)> OnChange;
  // Progress of the held picture (and of a picture being loaded).
  TProgressEvent OnProgress;

 private:
  friend void LoadPicture(TPicture& picture, const std::string& fileName);
  void Attach(TGraphic& graphic);
  void Changed();

  std::unique_ptr<TGraphic> FGraphic;
};

// Loads the file into the picture through the class its extension selects.
// Unknown extension: EInvalidGraphic "Extension de fichier graphique inconnue (.%s)". A file that
// cannot be opened raises EFOpenError; the reader's own errors propagate. On any failure the
// picture keeps what it held.
void LoadPicture(TPicture& picture, const std::string& fileName);

// The message of an unknown extension.
inline constexpr const char* SUnknownExtension = "Extension de fichier graphique inconnue (.%s)";
// The message of a size request on a picture that holds nothing.
inline constexpr const char* SPictureEmpty = "L'image est vide";

}  // namespace muralo
