#include "imaging/formats/PNGGraphic.h"

#include <algorithm>
#include <cstring>

#include <libdeflate.h>
#include <zlib.h>

#include "classlib/ByteOrder.h"
#include "classlib/Exception.h"
#include "classlib/Format.h"
#include "classlib/Streams.h"
#include "imaging/Graphicstrings.h"
#include "imaging/color/GraphicColor.h"
#include "imaging/compression/GraphicCompression.h"

namespace muralo {

MURALO_DEFINE_GRAPHIC_CLASS(TPNGGraphic, TFrameworkGraphic, &TPNGGraphic::CanLoad)

namespace {

constexpr const char* kLabel = "PNG";
constexpr uint8_t kSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
constexpr uint32_t kNoColor = 0x1FFFFFFF;

constexpr TChunkType kIHDR = ChunkType("IHDR");
constexpr TChunkType kIDAT = ChunkType("IDAT");
constexpr TChunkType kIEND = ChunkType("IEND");
constexpr TChunkType kPLTE = ChunkType("PLTE");
constexpr TChunkType kgAMA = ChunkType("gAMA");
constexpr TChunkType kbKGD = ChunkType("bKGD");
constexpr TChunkType ktRNS = ChunkType("tRNS");

TPNGIHDR ParseIHDR(const uint8_t* d) { return TPNGIHDR{GetBE32(d), GetBE32(d + 4), d[8], d[9], d[10], d[11], d[12]}; }

[[noreturn]] void Invalid(const char* message) { throw EInvalidGraphic(Format(message, kLabel)); }

}  // namespace

bool TPNGGraphic::CanLoad(TStream& stream) {
  uint8_t bytes[8];
  if (!PeekHeader(stream, bytes, 8, 9)) return false;
  return std::memcmp(bytes, kSignature, 8) == 0;
}

// PNG 5.4: chunk types are case-sensitive, but files written with their letters' case changed are
// read as their standard counterparts, as the bits that encode the properties are ignored.
bool TPNGGraphic::IsChunk(TChunkType type) const { return (Header.ChunkType & 0xDFDFDFDF) == (type & 0xDFDFDFDF); }

uint32_t TPNGGraphic::LoadAndSwapHeader() {
  uint8_t bytes[8];
  Stream->ReadBuffer(bytes, 8);
  Header.Length = GetBE32(bytes);
  Header.ChunkType = GetBE32(bytes + 4);
  return libdeflate_crc32(0, bytes + 4, 4);
}

void TPNGGraphic::CheckChunkFits() {
  // The length is checked against what the stream holds before anything is allocated.
  if (int64_t{Header.Length} + 4 > Stream->Size() - Stream->Position()) throw EReadError();
}

void TPNGGraphic::ReadChunkData(uint8_t* into) {
  Stream->ReadBuffer(into, Header.Length);
  const uint32_t stored = ReadBE32(*Stream);
  // The standard CRC-32, continued over the data; libdeflate's computes it with carry-less
  // multiplication where the processor has it, several times faster than zlib's table walk.
  if (Header.Length > 0) CurrentCRC = libdeflate_crc32(CurrentCRC, into, Header.Length);
  if (stored != CurrentCRC) Invalid(gesInvalidCRC);
}

void TPNGGraphic::ReadDataAndCheckCRC() {
  CheckChunkFits();
  RawBuffer.resize(Header.Length);
  ReadChunkData(RawBuffer.data());
}

void TPNGGraphic::SkipChunk() {
  if (int64_t{Header.Length} + 4 > Stream->Size() - Stream->Position()) throw EReadError();
  Stream->Seek(int64_t{Header.Length} + 4, TSeekOrigin::soCurrent);
}

bool TPNGGraphic::ReadImageProperties(TStream& stream, uint32_t imageIndex) {
  TFrameworkGraphic::ReadImageProperties(stream, imageIndex);
  Stream = &stream;
  uint8_t signature[8];
  stream.ReadBuffer(signature, 8);
  if (std::memcmp(signature, kSignature, 8) != 0) return false;
  // PNG 5.6: IHDR comes first. Apple's CgBI files put their own chunk before it and hold data
  // that is not a PNG image stream, so they are refused here too.
  CurrentCRC = LoadAndSwapHeader();
  if (!IsChunk(kIHDR)) return false;
  TImageProperties& p = ImageProperties;
  p.Options.Include(ioBigEndian);
  ReadDataAndCheckCRC();
  if (Header.Length < 13) return false;
  const TPNGIHDR h = ParseIHDR(RawBuffer.data());
  if (h.Width == 0 || h.Height == 0) return false;
  p.Width = h.Width;
  p.Height = h.Height;
  p.Compression = h.Compression == 0 ? ctLZ77 : ctUnknown;
  p.BitsPerSample = h.BitDepth;
  switch (h.ColorType) {
    case 0:
      p.ColorScheme = csG, p.SamplesPerPixel = 1;
      break;
    case 2:
      p.ColorScheme = csRGB, p.SamplesPerPixel = 3;
      break;
    case 3:
      p.ColorScheme = csIndexed, p.SamplesPerPixel = 1;
      break;
    case 4:
      p.ColorScheme = csGA, p.SamplesPerPixel = 2;
      break;
    case 6:
      p.ColorScheme = csRGBA, p.SamplesPerPixel = 4;
      break;
    default:
      p.ColorScheme = csUnknown, p.SamplesPerPixel = 1;
      break;
  }
  p.BitsPerPixel = static_cast<uint8_t>(p.SamplesPerPixel * h.BitDepth);
  p.FilterMode = h.Filter;
  p.Interlaced = h.Interlace != 0;
  for (;;) {
    CurrentCRC = LoadAndSwapHeader();
    if (IsChunk(kgAMA)) {
      ReadDataAndCheckCRC();
      // PNG 11.3.3.2: the gamma times 100000; a chunk too short to hold it is ignored.
      if (Header.Length >= 4) p.FileGamma = static_cast<float>(GetBE32(RawBuffer.data())) / 100000.0f;
      break;
    }
    if (IsChunk(kIEND)) break;
    SkipChunk();
  }
  return true;
}

uint32_t TPNGGraphic::SetupColorDepth(uint8_t colorType, uint8_t bitDepth) {
  TColorManager& cm = ColorManager();
  auto configure = [&](TColorScheme source, uint8_t sourceSamples, TColorScheme target, uint8_t targetSamples,
                       uint8_t targetBits) {
    cm.SetSourceColorScheme(source);
    cm.SetSourceSamplesPerPixel(sourceSamples);
    cm.SetSourceBitsPerSample(bitDepth);
    cm.SetTargetColorScheme(target);
    cm.SetTargetSamplesPerPixel(targetSamples);
    cm.SetTargetBitsPerSample(targetBits);
  };
  const uint32_t d = bitDepth;
  // PNG 11.2.2, table 11.1: the allowed combinations of colour type and bit depth.
  switch (colorType) {
    case 0:
      if (d != 1 && d != 2 && d != 4 && d != 8 && d != 16) break;
      configure(csG, 1, csG, 1, static_cast<uint8_t>(d == 2 ? 4 : d == 16 ? 8 : d));
      SetPixelFormat(cm.GetPixelFormat(1));
      Palette = cm.CreateGrayscalePalette(false);
      return (d + 7) / 8;
    case 2:
      if (d != 8 && d != 16) break;
      configure(csRGB, 3, csBGR, 3, 8);
      SetPixelFormat(TPixelFormat::pf24bit);
      return d * 3 / 8;
    case 3:
      if (d != 1 && d != 2 && d != 4 && d != 8) break;
      configure(csIndexed, 1, csIndexed, 1, static_cast<uint8_t>(d == 2 ? 4 : d));
      SetPixelFormat(cm.GetPixelFormat(1));
      return 1;
    case 4:
      if (d != 8 && d != 16) break;
      configure(csGA, 1, csIndexed, 1, 8);
      SetPixelFormat(TPixelFormat::pf8bit);
      Palette = cm.CreateGrayscalePalette(false);
      return d * 2 / 8;
    case 6:
      if (d != 8 && d != 16) break;
      configure(csRGBA, 4, csBGRA, 4, 8);
      SetPixelFormat(TPixelFormat::pf32bit);
      return d * 4 / 8;
    default:
      break;
  }
  Invalid(gesInvalidColorFormat);
}

void TPNGGraphic::LoadPalette(const TPNGIHDR& ihdr) {
  if (Header.Length % 3 != 0) Invalid(gesInvalidPalette);
  ReadDataAndCheckCRC();
  if (ihdr.ColorType != 3) return;  // PNG 11.2.3: a suggested palette for true-colour images
  SourceBPP = SetupColorDepth(ihdr.ColorType, ihdr.BitDepth);
  ColorDepthSet = true;
  // Every index the bit depth can express gets an entry: indices past the file's entries (an
  // error by PNG 11.2.3) show black instead of reaching past the palette. Entries beyond 256
  // have no index and are dropped.
  const uint32_t entries = std::min<uint32_t>(Header.Length / 3, 256);
  std::vector<uint8_t> data(3 * 256, 0);
  std::copy_n(RawBuffer.data(), size_t{entries} * 3, data.data());
  Palette = ColorManager().CreateColorPalette(data.data(), pfInterlaced8Triple, 1u << ihdr.BitDepth, false);
}

void TPNGGraphic::LoadBackgroundColor(const TPNGIHDR& ihdr) {
  ReadDataAndCheckCRC();
  const uint8_t* d = RawBuffer.data();
  const uint32_t depth = ihdr.BitDepth;
  auto scaled = [depth](uint16_t v) -> uint32_t {
    if (depth == 2) return MulDiv16(v, 15, 3);
    if (depth == 16) return MulDiv16(v, 255, 65535);
    return v & 0xFF;
  };
  // PNG 11.3.5.1; a chunk too short for its colour type is ignored.
  switch (ihdr.ColorType) {
    case 0:
    case 4:
      if (Header.Length >= 2) BackgroundColor = scaled(GetBE16(d));
      break;
    case 2:
    case 6:
      if (Header.Length >= 6)
        BackgroundColor =
            RGB(uint8_t(scaled(GetBE16(d))), uint8_t(scaled(GetBE16(d + 2))), uint8_t(scaled(GetBE16(d + 4))));
      break;
    default:
      if (Header.Length >= 1) BackgroundColor = d[0];
      break;
  }
}

void TPNGGraphic::LoadTransparency(const TPNGIHDR& ihdr) {
  ReadDataAndCheckCRC();
  // PNG 11.3.2.1: one grey or one RGB sample set, in the image's bit depth. It is kept as stored
  // and compared with the image's samples at that depth; a value the depth cannot express
  // matches no pixel. Palette alphas (colour type 3) are read and checked but not used.
  const uint32_t max = (1u << ihdr.BitDepth) - 1;
  const uint8_t* d = RawBuffer.data();
  TransparentSample.clear();
  if (ihdr.ColorType == 0 && Header.Length >= 2 && GetBE16(d) <= max) {
    TransparentSample.assign(d, d + 2);
  } else if (ihdr.ColorType == 2 && Header.Length >= 6 && GetBE16(d) <= max && GetBE16(d + 2) <= max &&
             GetBE16(d + 4) <= max) {
    TransparentSample.assign(d, d + 6);
  }
  TransparentColor = TransparentSample.empty() ? kNoColor : 0;  // the colour is settled with the bitmap
}

// The skeleton has released the image, read the header (a refused one is gesInvalidImage with the
// label) and started the preparing stage; the chunks are walked from just after the signature.
void TPNGGraphic::LoadImage(TStream& stream) {
  Decoder.reset();
  Stream = &stream;
  ColorDepthSet = ImageDataRead = StreamEnded = UseGathered = false;
  TransparentSample.clear();
  FLastPath = TPNGInflatePath::ipNone;
  stream.SetPosition(BasePosition + 8);

  // On every way out: the decoder ended and freed, the buffers freed.
  TProgressScope finish([this] {
    Decoder.reset();
    RawBuffer = {};
    ReleaseGathered();
  });

  Palette = nullptr;
  TransparentColor = kNoColor;
  BackgroundColor = 0xFFFFFF;
  TColorManager& cm = ColorManager();
  cm.SourceOptions = TConvertOptions{coNeedByteSwap};  // PNG 7.1: 16-bit samples are big-endian

  CurrentCRC = LoadAndSwapHeader();
  ReadDataAndCheckCRC();
  const TPNGIHDR ihdr = ParseIHDR(RawBuffer.data());
  if (ImageProperties.Compression != ctLZ77)
    throw EInvalidGraphic(Format(gesUnsupportedFeature, gesCompressionScheme, kLabel));

  Decoder = std::make_unique<TLZ77Decoder>(Z_PARTIAL_FLUSH, false);
  Decoder->DecodeInit();

  for (;;) {
    CurrentCRC = LoadAndSwapHeader();
    if (IsChunk(kIDAT) && !ImageDataRead) {
      Progress(TProgressStage::psEnding, 100, false, ProgressRect, "");
      LoadIDAT(ihdr);
      ImageDataRead = true;
      // LoadIDAT leaves the first chunk after the image data current; it is handled below.
    } else if (IsChunk(kIDAT)) {
      // PNG 5.6: the image data chunks are consecutive; a later run has no image to go to.
      SkipChunk();
      continue;
    } else if (IsChunk(kPLTE)) {
      LoadPalette(ihdr);
      continue;
    } else if (IsChunk(kgAMA)) {
      ReadDataAndCheckCRC();
      if (Header.Length >= 4) {
        cm.SetGamma(static_cast<float>(GetBE32(RawBuffer.data())) / 100000.0f, 2.2f);
        cm.TargetOptions.Include(coApplyGamma);
        ImageProperties.Options.Include(ioUseGamma);
      }
      continue;
    } else if (IsChunk(kbKGD)) {
      LoadBackgroundColor(ihdr);
      continue;
    } else if (IsChunk(ktRNS)) {
      LoadTransparency(ihdr);
      continue;
    }
    SkipChunk();
    if (IsChunk(kIEND)) break;
    // PNG 5.4: bit 5 of the first letter clear marks a chunk the image cannot be shown without.
    if ((Header.ChunkType & 0x20000000) == 0) throw EInvalidGraphic(gesUnknownCriticalChunk);
  }
  // A file that ends without image data has no picture to show.
  if (!ImageDataRead) Invalid(gesInvalidImage);
  Decoder->DecodeEnd();
}

std::vector<uint8_t> DecodePNGToBGRA(const uint8_t* data, size_t size, int& width, int& height) {
  TPNGGraphic png;
  TReadOnlyMemoryStream stream(data, static_cast<int64_t>(size));
  png.LoadFromStream(stream);
  width = png.Width();
  height = png.Height();
  const size_t rowBytes = size_t(width) * 4;
  std::vector<uint8_t> bgra(rowBytes * size_t(height));
  const bool withAlpha = png.PixelFormat() == TPixelFormat::pf32bit;
  const uint32_t key = png.TransparentColor;
  for (int y = 0; y < height; ++y) {
    uint8_t* row = bgra.data() + rowBytes * size_t(y);
    if (withAlpha) {
      std::copy_n(png.RowData(y), rowBytes, row);
      continue;
    }
    png.ReadRowBGRA(y, row);
    if (!png.Transparent) continue;
    for (int x = 0; x < width; ++x) {
      uint8_t* p = row + 4 * size_t(x);
      if (RGB(p[2], p[1], p[0]) == key) p[3] = 0;
    }
  }
  return bgra;
}

}  // namespace muralo
