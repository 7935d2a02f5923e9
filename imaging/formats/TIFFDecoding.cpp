// Decoding of a TIFF image into the bitmap: which decoder a compression needs, then one walk over
// the image's strips or tiles (TIFF 6.0 sections 3 and 15), undoing the predictor (section 14) and
// handing each row, or one row per plane (PlanarConfiguration 2, section 8), to the colour
// manager.
#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "classlib/ByteOrder.h"
#include "classlib/Exception.h"
#include "classlib/Format.h"
#include "classlib/Streams.h"
#include "imaging/Graphicstrings.h"
#include "imaging/color/GraphicColor.h"
#include "imaging/compression/GraphicCompression.h"
#include "imaging/formats/TIFFGraphic.h"

namespace muralo {

namespace {

constexpr const char* kLabel = "TIF/TIFF";

enum : uint32_t {
  tagStripOffsets = 273,
  tagStripByteCounts = 279,
  tagT4Options = 292,
  tagColorMap = 320,
  tagTileOffsets = 324,
  tagTileByteCounts = 325,
  tagJPEGTables = 347,
};

[[noreturn]] void Invalid() { throw EInvalidGraphic(Format(gesInvalidImage, kLabel)); }
[[noreturn]] void BadColorFormat() { throw EInvalidGraphic(Format(gesInvalidColorFormat, kLabel)); }

uint32_t CeilDiv(uint32_t a, uint32_t b) { return a / b + (a % b != 0 ? 1 : 0); }

// Samples the colour scheme takes from each pixel.
uint32_t SchemeSamples(TColorScheme scheme) {
  switch (scheme) {
    case csG:
    case csIndexed:
      return 1;
    case csRGB:
    case csYCbCr:
    case csCIELab:
      return 3;
    case csRGBA:
    case csCMYK:
      return 4;
    default:
      return 0;
  }
}

// Where the strips or tiles of one plane lie, and how big one decoded block is.
struct TLayout {
  bool Tiled = false;
  uint32_t BlockWidth = 0, BlockHeight = 0;  // pixels of one strip or tile
  uint32_t Across = 1, Down = 1;             // blocks per plane, across and down
  uint32_t Planes = 1;                       // separate planes (PlanarConfiguration 2)
  uint32_t Samples = 1;                      // samples of one pixel inside a block
  uint32_t SubH = 1, SubV = 1;               // YCbCr subsampling stored in the blocks
  size_t RowBytes = 0;                       // one decoded row of a block
  size_t BlockBytes = 0;                     // the stored (decoded) block
  size_t ExpandedRowBytes = 0;               // a row of full YCbCr triples, when subsampled
};

// The running sums of one pixel's samples stay in named registers (an array of them ends up in
// memory, where each sum waits for the store of the previous pixel's one).
template <unsigned Stride>
void UndoPredictor8(uint8_t* row, uint32_t pixels) {
  static_assert(Stride >= 1 && Stride <= 4);
  unsigned s0 = row[0], s1 = 0, s2 = 0, s3 = 0;
  if constexpr (Stride > 1) s1 = row[1];
  if constexpr (Stride > 2) s2 = row[2];
  if constexpr (Stride > 3) s3 = row[3];
  uint8_t* const end = row + size_t{pixels} * Stride;
  for (uint8_t* p = row + Stride; p < end; p += Stride) {
    p[0] = static_cast<uint8_t>(s0 += p[0]);
    if constexpr (Stride > 1) p[1] = static_cast<uint8_t>(s1 += p[1]);
    if constexpr (Stride > 2) p[2] = static_cast<uint8_t>(s2 += p[2]);
    if constexpr (Stride > 3) p[3] = static_cast<uint8_t>(s3 += p[3]);
  }
}

// TIFF 6.0 section 14: horizontal differencing undone, sample by sample, in place. 16-bit samples
// are words in the file's byte order.
void UndoPredictor(uint8_t* row, uint32_t pixels, uint32_t stride, uint32_t bits, bool bigEndian) {
  if (pixels < 2) return;
  const size_t count = size_t{pixels - 1} * stride;
  if (bits == 8) {
    switch (stride) {
      case 1:
        return UndoPredictor8<1>(row, pixels);
      case 2:
        return UndoPredictor8<2>(row, pixels);
      case 3:
        return UndoPredictor8<3>(row, pixels);
      case 4:
        return UndoPredictor8<4>(row, pixels);
      default:
        for (size_t i = 0; i < count; ++i) row[i + stride] = static_cast<uint8_t>(row[i + stride] + row[i]);
    }
  } else if (bits == 16) {
    uint8_t* p = row;
    const size_t step = size_t{stride} * 2;
    for (size_t i = 0; i < count; ++i, p += 2) {
      uint8_t* q = p + step;
      if (bigEndian) {
        const auto v = static_cast<uint16_t>(GetBE16(q) + GetBE16(p));
        q[0] = static_cast<uint8_t>(v >> 8);
        q[1] = static_cast<uint8_t>(v);
      } else {
        PutLE16(q, static_cast<uint16_t>(GetLE16(q) + GetLE16(p)));
      }
    }
  }
}

// Keeps the first `keep` of `stored` samples of every pixel (extra samples the colour scheme
// does not use), for samples of 8 or 16 bits or any width packed most significant bit first.
void SelectSamples(const uint8_t* source, uint8_t* target, uint32_t pixels, uint32_t stored, uint32_t keep,
                   uint32_t bits) {
  if (bits % 8 == 0) {
    const size_t in = size_t{stored} * bits / 8, out = size_t{keep} * bits / 8;
    for (uint32_t x = 0; x < pixels; ++x) std::memcpy(target + x * out, source + x * in, out);
    return;
  }
  std::memset(target, 0, (size_t{pixels} * keep * bits + 7) / 8);
  for (uint32_t x = 0; x < pixels; ++x)
    for (uint32_t s = 0; s < keep; ++s)
      for (uint32_t b = 0; b < bits; ++b) {
        const uint64_t from = (uint64_t{x} * stored + s) * bits + b;
        const uint64_t to = (uint64_t{x} * keep + s) * bits + b;
        if (source[from / 8] & (0x80 >> (from % 8))) target[to / 8] |= static_cast<uint8_t>(0x80 >> (to % 8));
      }
}

// TIFF 6.0 section 21: subsampled YCbCr data units (SubH × SubV luma samples, then Cb and Cr)
// spread into rows of one triple per pixel.
void ExpandYCbCr(const TLayout& L, const uint8_t* block, uint8_t* rows) {
  const uint32_t unitsAcross = CeilDiv(L.BlockWidth, L.SubH);
  const uint32_t unitsDown = CeilDiv(L.BlockHeight, L.SubV);
  const size_t unitBytes = size_t{L.SubH} * L.SubV + 2;
  for (uint32_t uy = 0; uy < unitsDown; ++uy)
    for (uint32_t ux = 0; ux < unitsAcross; ++ux) {
      const uint8_t* unit = block + (size_t{uy} * unitsAcross + ux) * unitBytes;
      const uint8_t cb = unit[unitBytes - 2], cr = unit[unitBytes - 1];
      for (uint32_t j = 0; j < L.SubV; ++j) {
        const uint32_t y = uy * L.SubV + j;
        if (y >= L.BlockHeight) break;
        for (uint32_t i = 0; i < L.SubH; ++i) {
          const uint32_t x = ux * L.SubH + i;
          if (x >= L.BlockWidth) break;
          uint8_t* t = rows + size_t{y} * L.ExpandedRowBytes + size_t{x} * 3;
          t[0] = unit[j * L.SubH + i];
          t[1] = cb;
          t[2] = cr;
        }
      }
    }
}

std::unique_ptr<TDecoder> CreateDecoder(const TImageProperties& p, uint32_t t4Options, uint32_t width,
                                        TImageProperties* jpegProperties) {
  const bool reversed = p.Options.Has(ioReversed);
  switch (p.Compression) {
    case ctNone:
      return nullptr;
    case ctPackedBits:
      return std::make_unique<TPackbitsRLEDecoder>();
    case ctLZW:
      return std::make_unique<TTIFFLZWDecoder>();
    case ctFax3:
      return std::make_unique<TCCITTFax3Decoder>(t4Options, reversed, false, width);
    case ctFaxRLE:
      return std::make_unique<TCCITTMHDecoder>(t4Options, reversed, false, width);
    case ctFaxRLEW:
      return std::make_unique<TCCITTMHDecoder>(t4Options, reversed, true, width);
    case ctLZ77:
      return std::make_unique<TDeflateBlockDecoder>();
    case ctJPEG:
      return std::make_unique<TTIFFJPEGDecoder>(jpegProperties);
    case ctThunderscan:
      return std::make_unique<TThunderDecoder>(width);
    default:
      throw EInvalidGraphic(Format(gesUnsupportedFeature, gesCompressionScheme, kLabel));
  }
}

}  // namespace

// The skeleton has read the directory (a refused one is gesInvalidImage "TIF/TIFF") and started the
// preparing stage.
void TTIFFGraphic::LoadImage(TStream& stream) { DecodeImage(stream); }

const char* TTIFFGraphic::RefusedHeaderLabel() const { return kLabel; }

void TTIFFGraphic::DecodeImage(TStream& stream) {
  TImageProperties& p = ImageProperties;
  const bool bigEndian = p.Options.Has(ioBigEndian);
  const bool jpeg = p.Compression == ctJPEG;
  const uint32_t stored = p.Channels;
  const uint32_t bits = p.BitsPerSample;

  if (p.PlanarConfig != 1 && p.PlanarConfig != 2) Invalid();
  const bool planar = p.PlanarConfig == 2 && stored > 1;
  // The JPEG decoder reads 8-bit interleaved scans only: planar JPEG and 12-bit JPEG are left to
  // other programs, like the other compressions refused in CreateDecoder.
  if (jpeg && (planar || bits != 8)) throw EInvalidGraphic(Format(gesUnsupportedFeature, gesCompressionScheme, kLabel));

  // What the rows hold must be what the colour scheme reads: anything else would make the colour
  // manager read past a row.
  const uint32_t colourSamples = SchemeSamples(p.ColorScheme);
  if (colourSamples == 0 || p.SamplesPerPixel != colourSamples || stored < colourSamples) BadColorFormat();
  const bool sampled = p.ColorScheme == csG || p.ColorScheme == csIndexed;
  if (sampled ? !(bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16) : !(bits == 8 || bits == 16))
    BadColorFormat();
  // The colour map of TIFF 6.0 section 5 has 2^BitsPerSample entries; the bitmap's palette 256.
  if (p.ColorScheme == csIndexed && bits > 8) Invalid();

  TLayout L;
  L.Tiled = p.Options.Has(ioTiled);
  if (L.Tiled) {
    L.BlockWidth = p.TileWidth;
    L.BlockHeight = p.TileLength;
  } else {
    L.BlockWidth = p.Width;
    // RowsPerStrip of 0 describes no strip at all; past the height it means one strip.
    if (p.RowsPerStrip.empty() || p.RowsPerStrip[0] == 0) Invalid();
    L.BlockHeight = std::min(p.RowsPerStrip[0], p.Height);
  }
  L.Across = CeilDiv(p.Width, L.BlockWidth);
  L.Down = CeilDiv(p.Height, L.BlockHeight);
  L.Planes = planar ? stored : 1;
  L.Samples = planar ? 1 : stored;

  // JPEG blocks come out of libjpeg as grey, three-sample (blue, green, red) or CMYK pixels.
  uint32_t jpegSamples = 0;
  if (jpeg) {
    jpegSamples = colourSamples;
    if (p.ColorScheme == csIndexed || p.ColorScheme == csCIELab || p.ColorScheme == csRGBA) BadColorFormat();
  }
  const bool subsampled = !jpeg && p.ColorScheme == csYCbCr && p.YCbCrSubSampling.size() >= 2 &&
                          (p.YCbCrSubSampling[0] != 1 || p.YCbCrSubSampling[1] != 1);
  if (subsampled) {
    // TIFF 6.0 section 21: subsampling factors 1, 2 or 4, of 8-bit contiguous samples.
    L.SubH = p.YCbCrSubSampling[0];
    L.SubV = p.YCbCrSubSampling[1];
    auto valid = [](uint32_t f) { return f == 1 || f == 2 || f == 4; };
    if (!valid(L.SubH) || !valid(L.SubV) || bits != 8 || planar || stored != 3) BadColorFormat();
  }

  // Block sizes, checked against overflow and the memory limit before anything is allocated.
  const uint32_t blockSamples = jpeg ? jpegSamples : L.Samples;
  const uint64_t rowBits = CheckedMul(CheckedMul(L.BlockWidth, blockSamples, kLabel), jpeg ? 8 : bits, kLabel);
  L.RowBytes = static_cast<size_t>((rowBits + 7) / 8);
  uint64_t blockBytes = CheckedMul(L.RowBytes, L.BlockHeight, kLabel);
  if (subsampled) {
    const uint64_t units = CheckedMul(CeilDiv(L.BlockWidth, L.SubH), CeilDiv(L.BlockHeight, L.SubV), kLabel);
    blockBytes = CheckedMul(units, uint64_t{L.SubH} * L.SubV + 2, kLabel);
    L.ExpandedRowBytes = size_t{L.BlockWidth} * 3;
  }

  // Colour manager settings: the source side as the rows hold it, the target as the bitmap needs.
  TColorManager& cm = ColorManager();
  cm.SourceOptions = bigEndian ? TConvertOptions{coNeedByteSwap} : TConvertOptions{};
  cm.SetSourceBitsPerSample(static_cast<uint8_t>(bits));
  // 16-bit samples go to 8-bit targets; 2-bit ones to 4-bit pixels, the bitmap's nearest depth.
  cm.SetTargetBitsPerSample(static_cast<uint8_t>(bits == 16 ? 8 : bits == 2 ? 4 : bits));
  TColorScheme source = p.ColorScheme;
  if (jpeg && colourSamples == 3) source = csBGR;
  cm.SetSourceColorScheme(source);
  TColorScheme target = source;
  switch (source) {
    case csRGBA:
      target = csBGRA;
      break;
    case csRGB:
    case csBGR:
    case csCMY:
    case csCMYK:
    case csCIELab:
    case csYCbCr:
      target = csBGR;
      break;
    default:
      break;
  }
  cm.SetTargetColorScheme(target);
  // Extra samples that the colour scheme does not use are dropped from a copy of the row (planar
  // images simply leave their planes out).
  const bool select = !planar && !jpeg && stored != colourSamples;
  cm.SetSourceSamplesPerPixel(static_cast<uint8_t>(colourSamples));
  cm.SetTargetSamplesPerPixel(static_cast<uint8_t>(source == csCMYK ? 3 : colourSamples));
  if (source == csCIELab) cm.SourceOptions.Include(coLabByteRange);

  SetPixelFormat(cm.GetPixelFormat(1));
  // The image's own size first (the framework's message for it), then the working buffers.
  CheckImageSize(p.Width, p.Height, BitsPerPixel());
  CheckAllocation(CheckedMul(blockBytes, L.Planes, kLabel));
  if (subsampled) CheckAllocation(CheckedMul(L.ExpandedRowBytes, L.BlockHeight, kLabel));
  if (blockBytes > uint64_t{std::numeric_limits<int32_t>::max()}) Invalid();
  L.BlockBytes = static_cast<size_t>(blockBytes);
  SizeFromProperties();
  const uint32_t targetBits = BitsPerPixel();
  // Tiles start inside a row of the bitmap; they must start on a byte there.
  if (L.Tiled && (uint64_t{L.BlockWidth} * targetBits) % 8 != 0) Invalid();

  if (target == csIndexed || target == csG || target == csGA) {
    if (source == csIndexed) {
      // TIFF 6.0 section 5, ColorMap: 3 × 2^BitsPerSample SHORTs, all red values, then green, blue.
      const uint32_t colours = 1u << bits;
      uint32_t at = 0;
      if (!FindTag(tagColorMap, at) || IFD[at].DataLength < 3 * colours || TIFFTypeSize(IFD[at].DataType) != 2)
        throw EInvalidGraphic(Format(gesInvalidPalette, kLabel));
      stream.SetPosition(BasePosition + IFD[at].Offset);
      const std::vector<uint8_t> map = ReadBytes(stream, int64_t{colours} * 6);
      for (size_t i = 0; i < size_t{colours} * 3; ++i)
        PaletteBuffer[i] = bigEndian ? GetBE16(map.data() + 2 * i) : GetLE16(map.data() + 2 * i);
      SetPalette(cm.CreateColorPalette({map.data(), map.data() + 2 * colours, map.data() + 4 * colours},
                                       pfPlane16Triple, colours, false));
    } else {
      SetPalette(cm.CreateGrayscalePalette(p.Options.Has(ioMinIsWhite)));
    }
  } else if (source == csYCbCr) {
    cm.SetYCbCrParameters(YCbCrCoefficients, p.YCbCrSubSampling.size() > 0 ? p.YCbCrSubSampling[0] : 1,
                          p.YCbCrSubSampling.size() > 1 ? p.YCbCrSubSampling[1] : 1);
  }
  p.BytesPerLine = static_cast<uint32_t>(std::min<uint64_t>((uint64_t{p.BitsPerPixel} * p.Width + 7) / 8, 0xFFFFFFFF));

  // Where the blocks are. Without byte counts only uncompressed blocks have a known size.
  TCardinalArray offsets, counts;
  GetValueList(stream, L.Tiled ? tagTileOffsets : tagStripOffsets, offsets);
  GetValueList(stream, L.Tiled ? tagTileByteCounts : tagStripByteCounts, counts);
  if (p.Compression != ctNone && counts.size() < offsets.size()) Invalid();
  const bool predictor = p.Compression != ctNone && p.PredictorMode == 2 && !jpeg && !subsampled;

  TImageProperties jpegProperties = p;
  if (jpeg) {
    GetValueList(stream, tagJPEGTables, jpegProperties.JPEGTables);
    if (p.ColorScheme != csYCbCr) jpegProperties.YCbCrSubSampling.clear();
    jpegProperties.SamplesPerPixel = static_cast<uint8_t>(jpegSamples);
    jpegProperties.BytesPerLine = static_cast<uint32_t>(L.RowBytes);
    if (L.Tiled) {
      jpegProperties.Width = L.BlockWidth;
      jpegProperties.Height = L.BlockHeight;
      jpegProperties.RowsPerStrip = {L.BlockHeight};
    }
  }
  std::unique_ptr<TDecoder> decoder = CreateDecoder(p, GetValue(tagT4Options, 0), L.BlockWidth, &jpegProperties);
  if (decoder) decoder->DecodeInit();
  struct TEnd {
    TDecoder* Decoder;
    ~TEnd() {
      try {
        if (Decoder) Decoder->DecodeEnd();
      } catch (...) {  // NOLINT(bugprone-empty-catch): the error that ended the load is the one reported
      }
    }
  } end{decoder.get()};

  EndProgress();
  StartProgress(gesTransfering);

  const int64_t fileSize = stream.Size() - BasePosition;
  const uint64_t blocksPerPlane = uint64_t{L.Across} * L.Down;
  std::vector<std::vector<uint8_t>> blocks(L.Planes, std::vector<uint8_t>(L.BlockBytes));
  std::vector<uint8_t> packed, expanded(subsampled ? L.ExpandedRowBytes * L.BlockHeight : 0);
  std::vector<uint8_t> selected(select ? (size_t{L.BlockWidth} * colourSamples * bits + 7) / 8 : 0);

  // Reads and decodes one block into its buffer. What the file does not supply (a block it does
  // not list, a short block, data that ends early) is zero.
  auto* lzw = dynamic_cast<TTIFFLZWDecoder*>(decoder.get());
  auto* deflate = dynamic_cast<TDeflateBlockDecoder*>(decoder.get());
  // Answers how many bytes at the block's start hold data.
  auto readBlock = [&](uint64_t index, uint32_t rows, std::vector<uint8_t>& block) -> size_t {
    if (index >= offsets.size()) {
      std::fill(block.begin(), block.end(), uint8_t{0});
      return 0;
    }
    const uint64_t wanted = subsampled ? L.BlockBytes : uint64_t{rows} * L.RowBytes;
    const uint64_t count = index < counts.size() ? counts[index] : wanted;
    const uint64_t offset = offsets[index];
    if (offset + count > static_cast<uint64_t>(std::max<int64_t>(fileSize, 0))) Invalid();
    stream.SetPosition(BasePosition + static_cast<int64_t>(offset));
    if (!decoder) {
      // Bytes past the block's rows are not needed.
      const size_t got = static_cast<size_t>(std::min<uint64_t>(count, L.BlockBytes));
      stream.ReadBuffer(block.data(), static_cast<int64_t>(got));
      std::fill(block.begin() + static_cast<std::ptrdiff_t>(got), block.end(), uint8_t{0});
      return got;
    }
    if (count > uint64_t{std::numeric_limits<int32_t>::max()}) Invalid();
    packed.resize(static_cast<size_t>(count));
    stream.ReadBuffer(packed.data(), static_cast<int64_t>(count));
    if (jpeg) jpegProperties.CurrentRow = L.Tiled ? 0 : p.CurrentRow;
    // Decoders that tell how much they wrote need only the rest cleared.
    if (!lzw && !deflate) std::fill(block.begin(), block.end(), uint8_t{0});
    const uint8_t* s = packed.data();
    uint8_t* d = block.data();
    const uint64_t room = jpeg ? uint64_t{rows} * L.RowBytes : L.BlockBytes;
    decoder->Decode(s, d, static_cast<int32_t>(count), static_cast<int32_t>(room));
    if (lzw || deflate) {
      const size_t produced = std::min(lzw ? lzw->BytesDecoded() : deflate->BytesDecoded(), block.size());
      std::fill(block.begin() + static_cast<std::ptrdiff_t>(produced), block.end(), uint8_t{0});
      return produced;
    }
    return block.size();
  };
  // Rows without data convert to zero bytes in these schemes, which the new bitmap holds already:
  // they are skipped (a file may declare millions of rows and supply none).
  const bool zeroIsZero =
      source == csG || source == csIndexed || source == csRGB || source == csRGBA || source == csBGR;

  std::vector<const void*> sources(std::max<uint32_t>(L.Planes, 1));
  p.StripCount = static_cast<uint32_t>(offsets.size());
  p.CurrentRow = 0;
  for (uint32_t by = 0; by < L.Down; ++by) {
    const uint32_t top = by * L.BlockHeight;
    const uint32_t rows = std::min(L.BlockHeight, p.Height - top);
    p.CurrentRow = top;
    for (uint32_t bx = 0; bx < L.Across; ++bx) {
      const uint32_t left = bx * L.BlockWidth;
      const uint32_t pixels = std::min(L.BlockWidth, p.Width - left);
      const uint64_t index = uint64_t{by} * L.Across + bx;
      p.CurrentStrip = static_cast<uint32_t>(std::min<uint64_t>(index, 0xFFFFFFFF));
      // Tiles are always whole (TIFF 6.0 section 15); strips hold the rows left.
      const uint32_t blockRows = L.Tiled ? L.BlockHeight : rows;
      size_t valid = 0;
      for (uint32_t plane = 0; plane < L.Planes; ++plane)
        valid = std::max(valid, readBlock(index + plane * blocksPerPlane, blockRows, blocks[plane]));
      if (subsampled) ExpandYCbCr(L, blocks[0].data(), expanded.data());
      const bool lastAcross = bx + 1 == L.Across;
      for (uint32_t r = 0; r < rows; ++r) {
        if (zeroIsZero && !subsampled && size_t{r} * L.RowBytes >= valid) {
          if (lastAcross) RowProgress(top + r + 1, p.Height);
          continue;
        }
        for (uint32_t plane = 0; plane < L.Planes; ++plane) {
          uint8_t* row = subsampled ? expanded.data() + size_t{r} * L.ExpandedRowBytes
                                    : blocks[plane].data() + size_t{r} * L.RowBytes;
          if (predictor) UndoPredictor(row, L.BlockWidth, L.Samples, bits, bigEndian);
          sources[plane] = row;
        }
        if (select) {
          SelectSamples(static_cast<const uint8_t*>(sources[0]), selected.data(), pixels, stored, colourSamples, bits);
          sources[0] = selected.data();
        }
        uint8_t* targetRow = RowData(static_cast<int>(top + r)) + size_t{left} * targetBits / 8;
        const size_t planesUsed = planar ? std::min<size_t>(L.Planes, colourSamples) : 1;
        cm.ConvertRow(TPointerArray(sources.data(), planesUsed), targetRow, pixels, 0xFF);
        if (lastAcross) RowProgress(top + r + 1, p.Height);
      }
    }
  }
  p.CurrentRow = p.Height;
}

}  // namespace muralo
