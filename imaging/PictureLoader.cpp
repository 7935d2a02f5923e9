#include "imaging/PictureLoader.h"

#include "classlib/Bitmap.h"
#include "classlib/Exception.h"
#include "classlib/Format.h"
#include "classlib/Icon.h"
#include "classlib/JPEGImage.h"
#include "classlib/Metafile.h"
#include "classlib/Streams.h"

namespace muralo {

namespace {

// Extensions are ASCII in practice; other bytes (UTF-8 sequences) are kept as they are.
std::string LowerCase(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

std::vector<TPictureFormat>& Formats() {
  // Built on first use with the class library's own picture classes, in this order.
  static std::vector<TPictureFormat> formats = [] {
    std::vector<TPictureFormat> f;
    f.push_back({"wmf", "MétaFichiers", TMetafile::StaticClass()});
    f.push_back({"emf", "MétaFichiers évolués", TMetafile::StaticClass()});
    f.push_back({"ico", "Icônes", TIcon::StaticClass()});
    f.push_back({"bmp", "Bitmaps", TBitmap::StaticClass()});
    f.push_back({"jpeg", "Fichier image JPEG", TJPEGImage::StaticClass()});
    f.push_back({"jpg", "Fichier image JPEG", TJPEGImage::StaticClass()});
    return f;
  }();
  return formats;
}

}  // namespace

void AddFormat(const std::string& extension, const std::string& description, TGraphicClass graphicClass) {
  Formats().push_back({LowerCase(extension), description, graphicClass});
}

void RemoveClass(TGraphicClass graphicClass) {
  auto& formats = Formats();
  std::erase_if(formats,
                [&](const TPictureFormat& f) { return f.GraphicClass && f.GraphicClass->InheritsFrom(graphicClass); });
}

TGraphicClass ClassForExtension(const std::string& extension) {
  const std::string ext = LowerCase(extension);
  const auto& formats = Formats();
  for (auto it = formats.rbegin(); it != formats.rend(); ++it)
    if (it->Extension == ext) return it->GraphicClass;
  return nullptr;
}

std::vector<TPictureFormat> PictureFormats() { return Formats(); }

std::string FilterFor(TGraphicClass base) {
  std::string filter, patterns;
  int kept = 0;
  const auto& formats = Formats();
  for (auto it = formats.rbegin(); it != formats.rend(); ++it) {
    if (it->Extension.empty() || !it->GraphicClass || !it->GraphicClass->InheritsFrom(base)) continue;
    if (kept > 0) {
      filter += '|';
      patterns += ';';
    }
    filter += it->Description + " (*." + it->Extension + ")|*." + it->Extension;
    patterns += "*." + it->Extension;
    ++kept;
  }
  if (kept > 1) return "Tout (" + patterns + ")|" + patterns + "|" + filter;
  return filter;
}

std::string PictureExtension(const std::string& fileName) {
  const size_t separator = fileName.find_last_of("\\:/");
  const size_t dot = fileName.find_last_of('.');
  if (dot == std::string::npos || (separator != std::string::npos && dot < separator)) return {};
  return fileName.substr(dot + 1);
}

void TPicture::SetGraphic(std::unique_ptr<TGraphic> graphic) {
  FGraphic = std::move(graphic);
  if (FGraphic) Attach(*FGraphic);
  Changed();
}

void TPicture::Assign(const TGraphic& graphic) { SetGraphic(graphic.Clone()); }

int TPicture::Width() const {
  if (!FGraphic) throw EInvalidGraphic(SPictureEmpty);
  return FGraphic->Width();
}

int TPicture::Height() const {
  if (!FGraphic) throw EInvalidGraphic(SPictureEmpty);
  return FGraphic->Height();
}

void TPicture::LoadFromFile(const std::string& fileName) { LoadPicture(*this, fileName); }

void TPicture::SaveToFile(const std::string& fileName) {
  if (!FGraphic) throw EInvalidGraphic(SPictureEmpty);
  FGraphic->SaveToFile(fileName);
}

void TPicture::Attach(TGraphic& graphic) {
  graphic.OnChange = [this](TGraphic&) { Changed(); };
  graphic.OnProgress = [this](TGraphic& sender, TProgressStage stage, uint8_t percent, bool redraw, const TRect& r,
                              const std::string& msg) {
    if (OnProgress) OnProgress(sender, stage, percent, redraw, r, msg);
  };
}

void TPicture::Changed() {
  if (OnChange) OnChange(*this);
}

void LoadPicture(TPicture& picture, const std::string& fileName) {
  const std::string extension = PictureExtension(fileName);
  const TGraphicClass graphicClass = ClassForExtension(extension);
  if (!graphicClass || !graphicClass->Create) throw EInvalidGraphic(Format(SUnknownExtension, extension));
  // The new object reports its progress to the picture while it loads; it replaces the picture's
  // previous object only once the load has succeeded (unique_ptr frees it on any error).
  std::unique_ptr<TGraphic> graphic = graphicClass->Create();
  graphic->OnProgress = [&picture](TGraphic& sender, TProgressStage stage, uint8_t percent, bool redraw, const TRect& r,
                                   const std::string& msg) {
    if (picture.OnProgress) picture.OnProgress(sender, stage, percent, redraw, r, msg);
  };
  graphic->LoadFromFile(fileName);
  picture.SetGraphic(std::move(graphic));
}

}  // namespace muralo
