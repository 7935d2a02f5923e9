// muralo-img: the picture framework from the shell.
//   muralo-img convert IN OUT   load IN as the program's preview does, draw it unscaled on a white
//                               24-bit bitmap and write OUT (.bmp: uncompressed 24-bit BMP,
//                               .ppm: binary PPM, maxval 255, .tga: run-length encoded Targa)
//   muralo-img save IN OUT      the loaded picture writes its own format to OUT
//   muralo-img stretch IN OUT WIDTH HEIGHT FILTER [RADIUS]
//                               load IN as convert does, resample it to WIDTH x HEIGHT with FILTER
//                               (box, triangle, hermite, bell, spline, lanczos3, mitchell; RADIUS
//                               0 or absent: the filter's own) and write OUT as convert does
//   muralo-img info IN          class, width, height, pixel format, palette size; for the
//                               framework's readers first the image-properties record; for
//                               metafiles then the header's fields
//   muralo-img formats          the picture loader's entries and the file-dialog filter, then
//                               the registry's filters
// Exit status: 0 success, 1 failure (the error's text alone on stderr), 2 usage error.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cmath>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>

#include "classlib/Bitmap.h"
#include "classlib/Canvas.h"
#include "classlib/Exception.h"
#include "classlib/Format.h"
#include "classlib/Icon.h"
#include "classlib/JPEGImage.h"
#include "classlib/Metafile.h"
#include "classlib/Streams.h"
#include "imaging/FileFormatList.h"
#include "imaging/GraphicFramework.h"
#include "imaging/Graphicstrings.h"
#include "imaging/PictureLoader.h"
#include "imaging/Resample.h"
#include "imaging/Warnings.h"
#include "imaging/formats/TargaGraphic.h"

using namespace muralo;

namespace {

int Usage() {
  std::cerr << "usage: muralo-img convert IN OUT.bmp|OUT.ppm|OUT.tga\n"
               "       muralo-img save IN OUT\n"
               "       muralo-img stretch IN OUT WIDTH HEIGHT FILTER [RADIUS]\n"
               "         FILTER: box, triangle, hermite, bell, spline, lanczos3, mitchell\n"
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
    case TPixelFormat::pfDevice:
      return "pfDevice";
    case TPixelFormat::pf1bit:
      return "pf1bit";
    case TPixelFormat::pf4bit:
      return "pf4bit";
    case TPixelFormat::pf8bit:
      return "pf8bit";
    case TPixelFormat::pf15bit:
      return "pf15bit";
    case TPixelFormat::pf16bit:
      return "pf16bit";
    case TPixelFormat::pf24bit:
      return "pf24bit";
    case TPixelFormat::pf32bit:
      return "pf32bit";
    case TPixelFormat::pfCustom:
      return "pfCustom";
  }
  return "?";
}

// The bitmap behind a picture, where it has one.
const TBitmap* BitmapOf(TGraphic& graphic) {
  if (graphic.InheritsFrom(TBitmap::StaticClass())) return static_cast<TBitmap*>(&graphic);
  if (graphic.InheritsFrom(TJPEGImage::StaticClass())) return &static_cast<TJPEGImage&>(graphic).Bitmap();
  return nullptr;
}

// Replaces the file with the bytes, or leaves it as it was: the bytes go to a temporary file of
// the same folder, renamed over the file once complete.
void ReplaceFile(const std::string& fileName, const std::vector<uint8_t>& bytes) {
  const std::filesystem::path target(fileName);
  const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
  std::string temp = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
  const int fd = mkstemp(temp.data());
  if (fd < 0) throw EFCreateError(fileName, std::strerror(errno));
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  const bool written = done == bytes.size() && fsync(fd) == 0;
  const bool closed = close(fd) == 0;
  // mkstemp makes the file private; the picture gets the permissions of any file the program creates.
  const mode_t mask = umask(0);
  umask(mask);
  if (!written || !closed || chmod(temp.c_str(), 0644 & ~mask) != 0 || rename(temp.c_str(), fileName.c_str()) != 0) {
    unlink(temp.c_str());
    throw EWriteError();
  }
}

void WritePPM(const TBitmap& bitmap, TStream& out) {
  const std::string header =
      "P6\n" + std::to_string(bitmap.Width()) + " " + std::to_string(bitmap.Height()) + "\n255\n";
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

bool IsOutputExtension(const std::string& out) {
  const std::string ext = Lower(PictureExtension(out));
  if (ext == "bmp" || ext == "ppm" || ext == "tga") return true;
  std::cerr << "muralo-img: output must be .bmp, .ppm or .tga\n";
  return false;
}

// The loaded picture drawn unscaled on a white 24-bit bitmap that can also write itself as Targa.
void DrawPicture(const std::string& in, TTargaGraphic& bitmap) {
  TPicture picture;
  LoadPicture(picture, in);
  bitmap.SetPixelFormat(TPixelFormat::pf24bit);
  bitmap.SetSize(picture.Width(), picture.Height());
  bitmap.Canvas().Brush.Color = clWhite;
  bitmap.Canvas().FillRect(TRect{0, 0, bitmap.Width(), bitmap.Height()});
  bitmap.Canvas().Draw(0, 0, *picture.Graphic());
}

void WriteOutput(TTargaGraphic& bitmap, const std::string& out) {
  const std::string ext = Lower(PictureExtension(out));
  // Targa stores its sizes in 16 bits: refused before anything is written.
  if (ext == "tga" && (bitmap.Width() > 0xFFFF || bitmap.Height() > 0xFFFF))
    throw EInvalidGraphic(Format(gesInvalidImage, "TGA"));
  TMemoryStream stream;
  if (ext == "bmp")
    bitmap.TBitmap::SaveToStream(stream);  // the bitmap's own BMP writer, not the Targa one
  else if (ext == "tga")
    bitmap.SaveToStream(stream, true);
  else
    WritePPM(bitmap, stream);
  ReplaceFile(out, stream.Bytes());
}

int Convert(const std::string& in, const std::string& out) {
  if (!IsOutputExtension(out)) return 2;
  TTargaGraphic bitmap;
  DrawPicture(in, bitmap);
  WriteOutput(bitmap, out);
  return 0;
}

const char* const kFilterNames[] = {"box", "triangle", "hermite", "bell", "spline", "lanczos3", "mitchell"};

// A whole decimal number within 1 .. 2^31 - 1, or 0 when the text is not one.
uint32_t ParseSize(const std::string& text) {
  if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos) return 0;
  const unsigned long long v = std::stoull(text);
  return v <= 0x7FFFFFFFu ? uint32_t(v) : 0;
}

int StretchCommand(int argc, char** argv) {
  const std::string in = argv[2], out = argv[3];
  const uint32_t width = ParseSize(argv[4]), height = ParseSize(argv[5]);
  const std::string filterName = Lower(argv[6]);
  const auto filter = std::find(std::begin(kFilterNames), std::end(kFilterNames), filterName);
  float radius = 0;
  if (argc == 8) {
    char* end = nullptr;
    radius = std::strtof(argv[7], &end);
    if (end == argv[7] || *end != '\0' || !std::isfinite(radius)) return Usage();
  }
  if (width == 0 || height == 0 || filter == std::end(kFilterNames)) return Usage();
  if (!IsOutputExtension(out)) return 2;
  TTargaGraphic bitmap;
  DrawPicture(in, bitmap);
  Stretch(width, height, TResamplingFilter(filter - std::begin(kFilterNames)), radius, bitmap);
  WriteOutput(bitmap, out);
  return 0;
}

int Save(const std::string& in, const std::string& out) {
  TPicture picture;
  LoadPicture(picture, in);
  TMemoryStream stream;
  if (!picture.Graphic()) throw EInvalidGraphic(SPictureEmpty);
  picture.Graphic()->SaveToStream(stream);
  ReplaceFile(out, stream.Bytes());
  return 0;
}

const char* const kSchemes[] = {"csUnknown", "csIndexed", "csG",    "csGA",     "csRGB",   "csRGBA",    "csBGR",
                                "csBGRA",    "csCMY",     "csCMYK", "csCIELab", "csYCbCr", "csPhotoYCC"};
const char* const kCompressions[] = {
    "ctUnknown", "ctNone",  "ctRLE",       "ctPackedBits", "ctLZW",         "ctFax3", "ctFaxRLE",     "ctFax4",
    "ctFaxRLEW", "ctLZ77",  "ctJPEG",      "ctOJPEG",      "ctThunderscan", "ctNext", "ctIT8CTPAD",   "ctIT8LW",
    "ctIT8MP",   "ctIT8BL", "ctPixarFilm", "ctPixarLog",   "ctDCS",         "ctJBIG", "ctPCDHuffmann"};

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

std::string RectText(const TRect& r) {
  return std::to_string(r.Left) + " " + std::to_string(r.Top) + " " + std::to_string(r.Right) + " " +
         std::to_string(r.Bottom);
}

void PrintMetafileHeader(const TMetafile& m) {
  const TMetafileHeader& h = m.Header();
  std::cout << "metafile: "
            << (h.Enhanced    ? "EMF"
                : h.Placeable ? "WMF placeable"
                              : "WMF")
            << "\n"
            << "size 0.01 mm: " << m.MMWidth() << " " << m.MMHeight() << "\n";
  if (h.Enhanced) {
    std::cout << "bounds: " << RectText(h.Bounds) << "\n"
              << "frame: " << RectText(h.Frame) << "\n"
              << "device: " << h.Device.X << " " << h.Device.Y << "\n"
              << "millimeters: " << h.Millimeters.X << " " << h.Millimeters.Y << "\n"
              << "records: " << h.Records << "\n"
              << "handles: " << h.Handles << "\n"
              << "bytes: " << h.FileBytes << "\n";
  } else {
    if (h.Placeable)
      std::cout << "box: " << RectText(h.PlaceableBox) << "\n"
                << "inch: " << h.Inch << "\n";
    else
      std::cout << "window: " << RectText(h.WindowBox) << "\n";
    std::cout << "objects: " << h.ObjectCount << "\n"
              << "max record words: " << h.MaxRecordWords << "\n";
  }
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
  if (g.InheritsFrom(TMetafile::StaticClass())) PrintMetafileHeader(static_cast<TMetafile&>(g));
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
  SetWarningHandler(
      [](const std::string& title, const std::string& text) { std::cerr << title << ": " << text << "\n"; });
  if (argc < 2) return Usage();
  // metafile drawing leaves font caches behind; released before the end so that leak checkers stay quiet
  struct ReleaseCaches {
    ~ReleaseCaches() { ReleaseMetafileCaches(); }
  } releaseCaches;
  const std::string command = argv[1];
  try {
    const TFrameworkScope framework;
    if (command == "convert" && argc == 4) return Convert(argv[2], argv[3]);
    if (command == "save" && argc == 4) return Save(argv[2], argv[3]);
    if (command == "stretch" && (argc == 7 || argc == 8)) return StretchCommand(argc, argv);
    if (command == "info" && argc == 3) return Info(argv[2]);
    if (command == "formats" && argc == 2) return Formats();
    return Usage();
  } catch (const std::exception& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
}
