#pragma once
// TMetafile: a Windows metafile, either a Windows Metafile (.wmf, [MS-WMF], plain or with the Aldus
// placeable header) or an Enhanced Metafile (.emf, [MS-EMF]). It keeps the file's bytes (saving
// writes them back unchanged) and draws by playing its records through a small GDI layer over
// Cairo (GdiDevice.h), one record player per format family (WmfPlayer.cpp, EmfPlayer.cpp).

#include <cstdint>
#include <vector>

#include "classlib/Graphics.h"

namespace muralo {

// What the file's header says, for the tools and the tests.
struct TMetafileHeader {
  bool Enhanced = false;
  // WMF
  bool Placeable = false;
  TRect PlaceableBox;        // bounding box in metafile units
  uint16_t Inch = 0;         // metafile units per inch
  uint16_t ObjectCount = 0;  // size of the object table
  uint32_t MaxRecordWords = 0;
  TRect WindowBox;  // plain WMF: the window its records set (origin and extent)
  // EMF
  TRect Bounds;        // device units, inclusive
  TRect Frame;         // 0.01 mm, inclusive
  TPoint Device;       // reference device in pixels
  TPoint Millimeters;  // reference device in millimetres
  uint32_t Records = 0;
  uint16_t Handles = 0;
  uint32_t FileBytes = 0;
};

class TMetafile : public TGraphic {
  MURALO_GRAPHIC_CLASS(TMetafile)
 public:
  TMetafile() = default;
  ~TMetafile() override = default;

  // Size in screen pixels (96 per inch), as Windows reports it: a placeable WMF's box in units per
  // inch, a plain WMF's window extent, an EMF's frame at its reference device's resolution.
  int Width() const override { return FWidth; }
  int Height() const override { return FHeight; }
  // Size in 0.01 mm.
  int MMWidth() const { return FMMWidth; }
  int MMHeight() const { return FMMHeight; }
  bool Enhanced() const { return FHeader.Enhanced; }
  const TMetafileHeader& Header() const { return FHeader; }
  const std::vector<uint8_t>& Data() const { return FData; }

  // Plays the records into rect of the canvas's bitmap (only the part of rect inside the bitmap is
  // rendered, so the cost follows the target, not the picture).
  void Draw(TCanvas& canvas, const TRect& rect) override;
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) override;  // the bytes it was loaded from
  void Assign(const TGraphic& source) override;

  // The most records one drawing plays; the rest of a longer file is not drawn.
  static constexpr uint32_t kRecordBudget = 4u << 20;

 private:
  std::vector<uint8_t> FData;
  TMetafileHeader FHeader;
  int FWidth = 0, FHeight = 0, FMMWidth = 0, FMMHeight = 0;
};

// Releases what drawing metafiles cached process-wide (Cairo's font faces and fontconfig's
// configuration). For programs about to end and for leak checkers; no metafile may be drawing.
void ReleaseMetafileCaches();

}  // namespace muralo
