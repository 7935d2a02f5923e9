#pragma once
// Tagged Image File Format (TIFF 6.0): the header, the image file directories and their tag
// values (TIFFGraphic.cpp), and the decoding of the first image's strips or tiles into the bitmap
// (TIFFDecoding.cpp).
#include <array>
#include <cstdint>
#include <vector>

#include "imaging/GraphicFramework.h"

namespace muralo {

// One 12-byte directory entry (TIFF 6.0 section 2, "Image File Directory"), its numbers in the
// machine's order. Offset holds the values themselves when they fit into 4 bytes; Inline keeps
// those 4 bytes as the file stores them, so that element i of an inline list can be taken in the
// file's byte order.
struct TIFDEntry {
  uint16_t Tag = 0;
  uint16_t DataType = 0;
  uint32_t DataLength = 0;
  uint32_t Offset = 0;
  std::array<uint8_t, 4> Inline{};
};

// Room for a colour map of 256 entries: the red, green and blue planes of 16-bit values.
using TTIFFPalette = std::array<uint16_t, 3 * 256>;

// Bytes of one value of a TIFF field type (TIFF 6.0 section 2, "Types"); 0 for unknown types.
uint32_t TIFFTypeSize(uint16_t dataType);

class TTIFFGraphic : public TFrameworkGraphic {
  MURALO_GRAPHIC_CLASS(TTIFFGraphic)
 public:
  using TFrameworkGraphic::CanLoad;
  static bool CanLoad(TStream& stream);
  bool ReadImageProperties(TStream& stream, uint32_t imageIndex) override;
  void SaveToStream(TStream& stream) override;

  // Binary search of the sorted directory: the lowest entry with that tag, or where it would go.
  bool FindTag(uint32_t tag, uint32_t& index) const;
  uint32_t GetValue(uint32_t tag, uint32_t defaultValue = 0) const;
  float GetFloatValue(TStream& stream, uint32_t tag, float defaultValue);
  void GetValueList(TStream& stream, uint32_t tag, TByteArray& values);
  void GetValueList(TStream& stream, uint32_t tag, TCardinalArray& values);
  void GetValueList(TStream& stream, uint32_t tag, TFloatArray& values);
  // Sorts the directory by tag.
  void SortIFD();

  // Directories in the file's chain (a chain that loops or runs past the file ends the count).
  uint32_t CountImages(TStream& stream);

  std::vector<TIFDEntry> IFD;
  TTIFFPalette PaletteBuffer{};
  uint32_t YCbCrPositioning = 1;
  TFloatArray YCbCrCoefficients;

 protected:
  const char* RefusedHeaderLabel() const override;
  bool HasPreparingStage() const override { return true; }
  void LoadImage(TStream& stream) override;
  // Reads the directory at that offset (from BasePosition) into IFD, converted and sorted.
  void ReadIFD(TStream& stream, uint32_t offset);
  bool BigEndian() const { return ImageProperties.Options.Has(ioBigEndian); }
  // Converts the 12 bytes of one directory entry of a file of that byte order.
  static TIFDEntry ParseIFDEntry(const uint8_t* bytes, bool bigEndian);

 private:
  // The pixel decoding of LoadFromStream (TIFFDecoding.cpp).
  void DecodeImage(TStream& stream);
};

}  // namespace muralo
