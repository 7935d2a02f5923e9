// The TIFF file structure as the reader sees it (TIFF 6.0 section 2): the 8-byte header, the chain
// of image file directories and the values of their tags, and the image-properties record of one
// directory (TIFF 6.0 sections 3 to 8 for the baseline tags and their defaults).
#include "imaging/formats/TIFFGraphic.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "classlib/ByteOrder.h"
#include "classlib/Exception.h"
#include "classlib/Format.h"
#include "classlib/Streams.h"
#include "imaging/Graphicstrings.h"

namespace muralo {

MURALO_DEFINE_GRAPHIC_CLASS(TTIFFGraphic, TFrameworkGraphic, &TTIFFGraphic::CanLoad)

namespace {

constexpr int64_t kHeaderSize = 8;
constexpr int64_t kEntrySize = 12;

// Baseline and extension tags read here (TIFF 6.0 sections 8, 14, 18, 21 and appendix A).
enum : uint32_t {
  tagImageWidth = 256,
  tagImageLength = 257,
  tagBitsPerSample = 258,
  tagCompression = 259,
  tagPhotometric = 262,
  tagFillOrder = 266,
  tagSamplesPerPixel = 277,
  tagRowsPerStrip = 278,
  tagXResolution = 282,
  tagYResolution = 283,
  tagPlanarConfig = 284,
  tagResolutionUnit = 296,
  tagPredictor = 317,
  tagTileWidth = 322,
  tagTileLength = 323,
  tagExtraSamples = 338,
  tagYCbCrCoefficients = 529,
  tagYCbCrSubSampling = 530,
  tagYCbCrPositioning = 531,
};

// Field types (TIFF 6.0 section 2).
enum : uint16_t {
  ftBYTE = 1,
  ftASCII,
  ftSHORT,
  ftLONG,
  ftRATIONAL,
  ftSBYTE,
  ftUNDEFINED,
  ftSSHORT,
  ftSLONG,
  ftSRATIONAL,
  ftFLOAT,
  ftDOUBLE
};

uint16_t Get16(const uint8_t* p, bool bigEndian) { return bigEndian ? GetBE16(p) : GetLE16(p); }
uint32_t Get32(const uint8_t* p, bool bigEndian) { return bigEndian ? GetBE32(p) : GetLE32(p); }

bool IsByteType(uint16_t t) { return t == ftBYTE || t == ftASCII || t == ftSBYTE || t == ftUNDEFINED; }
bool IsShortType(uint16_t t) { return t == ftSHORT || t == ftSSHORT; }
bool IsLongType(uint16_t t) { return t == ftLONG || t == ftSLONG; }

float FloatFromBits(uint32_t bits) {
  float f = 0;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

// TIFF 6.0 section 8, Compression.
TCompressionType CompressionOf(uint32_t code) {
  switch (code) {
    case 1:
      return ctNone;
    case 2:
      return ctFaxRLE;
    case 3:
      return ctFax3;
    case 4:
      return ctFax4;
    case 5:
      return ctLZW;
    case 6:
      return ctOJPEG;
    case 7:
      return ctJPEG;
    case 8:
      return ctLZ77;
    case 32766:
      return ctNext;
    case 32771:
      return ctFaxRLEW;
    case 32773:
      return ctPackedBits;
    case 32809:
      return ctThunderscan;
    case 32895:
      return ctIT8CTPAD;
    case 32896:
      return ctIT8LW;
    case 32897:
      return ctIT8MP;
    case 32898:
      return ctIT8BL;
    case 32908:
      return ctPixarFilm;
    case 32909:
      return ctPixarLog;
    case 32946:
      return ctLZ77;
    case 32947:
      return ctDCS;
    case 34661:
      return ctJBIG;
    default:
      return ctUnknown;
  }
}

// TIFF 6.0 section 8, PhotometricInterpretation (values 0 to 8).
TColorScheme SchemeOf(uint32_t photometric, uint32_t samples) {
  switch (photometric) {
    case 0:
    case 1:
      return csG;
    case 2:
      return samples >= 4 ? csRGBA : csRGB;
    case 3:
      return csIndexed;
    case 5:
      return csCMYK;
    case 6:
      return csYCbCr;
    case 8:
      return csCIELab;
    default:
      return csUnknown;
  }
}

// Reads the header at the current position: answers whether it has a byte-order mark and the
// version 42; sets the byte order and the first directory's offset.
bool ParseHeader(const uint8_t (&b)[kHeaderSize], bool& bigEndian, uint32_t& version, uint32_t& firstIFD) {
  // Only "MM" is big-endian; any other mark reads as little-endian (CanLoad insists on the two).
  bigEndian = b[0] == 'M' && b[1] == 'M';
  version = Get16(b + 2, bigEndian);
  firstIFD = Get32(b + 4, bigEndian);
  return version == 42;
}

}  // namespace

uint32_t TIFFTypeSize(uint16_t dataType) {
  switch (dataType) {
    case ftBYTE:
    case ftASCII:
    case ftSBYTE:
    case ftUNDEFINED:
      return 1;
    case ftSHORT:
    case ftSSHORT:
      return 2;
    case ftLONG:
    case ftSLONG:
    case ftFLOAT:
      return 4;
    case ftRATIONAL:
    case ftSRATIONAL:
    case ftDOUBLE:
      return 8;
    default:
      return 0;
  }
}

bool TTIFFGraphic::CanLoad(TStream& stream) {
  uint8_t b[kHeaderSize];
  if (!PeekHeader(stream, b, kHeaderSize, kHeaderSize + 1)) return false;
  if (!((b[0] == 'I' && b[1] == 'I') || (b[0] == 'M' && b[1] == 'M'))) return false;
  bool bigEndian = false;
  uint32_t version = 0, firstIFD = 0;
  if (!ParseHeader(b, bigEndian, version, firstIFD)) return false;
  return int64_t{firstIFD} < stream.Size() - stream.Position();
}

TIFDEntry TTIFFGraphic::ParseIFDEntry(const uint8_t* b, bool bigEndian) {
  TIFDEntry e;
  e.Tag = Get16(b, bigEndian);
  e.DataType = Get16(b + 2, bigEndian);
  e.DataLength = Get32(b + 4, bigEndian);
  std::copy_n(b + 8, 4, e.Inline.begin());
  const uint64_t total = uint64_t{TIFFTypeSize(e.DataType)} * e.DataLength;
  if (total > 4) {
    e.Offset = Get32(b + 8, bigEndian);
  } else if (IsShortType(e.DataType) && e.DataLength == 1) {
    e.Offset = Get16(b + 8, bigEndian);  // a single SHORT reads as the low 16 bits
  } else if (IsByteType(e.DataType) && e.DataLength == 1) {
    e.Offset = b[8];
  } else {
    e.Offset = Get32(b + 8, bigEndian);
  }
  return e;
}

void TTIFFGraphic::SortIFD() {
  std::stable_sort(IFD.begin(), IFD.end(), [](const TIFDEntry& a, const TIFDEntry& b) { return a.Tag < b.Tag; });
}

void TTIFFGraphic::ReadIFD(TStream& stream, uint32_t offset) {
  stream.SetPosition(BasePosition + offset);
  uint8_t countBytes[2];
  stream.ReadBuffer(countBytes, 2);
  const uint16_t count = Get16(countBytes, BigEndian());
  const std::vector<uint8_t> bytes = ReadBytes(stream, int64_t{count} * kEntrySize);
  IFD.clear();
  IFD.reserve(count);
  // Values kept elsewhere must lie inside the file: a directory whose values the file cannot
  // supply belongs to a truncated file, whichever tag they are for.
  const uint64_t fileSize = static_cast<uint64_t>(std::max<int64_t>(stream.Size() - BasePosition, 0));
  for (uint32_t i = 0; i < count; ++i) {
    const TIFDEntry e = ParseIFDEntry(bytes.data() + i * kEntrySize, BigEndian());
    const uint64_t total = uint64_t{TIFFTypeSize(e.DataType)} * e.DataLength;
    if (total > 4 && e.Offset + total > fileSize) throw EReadError();
    IFD.push_back(e);
  }
  SortIFD();
}

bool TTIFFGraphic::FindTag(uint32_t tag, uint32_t& index) const {
  const auto at =
      std::lower_bound(IFD.begin(), IFD.end(), tag, [](const TIFDEntry& e, uint32_t t) { return e.Tag < t; });
  index = static_cast<uint32_t>(at - IFD.begin());
  return at != IFD.end() && at->Tag == tag;
}

uint32_t TTIFFGraphic::GetValue(uint32_t tag, uint32_t defaultValue) const {
  uint32_t i = 0;
  if (!FindTag(tag, i)) return defaultValue;
  const TIFDEntry& e = IFD[i];
  if (e.DataLength != 1) return e.Offset;
  if (e.DataType == ftBYTE) return e.Offset & 0xFF;
  if (IsShortType(e.DataType)) return e.Offset & 0xFFFF;
  if (IsLongType(e.DataType)) return e.Offset;
  return defaultValue;
}

float TTIFFGraphic::GetFloatValue(TStream& stream, uint32_t tag, float defaultValue) {
  uint32_t i = 0;
  if (!FindTag(tag, i) || IFD[i].DataLength != 1) return defaultValue;
  const TIFDEntry& e = IFD[i];
  switch (e.DataType) {
    case ftBYTE:
    case ftSHORT:
    case ftSSHORT:
    case ftLONG:
    case ftSLONG:
      return static_cast<float>(GetValue(tag, 0));
    case ftRATIONAL:
    case ftSRATIONAL: {
      stream.SetPosition(BasePosition + e.Offset);
      uint8_t b[8];
      stream.ReadBuffer(b, 8);
      const uint32_t denominator = Get32(b + 4, BigEndian());
      // A zero denominator has no value; the default stands for it.
      if (denominator == 0) return defaultValue;
      return static_cast<float>(static_cast<double>(Get32(b, BigEndian())) / denominator);
    }
    case ftFLOAT:
      return FloatFromBits(Get32(e.Inline.data(), BigEndian()));
    default:
      return defaultValue;
  }
}

namespace {

// The values of one entry as unsigned numbers and as floats, read from the entry itself or from
// the file. A list cannot hold more values than the file has bytes: longer ones are a read error
// before anything is allocated.
template <typename T, typename Convert>
void ReadList(TStream& stream, int64_t base, const TIFDEntry& e, bool bigEndian, bool readRationals,
              std::vector<T>& values, Convert convert) {
  values.clear();
  if (e.DataLength == 0) return;
  const uint32_t size = TIFFTypeSize(e.DataType);
  const uint64_t total = uint64_t{size} * e.DataLength;
  if (e.DataLength > static_cast<uint64_t>(std::max<int64_t>(stream.Size(), 0)) + 4) throw EReadError();
  values.assign(e.DataLength, T{});
  std::vector<uint8_t> stored;
  const uint8_t* data = nullptr;
  if (total <= 4) {
    data = e.Inline.data();
  } else {
    if (!IsByteType(e.DataType) && !IsShortType(e.DataType) && !IsLongType(e.DataType) &&
        !(readRationals && (e.DataType == ftRATIONAL || e.DataType == ftSRATIONAL || e.DataType == ftFLOAT)))
      return;  // values of these types are not read: the elements stay 0
    stream.SetPosition(base + e.Offset);
    stored = ReadBytes(stream, static_cast<int64_t>(total));
    data = stored.data();
  }
  for (uint32_t i = 0; i < e.DataLength; ++i) {
    const uint8_t* p = data + size_t{i} * size;
    if (IsByteType(e.DataType))
      values[i] = convert(*p, 1);
    else if (IsShortType(e.DataType))
      values[i] = convert(Get16(p, bigEndian), 1);
    else if (IsLongType(e.DataType))
      values[i] = convert(Get32(p, bigEndian), 1);
    else if (readRationals && total > 4 && (e.DataType == ftRATIONAL || e.DataType == ftSRATIONAL))
      values[i] = convert(Get32(p, bigEndian), Get32(p + 4, bigEndian));
    else if (readRationals && e.DataType == ftFLOAT)
      values[i] = static_cast<T>(FloatFromBits(Get32(p, bigEndian)));
  }
}

}  // namespace

void TTIFFGraphic::GetValueList(TStream& stream, uint32_t tag, TByteArray& values) {
  uint32_t i = 0;
  values.clear();
  if (!FindTag(tag, i)) return;
  ReadList(stream, BasePosition, IFD[i], BigEndian(), false, values,
           [](uint32_t v, uint32_t) { return static_cast<uint8_t>(v); });
}

void TTIFFGraphic::GetValueList(TStream& stream, uint32_t tag, TCardinalArray& values) {
  uint32_t i = 0;
  values.clear();
  if (!FindTag(tag, i)) return;
  ReadList(stream, BasePosition, IFD[i], BigEndian(), false, values, [](uint32_t v, uint32_t) { return v; });
}

void TTIFFGraphic::GetValueList(TStream& stream, uint32_t tag, TFloatArray& values) {
  uint32_t i = 0;
  values.clear();
  if (!FindTag(tag, i)) return;
  ReadList(stream, BasePosition, IFD[i], BigEndian(), true, values,
           [](uint32_t n, uint32_t d) { return d == 0 ? 0.0f : static_cast<float>(static_cast<double>(n) / d); });
}

uint32_t TTIFFGraphic::CountImages(TStream& stream) {
  uint8_t b[kHeaderSize];
  stream.SetPosition(BasePosition);
  if (stream.Read(b, kHeaderSize) != kHeaderSize) return 0;
  bool bigEndian = false;
  uint32_t version = 0, offset = 0;
  if (!ParseHeader(b, bigEndian, version, offset)) return 0;
  // A chain that comes back to a directory already seen, or leaves the file, ends there.
  std::unordered_set<uint32_t> seen;
  uint32_t count = 0;
  while (offset != 0 && seen.insert(offset).second && count < 0xFFFF) {
    stream.SetPosition(BasePosition + offset);
    uint8_t n[2];
    if (stream.Read(n, 2) != 2) break;
    const int64_t skip = int64_t{Get16(n, bigEndian)} * kEntrySize;
    if (stream.Remaining() < skip + 4) break;
    ++count;
    stream.Seek(skip, TSeekOrigin::soCurrent);
    uint8_t next[4];
    stream.ReadBuffer(next, 4);
    offset = Get32(next, bigEndian);
  }
  return count;
}

bool TTIFFGraphic::ReadImageProperties(TStream& stream, uint32_t imageIndex) {
  TFrameworkGraphic::ReadImageProperties(stream, imageIndex);
  IFD.clear();
  TImageProperties& p = ImageProperties;
  stream.SetPosition(BasePosition);
  uint8_t header[kHeaderSize];
  stream.ReadBuffer(header, kHeaderSize);
  bool bigEndian = false;
  const bool valid = ParseHeader(header, bigEndian, p.Version, p.FirstIFD);
  if (bigEndian) p.Options.Include(ioBigEndian);
  if (!valid) return false;

  // Walk the chain to the wanted directory; a chain that loops never reaches it.
  uint32_t offset = p.FirstIFD;
  std::unordered_set<uint32_t> seen{offset};
  while (imageIndex > 0) {
    --imageIndex;
    stream.SetPosition(BasePosition + offset);
    uint8_t n[2];
    stream.ReadBuffer(n, 2);
    stream.Seek(int64_t{Get16(n, bigEndian)} * kEntrySize, TSeekOrigin::soCurrent);
    uint8_t next[4];
    stream.ReadBuffer(next, 4);
    offset = Get32(next, bigEndian);
    if (offset == 0 || !seen.insert(offset).second) return false;
  }
  ReadIFD(stream, offset);

  p.Width = GetValue(tagImageWidth, 0);
  p.Height = GetValue(tagImageLength, 0);
  if (p.Width == 0 || p.Height == 0) return false;

  GetValueList(stream, tagRowsPerStrip, p.RowsPerStrip);
  if (p.RowsPerStrip.empty() || p.RowsPerStrip[0] == 0xFFFFFFFF) p.RowsPerStrip = {p.Height};

  // Samples stored per pixel are kept in Channels: rows hold all of them, whatever the colour
  // scheme uses.
  const uint32_t stored = GetValue(tagSamplesPerPixel, 1);
  p.Channels = static_cast<uint8_t>(std::min<uint32_t>(stored, 255));
  uint32_t samples = p.Channels;
  TByteArray bits;
  GetValueList(stream, tagBitsPerSample, bits);
  p.BitsPerSample = bits.empty() ? 1 : bits[0];

  p.TileWidth = GetValue(tagTileWidth, 0);
  p.TileLength = GetValue(tagTileLength, 0);
  if (p.TileWidth > 0 && p.TileLength > 0) p.Options.Include(ioTiled);

  const uint32_t photometric = GetValue(tagPhotometric, 0);
  TCardinalArray extra;
  GetValueList(stream, tagExtraSamples, extra);
  if (!extra.empty()) {
    const uint32_t n = static_cast<uint32_t>(std::min<size_t>(extra.size(), samples));
    // An RGB image keeps one alpha sample counted when the first extra sample is alpha,
    // associated (1) or unassociated (2, what most writers of RGBA files store).
    const bool alpha = photometric == 2 && (extra[0] == 1 || extra[0] == 2);
    samples -= alpha ? n - 1 : n;
  }
  p.SamplesPerPixel = static_cast<uint8_t>(samples);
  p.BitsPerPixel = static_cast<uint8_t>(p.BitsPerSample * p.SamplesPerPixel);
  p.HasAlpha = photometric == 2 && p.SamplesPerPixel >= 4;

  p.Compression = CompressionOf(GetValue(tagCompression, 1));
  p.ColorScheme = photometric > 8 ? csUnknown : SchemeOf(photometric, p.SamplesPerPixel);
  if (photometric == 0) p.Options.Include(ioMinIsWhite);
  if (photometric == 6) {
    GetValueList(stream, tagYCbCrSubSampling, p.YCbCrSubSampling);
    if (p.YCbCrSubSampling.empty()) p.YCbCrSubSampling = {2, 2};
    uint32_t at = 0;
    YCbCrPositioning = FindTag(tagYCbCrPositioning, at) ? GetValue(tagYCbCrPositioning, 1) : 1;
    GetValueList(stream, tagYCbCrCoefficients, YCbCrCoefficients);
    if (YCbCrCoefficients.empty()) YCbCrCoefficients = {0.299f, 0.587f, 0.114f};
  }
  // The JPEG colour mode and tables mode are pseudo-tags that no directory carries.
  p.JPEGColorMode = 0;
  p.JPEGTablesMode = 3;
  p.PlanarConfig = GetValue(tagPlanarConfig, 1);
  p.XResolution = GetFloatValue(stream, tagXResolution, 0);
  p.YResolution = GetFloatValue(stream, tagYResolution, 0);
  if (GetValue(tagResolutionUnit, 2) == 3) {
    p.XResolution /= 25.4f;
    p.YResolution /= 25.4f;
  }
  p.PredictorMode = GetValue(tagPredictor, 0);
  if (GetValue(tagFillOrder, 1) == 2) p.Options.Include(ioReversed);
  p.ImageCount = static_cast<uint16_t>(CountImages(stream));
  return true;
}

void TTIFFGraphic::SaveToStream(TStream&) {}

}  // namespace muralo
