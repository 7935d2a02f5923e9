// The reader table (see ReaderTable.h for how to add a reader).
//
// The build reads this file too: each READER(TClass, fuzz) names a reader whose sources are
// imaging/formats/<Class without T>.h/.cpp and whose fuzz target is fuzz_<fuzz>
// (cmake/ReaderTable.cmake). Keep READER(...) on one line; rows of the class library use LIBRARY.
#include "imaging/ReaderTable.h"

#include "classlib/Bitmap.h"
#include "classlib/Icon.h"
#include "classlib/JPEGImage.h"
#include "classlib/Metafile.h"
#include "imaging/GraphicFramework.h"
#include "imaging/Graphicstrings.h"
#include "imaging/ReaderHeaders.h"  // generated from the READER rows below

namespace muralo {

#define LIBRARY(Class) &Class::StaticClass, ""
#define READER(Class, fuzz) &Class::StaticClass, #fuzz

namespace {
constexpr TFormatTypes kRaster{ftRaster};
constexpr TFormatTypes kVector{ftVector};
constexpr TFormatTypes kMultiRaster{ftMultiImage, ftRaster};
constexpr TFormatTypes kLayeredRaster{ftLayered, ftRaster};
constexpr TFormatTypes kRasterVector{ftRaster, ftVector};
}  // namespace

const std::vector<TReaderRow>& ReaderTable() {
  // The 39 registrations in their order.
  // clang-format off
  static const std::vector<TReaderRow> table = {
      {LIBRARY(TBitmap), nullptr, kRaster, {{"bmp", &gesBitmaps}}, 0, {}, false},
      {LIBRARY(TIcon), nullptr, kRaster, {{"ico", &gesIcons}}, 0, {}, false},
      {LIBRARY(TMetafile), nullptr, kVector,
       {{"wmf", &gesMetaFiles}, {"emf", &gesMetaFiles, &gesEnhancedMetaFiles}}, 0, {}, false},
      {LIBRARY(TJPEGImage), nullptr, kRaster,
       {{"jfif", &gesJPGImages, &gesJFIFImages}, {"jpg", nullptr, &gesJPGImages}, {"jpe", nullptr, &gesJPEImages},
        {"jpeg", nullptr, &gesJPEGImages}}, 0, {}, false},
      {LIBRARY(TBitmap), nullptr, kRaster,
       {{"rle", &gesBitmaps, &gesRLEBitmaps}, {"dib", nullptr, &gesDIBs}}, 12, {}, false},
      {READER(TTargaGraphic, targa), &lblTarga, kRaster,
       {{"win", &gesTruevision}, {"vst"}, {"vda"}, {"tga"}, {"icb"}}, 3,
       {"truecolour_rle.tga", "truecolour_raw.tga", "palette_rle.tga"}, true},
      {READER(TTIFFGraphic, tiff), &lblTIFF, kMultiRaster,
       {{"tiff", &gesTIFF, &gesMacTIFF}, {"tif", nullptr, &gesPCTIF}, {"fax", nullptr, &gesGFIFax}}, 4,
       {"none.tif", "lzw.tif", "packbits.tif", "palette.tif"}, true},
      {READER(TEPSGraphic, eps), &lblEPS, kRaster,
       {{"eps", &gesEPS}}, 0,
       {"none.eps", "lzw.eps"}, true},
      {READER(TPCXGraphic, pcx), &lblPCX, kRaster,
       {{"pcx", &gesZSoft}, {"pcc"}, {"scr", nullptr, &gesZSoftWord}}, 6,
       {"rgb.pcx", "palette.pcx", "planes4.pcx", "packed2.pcx"}, true},
      {READER(TRLAGraphic, rla), &lblRLA, kRaster,
       {{"rpf", &gesAliasWaveFront}, {"rla"}}, 11,
       {"tiny.rla"}, true},
      {READER(TSGIGraphic, sgi), &lblSGI, kRaster,
       {{"sgi", &gesSGI, &gesSGITrueColor}, {"rgba", nullptr, &gesSGITrueColorAlpha},
        {"rgb", nullptr, &gesSGITrueColor}, {"bw", nullptr, &gesSGIMono}}, 5,
       {"rle.sgi", "verbatim.sgi", "grey.sgi", "sixteen.sgi"}, true},
      {READER(TPSDGraphic, psd), &lblPSD, kLayeredRaster,
       {{"psd", &gesPhotoshop}, {"pdd"}}, 2,
       {"rgb8-RLE.psd", "grey8-None.psd", "idx-RLE.psd", "rgb16-None.psd"}, true},
      {READER(TPPMGraphic, ppm), &lblPortableMap, kRaster,
       {{"ppm", &gesPortable, &gesPortablePixel}, {"pgm", nullptr, &gesPortableGray},
        {"pbm", nullptr, &gesPortableMono}}, 9,
       {"raw.ppm", "plain.pgm", "plain.ppm", "raw.pbm", "plain.pbm"}, true},
      {READER(TAutodeskGraphic, autodesk), &lblAutodesk, kRaster,
       {{"cel", &gesAutoDesk}, {"pic", &gesAutoDesk}}, 7,
       {"tiny.cel"}, true},
      {READER(TPCDGraphic, pcd), &lblPCD, kRaster,
       {{"pcd", &gesKodakPhotoCD}}, 8,
       {"base"}, true},
      {READER(TCUTGraphic, cut), nullptr, kRaster,
       {{"cut", &gesHalo}}, 10,
       {"tiny.cut"}, false},
      {READER(TPSPGraphic, psp), &lblPSP, kRasterVector,
       {{"psp", &gesPaintShopPro}}, 1,
       {"v4_c1_24bit", "v5_c0_24bit"}, true},
      {READER(TPNGGraphic, png), &lblPNG, kRaster,
       {{"png", &gesPortableNetworkGraphic}}, 13,
       {"t2d8None.png", "t3d8.png", "t6d8None.png", "t0d16None.png"}, true},
  };
  // clang-format on
  return table;
}

#undef LIBRARY
#undef READER

const TReaderRow* FindReaderRow(TGraphicClass graphicClass) {
  for (const TReaderRow& row : ReaderTable())
    if (row.GraphicClass() == graphicClass) return &row;
  return nullptr;
}

std::unique_ptr<TFrameworkGraphic> CreateReader(const TReaderRow& row) {
  std::unique_ptr<TGraphic> graphic = row.GraphicClass()->Create();
  auto* reader = dynamic_cast<TFrameworkGraphic*>(graphic.get());
  if (!reader) return nullptr;
  graphic.release();
  return std::unique_ptr<TFrameworkGraphic>(reader);
}

}  // namespace muralo
