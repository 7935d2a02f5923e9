// muralo-img: the picture framework from the shell.
//   muralo-img convert IN OUT   load IN as the program's preview does, draw it unscaled on a white
//                               24-bit bitmap and write OUT (.bmp: uncompressed 24-bit BMP,
//                               .ppm: binary PPM, maxval 255, .tga: run-length encoded Targa)
//   muralo-img save IN OUT      the loaded picture writes its own format to OUT
//   muralo-img info IN          class, width, height, pixel format, palette size; for the
//                               framework's readers first the image-properties record
//   muralo-img formats          the picture loader's entries and the file-dialog filter, then
//                               the registry's filters
// Exit status: 0 success, 1 failure (the error's text alone on stderr), 2 usage error.
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include "classlib/Bitmap.h"
#include "classlib/Canvas.h"
#include "classlib/Exception.h"
#include "classlib/Icon.h"
#include "classlib/JPEGImage.h"
#include "classlib/Streams.h"
#include "imaging/FileFormatList.h"
#include "imaging/GraphicFramework.h"
#include "imaging/PictureLoader.h"
#include "imaging/formats/TargaGraphic.h"
#include "imaging/Warnings.h"

using namespace muralo;

namespace {

int Usage() {
  std::cerr << "usage: muralo-img convert IN OUT.bmp|OUT.ppm|OUT.tga\n"
               "       muralo-img save IN OUT\n"
               "       muralo-img info IN\n"
               "       muralo-img formats\n";
  return 2;
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

const char* PixelFormatName(TPixelFormat f) {
  switch (f) {
    case TPixelFormat::pfDevice: return "pfDevice";
    case TPixelFormat::pf1bit: return "pf1bit";
    case TPixelFormat::pf4bit: return "pf4bit";
    case TPixelFormat::pf8bit: return "pf8bit";
    case TPixelFormat::pf15bit: return "pf15bit";
    case TPixelFormat::pf16bit: return "pf16bit";
    case TPixelFormat::pf24bit: return "pf24bit";
    case TPixelFormat::pf32bit: return "pf32bit";
    case TPixelFormat::pfCustom: return "pfCustom";
  }
  return "?";
}

// The bitmap behind a picture, where it has one.
const TBitmap* BitmapOf(TGraphic& graphic) {
  if (graphic.InheritsFrom(TBitmap::StaticClass())) return static_cast<TBitmap*>(&graphic);
  if (graphic.InheritsFrom(TJPEGImage::StaticClass())) return &static_cast<TJPEGImage&>(graphic).Bitmap();
  return nullptr;
}

void WritePPM(const TBitmap& bitmap, const std::string& fileName) {
  TFileStream out(fileName, TFileMode::fmCreate);
  const std::string header = "P6\n" + std::to_string(bitmap.Width()) + " " + std::to_string(bitmap.Height()) + "\n255\n";
  out.WriteBuffer(header.data(), int64_t(header.size()));
  std::vector<uint8_t> bgra(size_t(bitmap.Width()) * 4), rgb(size_t(bitmap.Width()) * 3);
  for (int y = 0; y < bitmap.Height(); ++y) {
    bitmap.ReadRowBGRA(y, bgra.data());
    for (size_t x = 0; x < size_t(bitmap.Width()); ++x) {
      rgb[3 * x] = bgra[4 * x + 2];
      rgb[3 * x + 1] = bgra[4 * x + 1];
      rgb[3 * x + 2] = bgra[4 * x];
    }
    out.WriteBuffer(rgb.data(), int64_t(rgb.size()));
  }
}

int Convert(const std::string& in, const std::string& out) {
  const std::string ext = Lower(PictureExtension(out));
  if (ext != "bmp" && ext != "ppm" && ext != "tga") {
    std::cerr << "muralo-img: output must be .bmp, .ppm or .tga\n";
    return 2;
  }
  TPicture picture;
  LoadPicture(picture, in);
  TTargaGraphic bitmap;  // a bitmap that can also write itself as Targa
  bitmap.SetPixelFormat(TPixelFormat::pf24bit);
  bitmap.SetSize(picture.Width(), picture.Height());
  bitmap.Canvas().Brush.Color = clWhite;
  bitmap.Canvas().FillRect(TRect{0, 0, bitmap.Width(), bitmap.Height()});
  bitmap.Canvas().Draw(0, 0, *picture.Graphic());
  if (ext == "bmp") {
    TFileStream stream(out, TFileMode::fmCreate);
    bitmap.TBitmap::SaveToStream(stream);  // the bitmap's own BMP writer, not the Targa one
  } else if (ext == "tga") {
    TFileStream stream(out, TFileMode::fmCreate);
    bitmap.SaveToStream(stream, true);
  } else {
    WritePPM(bitmap, out);
  }
  return 0;
}

int Save(const std::string& in, const std::string& out) {
  TPicture picture;
  LoadPicture(picture, in);
  picture.SaveToFile(out);
  return 0;
}

const char* const kSchemes[] = {"csUnknown", "csIndexed", "csG",    "csGA",     "csRGB",   "csRGBA",    "csBGR",
                               "csBGRA",    "csCMY",     "csCMYK", "csCIELab", "csYCbCr", "csPhotoYCC"};
const char* const kCompressions[] = {"ctUnknown",  "ctNone",    "ctRLE",        "ctPackedBits", "ctLZW",    "ctFax3",
                                     "ctFaxRLE",   "ctFax4",    "ctFaxRLEW",    "ctLZ77",       "ctJPEG",   "ctOJPEG",
                                     "ctThunderscan", "ctNext", "ctIT8CTPAD",   "ctIT8LW",      "ctIT8MP",  "ctIT8BL",
                                     "ctPixarFilm", "ctPixarLog", "ctDCS",      "ctJBIG",       "ctPCDHuffmann"};

template <typename T>
std::string Join(const std::vector<T>& values) {
  std::string s = "[";
  for (size_t i = 0; i < values.size(); ++i) s += (i ? " " : "") + std::to_string(values[i]);
  return s + "]";
}

// The reader's record after ReadImageProperties, every field in order.
void PrintProperties(const std::string& in) {
  const TGraphicClass cls = ClassForExtension(PictureExtension(in));
  if (!IsFrameworkClass(cls)) return;
  std::unique_ptr<TGraphic> graphic = cls->Create();
  auto& reader = static_cast<TFrameworkGraphic&>(*graphic);
  TFileStream stream(in, TFileMode::fmOpenRead);
  const bool understood = reader.ReadImageProperties(stream, 0);
  const TImageProperties& p = reader.ImageProperties;
  const char* options[] = {"ioTiled", "ioBigEndian", "ioMinIsWhite", "ioReversed", "ioUseGamma"};
  std::string optionText;
  for (int i = 0; i < 5; ++i)
    if (p.Options.Has(TImageOption(i))) optionText += (optionText.empty() ? "" : " ") + std::string(options[i]);
  std::cout << "reader: " << cls->Name << "\n"
            << "ReadImageProperties: " << (understood ? "true" : "false") << "\n"
            << "Version: " << p.Version << "\n"
            << "Options: [" << optionText << "]\n"
            << "Width: " << p.Width << "\n"
            << "Height: " << p.Height << "\n"
            << "ColorScheme: " << (p.ColorScheme < std::size(kSchemes) ? kSchemes[p.ColorScheme] : "?") << "\n"
            << "BitsPerSample: " << int(p.BitsPerSample) << "\n"
            << "SamplesPerPixel: " << int(p.SamplesPerPixel) << "\n"
            << "BitsPerPixel: " << int(p.BitsPerPixel) << "\n"
            << "Compression: " << (p.Compression < std::size(kCompressions) ? kCompressions[p.Compression] : "?")
            << "\n"
            << "FileGamma: " << p.FileGamma << "\n"
            << "XResolution: " << p.XResolution << "\n"
            << "YResolution: " << p.YResolution << "\n"
            << "Interlaced: " << p.Interlaced << "\n"
            << "HasAlpha: " << p.HasAlpha << "\n"
            << "FirstIFD: " << p.FirstIFD << "\n"
            << "PlanarConfig: " << p.PlanarConfig << "\n"
            << "CurrentRow: " << p.CurrentRow << "\n"
            << "TileWidth: " << p.TileWidth << "\n"
            << "TileLength: " << p.TileLength << "\n"
            << "BytesPerLine: " << p.BytesPerLine << "\n"
            << "RowsPerStrip: " << Join(p.RowsPerStrip) << "\n"
            << "YCbCrSubSampling: " << Join(p.YCbCrSubSampling) << "\n"
            << "JPEGTables: " << p.JPEGTables.size() << " bytes\n"
            << "JPEGColorMode: " << p.JPEGColorMode << "\n"
            << "JPEGTablesMode: " << p.JPEGTablesMode << "\n"
            << "CurrentStrip: " << p.CurrentStrip << "\n"
            << "StripCount: " << p.StripCount << "\n"
            << "PredictorMode: " << p.PredictorMode << "\n"
            << "Overview: " << p.Overview << "\n"
            << "Rotate: " << int(p.Rotate) << "\n"
            << "ImageCount: " << p.ImageCount << "\n"
            << "BottomUp: " << p.BottomUp << "\n"
            << "Channels: " << int(p.Channels) << "\n"
            << "FilterMode: " << int(p.FilterMode) << "\n";
}

int Info(const std::string& in) {
  PrintProperties(in);
  TPicture picture;
  LoadPicture(picture, in);
  TGraphic& g = *picture.Graphic();
  std::cout << "class: " << g.ClassType()->Name << "\n"
            << "width: " << g.Width() << "\n"
            << "height: " << g.Height() << "\n";
  if (const TBitmap* b = BitmapOf(g)) {
    std::cout << "pixel format: " << PixelFormatName(b->PixelFormat()) << "\n"
              << "palette size: " << (b->Palette() ? b->Palette()->size() : 0) << "\n";
  } else {
    // an icon is shown as B, G, R, A pixels
    std::cout << "pixel format: " << (g.InheritsFrom(TIcon::StaticClass()) ? "pf32bit" : "none") << "\n"
              << "palette size: 0\n";
  }
  return 0;
}

int Formats() {
  for (const TPictureFormat& f : PictureFormats())
    std::cout << f.Extension << "\t" << f.Description << "\t" << (f.GraphicClass ? f.GraphicClass->Name : "?") << "\n";
  std::cout << "filter: " << FilterFor(TGraphic::StaticClass()) << "\n";
  if (FileFormatList) {
    std::cout << "registry filter: "
              << FileFormatList->GetGraphicFilter({}, fstNone, {foCompact, foIncludeAll, foIncludeExtension}, nullptr)
              << "\n"
              << "registry filter by extension: "
              << FileFormatList->GetGraphicFilter({}, fstDescription, {foIncludeExtension}, nullptr) << "\n";
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  SetWarningHandler([](const std::string& title, const std::string& text) {
    std::cerr << title << ": " << text << "\n";
  });
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  try {
    const TFrameworkScope framework;
    if (command == "convert" && argc == 4) return Convert(argv[2], argv[3]);
    if (command == "save" && argc == 4) return Save(argv[2], argv[3]);
    if (command == "info" && argc == 3) return Info(argv[2]);
    if (command == "formats" && argc == 2) return Formats();
    return Usage();
  } catch (const std::exception& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
}
