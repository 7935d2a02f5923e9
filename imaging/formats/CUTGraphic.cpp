#include "imaging/formats/CUTGraphic.h"

#include <filesystem>
#include <vector>

#include "classlib/ByteOrder.h"
#include "classlib/Exception.h"
#include "classlib/Format.h"
#include "classlib/Streams.h"
#include "imaging/Graphicstrings.h"
#include "imaging/compression/RunLengthDecoders.h"

namespace muralo {

MURALO_DEFINE_GRAPHIC_CLASS(TCUTGraphic, TFrameworkGraphic, &TCUTGraphic::CanLoad)

namespace {
constexpr int64_t kPalBlock = 512;
constexpr uint32_t kPalFirstEntry = 40;
constexpr uint32_t kPalEntrySize = 6;
}  // namespace

bool TCUTGraphic::CanLoad(TStream&) { return false; }

void TCUTGraphic::LoadFromFile(const std::string& fileName) {
  PaletteFileName = std::filesystem::path(fileName).replace_extension(".pal").string();
  TFrameworkGraphic::LoadFromFile(fileName);
}

bool TCUTGraphic::ReadImageProperties(TStream& stream, uint32_t imageIndex) {
  TFrameworkGraphic::ReadImageProperties(stream, imageIndex);
  SetPixelFormat(TPixelFormat::pf8bit);
  TImageProperties& p = ImageProperties;
  p.Width = ReadLE16(stream);
  p.Height = ReadLE16(stream);
  p.SetLayout(csIndexed, 8, 1, ctRLE);
  return true;
}

void TCUTGraphic::LoadPalette() {
  std::vector<TPaletteEntry> entries;
  std::error_code ec;
  if (!PaletteFileName.empty() && std::filesystem::is_regular_file(PaletteFileName, ec)) {
    TFileStream pal(PaletteFileName, TFileMode::fmOpenRead);
    uint8_t block[kPalBlock];
    pal.ReadBuffer(block, kPalBlock);
    // At most 256 entries are kept; the rest of the file is not needed.
    const uint32_t count = std::min<uint32_t>(uint32_t{GetLE16(block + 12)} + 1, 256);
    uint32_t at = kPalFirstEntry;
    for (uint32_t i = 0; i < count; ++i) {
      // An entry never spans two blocks: one that would, starts the next block instead.
      if (at + kPalEntrySize > kPalBlock) {
        pal.ReadBuffer(block, kPalBlock);
        at = 0;
      }
      entries.push_back(TPaletteEntry{block[at], block[at + 2], block[at + 4], 0});
      at += kPalEntrySize;
    }
  } else {
    for (uint32_t i = 0; i < 256; ++i) {
      const auto v = static_cast<uint8_t>(i);
      entries.push_back(TPaletteEntry{v, v, v, 0});
    }
  }
  SetPalette(CreatePalette(entries));
}

void TCUTGraphic::LoadImage(TStream& stream) {
  stream.Seek(6, TSeekOrigin::soCurrent);  // width, height and a reserved word
  SetPixelFormat(TPixelFormat::pf8bit);
  // Every row takes at least its 2-byte count and its 0 terminator (a row may stop short of the
  // width; the rest of it stays as the bitmap was).
  SizeFromProperties(stream, uint64_t{ImageProperties.Height} * 3);
  LoadPalette();
  const std::vector<uint8_t> data = ReadBytes(stream, stream.Remaining());
  TCUTRLEDecoder decoder;
  const uint8_t* source = data.data();
  const uint8_t* const end = data.data() + data.size();
  const uint32_t height = ImageProperties.Height;
  for (uint32_t y = 0; y < height; ++y) {
    // A row starts with its 2-byte count and ends with a 0 byte; data that ends before a row's
    // terminator is a truncated file.
    if (end - source < 3) throw EReadError();
    uint8_t* dest = RowData(static_cast<int>(y));
    decoder.Decode(source, dest, static_cast<size_t>(end - source), ImageProperties.Width);
    if (source[-1] != 0) throw EReadError();
    RowProgress(y + 1, height);
  }
}

}  // namespace muralo
