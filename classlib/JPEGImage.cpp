#include "classlib/JPEGImage.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>

#include "classlib/Canvas.h"
#include "classlib/Exception.h"
#include "classlib/Streams.h"

namespace muralo {

MURALO_DEFINE_GRAPHIC_CLASS(TJPEGImage, TGraphic, nullptr)

namespace {

// libjpeg's fatal errors jump back to the function that set up the decoder; the function then
// raises EInvalidGraphic with libjpeg's own text. Warnings (a truncated scan, a bad marker that
// libjpeg skips) are not fatal and are not printed.
struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  cinfo->err->format_message(cinfo, err->message);
  std::longjmp(err->jump, 1);
}

void OutputMessage(j_common_ptr) {}

void InstallErrorManager(jpeg_common_struct& cinfo, ErrorManager& err) {
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = ErrorExit;
  err.pub.output_message = OutputMessage;
  err.message[0] = '\0';
}

// Owns a decompressor; created before the setjmp point so that a jump leaves it intact and its
// destructor releases libjpeg's memory on every path.
struct Decompressor {
  jpeg_decompress_struct cinfo{};
  ErrorManager err{};
  bool created = false;
  ~Decompressor() {
    if (created) jpeg_destroy_decompress(&cinfo);
  }
};

struct Compressor {
  jpeg_compress_struct cinfo{};
  ErrorManager err{};
  bool created = false;
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  ~Compressor() {
    if (created) jpeg_destroy_compress(&cinfo);
    std::free(buffer);
  }
};

struct HeaderInfo {
  int width = 0, height = 0;  // as displayed: swapped for the orientations that turn by 90 degrees
  bool grayscale = false, progressive = false;
  int orientation = 1;
};

// EXIF 2.3 section 4.6.4, tag 0x0112 Orientation: how the stored rows are to be shown.
// 1 as stored, 2 mirrored left-right, 3 turned 180 degrees, 4 mirrored top-bottom, 5 transposed,
// 6 turned 90 degrees clockwise, 7 transversed, 8 turned 90 degrees anticlockwise.
bool SwapsSides(int orientation) { return orientation >= 5 && orientation <= 8; }

// The Orientation of the first APP1 "Exif" segment's IFD0 (a TIFF structure in either byte order),
// 1 when there is none or it cannot be read. Every offset is checked against the segment.
int ExifOrientation(const jpeg_decompress_struct& cinfo) {
  for (jpeg_saved_marker_ptr m = cinfo.marker_list; m; m = m->next) {
    if (m->marker != JPEG_APP0 + 1 || m->data_length < 14 || std::memcmp(m->data, "Exif\0\0", 6) != 0) continue;
    const uint8_t* tiff = m->data + 6;
    const size_t size = m->data_length - 6;
    const bool little = tiff[0] == 'I' && tiff[1] == 'I';
    if (!little && !(tiff[0] == 'M' && tiff[1] == 'M')) return 1;
    auto u16 = [&](size_t at) -> uint32_t {
      return little ? uint32_t(tiff[at]) | uint32_t(tiff[at + 1]) << 8 : uint32_t(tiff[at]) << 8 | tiff[at + 1];
    };
    auto u32 = [&](size_t at) -> uint32_t {
      return little ? u16(at) | u16(at + 2) << 16 : u16(at) << 16 | u16(at + 2);
    };
    const uint32_t ifd = u32(4);
    if (ifd > size || size - ifd < 2) return 1;
    const uint32_t count = u16(ifd);
    for (uint32_t i = 0; i < count; ++i) {
      const size_t entry = size_t(ifd) + 2 + size_t(i) * 12;
      if (entry + 12 > size) return 1;
      if (u16(entry) != 0x0112) continue;
      const uint32_t type = u16(entry + 2);  // SHORT, as the standard says; LONG seen in the wild
      const uint32_t value = type == 4 ? u32(entry + 8) : u16(entry + 8);
      return value >= 1 && value <= 8 ? int(value) : 1;
    }
    return 1;
  }
  return 1;
}

// The bitmap as the orientation wants it shown (any pixel size of whole bytes).
void Orient(TBitmap& bitmap, int orientation) {
  if (orientation <= 1 || orientation > 8 || bitmap.Empty()) return;
  const int w = bitmap.Width(), h = bitmap.Height();
  const size_t bpp = bitmap.PixelFormat() == TPixelFormat::pf8bit ? 1 : 3;
  TBitmap out;
  out.SetPixelFormat(bitmap.PixelFormat());
  if (bitmap.PixelFormat() == TPixelFormat::pf8bit) out.SetPalette(bitmap.Palette());
  const int ow = SwapsSides(orientation) ? h : w, oh = SwapsSides(orientation) ? w : h;
  out.SetSize(ow, oh);
  for (int y = 0; y < oh; ++y) {
    uint8_t* dst = out.RowData(y);
    for (int x = 0; x < ow; ++x) {
      int sx = x, sy = y;
      switch (orientation) {
        case 2:
          sx = w - 1 - x;
          break;
        case 3:
          sx = w - 1 - x;
          sy = h - 1 - y;
          break;
        case 4:
          sy = h - 1 - y;
          break;
        case 5:
          sx = y;
          sy = x;
          break;
        case 6:
          sx = y;
          sy = h - 1 - x;
          break;
        case 7:
          sx = w - 1 - y;
          sy = h - 1 - x;
          break;
        case 8:
          sx = w - 1 - y;
          sy = x;
          break;
        default:
          break;
      }
      std::memcpy(dst + size_t(x) * bpp, bitmap.RowData(sy) + size_t(sx) * bpp, bpp);
    }
  }
  bitmap.Assign(out);
}

// Adobe's CMYK and YCCK JPEG files (APP14 "Adobe") store inverted inks, as Photoshop writes them;
// others store them as they are. Red = (1 - C)(1 - K) on inks in 0..1.
void CmykRowToBgr(const uint8_t* cmyk, uint8_t* bgr, int w, bool inverted) {
  for (int x = 0; x < w; ++x, cmyk += 4, bgr += 3) {
    const unsigned c = inverted ? cmyk[0] : 255u - cmyk[0], m = inverted ? cmyk[1] : 255u - cmyk[1];
    const unsigned yl = inverted ? cmyk[2] : 255u - cmyk[2], k = inverted ? cmyk[3] : 255u - cmyk[3];
    bgr[0] = static_cast<uint8_t>((yl * k + 127) / 255);
    bgr[1] = static_cast<uint8_t>((m * k + 127) / 255);
    bgr[2] = static_cast<uint8_t>((c * k + 127) / 255);
  }
}

void ReadHeader(const std::vector<uint8_t>& data, HeaderInfo& info) {
  Decompressor d;
  d.cinfo.err = nullptr;
  InstallErrorManager(*reinterpret_cast<jpeg_common_struct*>(&d.cinfo), d.err);
  if (setjmp(d.err.jump)) throw EInvalidGraphic(d.err.message);
  jpeg_create_decompress(&d.cinfo);
  d.created = true;
  jpeg_mem_src(&d.cinfo, data.data(), static_cast<unsigned long>(data.size()));
  jpeg_save_markers(&d.cinfo, JPEG_APP0 + 1, 0xFFFF);
  jpeg_read_header(&d.cinfo, TRUE);
  info.orientation = ExifOrientation(d.cinfo);
  info.width = static_cast<int>(d.cinfo.image_width);
  info.height = static_cast<int>(d.cinfo.image_height);
  if (SwapsSides(info.orientation)) std::swap(info.width, info.height);
  info.grayscale = d.cinfo.jpeg_color_space == JCS_GRAYSCALE;
  info.progressive = jpeg_has_multiple_scans(&d.cinfo) != 0;
}

void DecodeImage(const std::vector<uint8_t>& data, bool wantQuantize, int orientation, TBitmap& bitmap) {
  Decompressor d;
  std::vector<uint8_t> rgb;  // one row when the library cannot give B, G, R itself
  InstallErrorManager(*reinterpret_cast<jpeg_common_struct*>(&d.cinfo), d.err);
  if (setjmp(d.err.jump)) throw EInvalidGraphic(d.err.message);
  jpeg_create_decompress(&d.cinfo);
  d.created = true;
  jpeg_mem_src(&d.cinfo, data.data(), static_cast<unsigned long>(data.size()));
  jpeg_read_header(&d.cinfo, TRUE);
  // libjpeg converts YCCK to CMYK but neither to RGB: the inks are turned into B, G, R here, and
  // such a picture is kept at 24 bits (libjpeg cannot quantise CMYK).
  const bool cmyk = d.cinfo.jpeg_color_space == JCS_CMYK || d.cinfo.jpeg_color_space == JCS_YCCK;
  const bool inverted = d.cinfo.saw_Adobe_marker != 0;
  const bool quantize = wantQuantize && !cmyk;
  // Full size, fancy upsampling, the default DCT method and dithering: libjpeg's defaults.
  d.cinfo.scale_num = 1;
  d.cinfo.scale_denom = 1;
  d.cinfo.do_fancy_upsampling = TRUE;
  if (cmyk) {
    d.cinfo.out_color_space = JCS_CMYK;
  } else if (quantize) {
    d.cinfo.quantize_colors = TRUE;
    d.cinfo.desired_number_of_colors = 236;
  } else {
#ifdef JCS_EXTENSIONS
    d.cinfo.out_color_space = JCS_EXT_BGR;
#else
    d.cinfo.out_color_space = JCS_RGB;
#endif
  }
  // Refuse a size past the memory limit before libjpeg allocates its own buffers.
  CheckImageSize(d.cinfo.image_width, d.cinfo.image_height, quantize ? 8 : 24);
  jpeg_start_decompress(&d.cinfo);
  const int w = static_cast<int>(d.cinfo.output_width), h = static_cast<int>(d.cinfo.output_height);
  bitmap.ReleaseImage();
  bitmap.SetPixelFormat(quantize ? TPixelFormat::pf8bit : TPixelFormat::pf24bit);
  bitmap.SetSize(w, h);
  if (quantize) {
    std::vector<TPaletteEntry> palette(static_cast<size_t>(d.cinfo.actual_number_of_colors));
    const bool grey = d.cinfo.out_color_components == 1;
    for (size_t i = 0; i < palette.size(); ++i) {
      if (grey) {
        const uint8_t v = d.cinfo.colormap[0][i];
        palette[i] = {v, v, v, 0};
      } else {
        palette[i] = {d.cinfo.colormap[0][i], d.cinfo.colormap[1][i], d.cinfo.colormap[2][i], 0};
      }
    }
    bitmap.SetPalette(CreatePalette(palette));
  }
  const bool swap = !quantize && d.cinfo.out_color_space == JCS_RGB;
  if (swap) rgb.resize(size_t(w) * 3);
  if (cmyk) rgb.resize(size_t(w) * 4);
  while (d.cinfo.output_scanline < d.cinfo.output_height) {
    const int y = static_cast<int>(d.cinfo.output_scanline);
    JSAMPROW row = swap || cmyk ? rgb.data() : bitmap.RowData(y);
    jpeg_read_scanlines(&d.cinfo, &row, 1);
    if (cmyk) {
      CmykRowToBgr(rgb.data(), bitmap.RowData(y), w, inverted);
    } else if (swap) {
      uint8_t* out = bitmap.RowData(y);
      for (int x = 0; x < w; ++x) {
        out[3 * x] = rgb[3 * size_t(x) + 2];
        out[3 * x + 1] = rgb[3 * size_t(x) + 1];
        out[3 * x + 2] = rgb[3 * size_t(x)];
      }
    }
  }
  jpeg_finish_decompress(&d.cinfo);
  Orient(bitmap, orientation);
}

}  // namespace

void TJPEGImage::LoadFromStream(TStream& stream) {
  std::vector<uint8_t> data = ReadBytes(stream, stream.Remaining());
  HeaderInfo info;
  ReadHeader(data, info);
  // publish only what was read successfully
  FData = std::move(data);
  FBitmap.reset();
  FWidth = info.width;
  FHeight = info.height;
  FGrayscale = info.grayscale;
  FProgressive = info.progressive;
  FOrientation = info.orientation;
  Changed();
}

void TJPEGImage::Decompress() {
  auto bitmap = std::make_unique<TBitmap>();
  if (!FData.empty()) DecodeImage(FData, FGrayscale || ScreenBitsPerPixel() <= 8, FOrientation, *bitmap);
  FBitmap = std::move(bitmap);
}

const TBitmap& TJPEGImage::Bitmap() {
  if (!FBitmap) Decompress();
  return *FBitmap;
}

void TJPEGImage::Draw(TCanvas& canvas, const TRect& rect) {
  if (Empty()) return;
  StretchBlt(canvas.Bitmap(), rect, Bitmap());
}

std::vector<uint8_t> TJPEGImage::Compress() const {
  if (!FBitmap || FBitmap->Empty()) throw EInvalidGraphic(SJPEGEmpty);
  const TBitmap& source = *FBitmap;
  const int w = source.Width(), h = source.Height();
  Compressor c;
  std::vector<uint8_t> bgra(size_t(w) * 4), rgb(size_t(w) * 3);
  InstallErrorManager(*reinterpret_cast<jpeg_common_struct*>(&c.cinfo), c.err);
  if (setjmp(c.err.jump)) throw EInvalidGraphic(c.err.message);
  jpeg_create_compress(&c.cinfo);
  c.created = true;
  jpeg_mem_dest(&c.cinfo, &c.buffer, &c.size);
  c.cinfo.image_width = static_cast<JDIMENSION>(w);
  c.cinfo.image_height = static_cast<JDIMENSION>(h);
  c.cinfo.input_components = 3;
  c.cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c.cinfo);
  jpeg_set_quality(&c.cinfo, CompressionQuality, TRUE);
  jpeg_start_compress(&c.cinfo, TRUE);
  while (c.cinfo.next_scanline < c.cinfo.image_height) {
    source.ReadRowBGRA(static_cast<int>(c.cinfo.next_scanline), bgra.data());
    for (int x = 0; x < w; ++x) {
      rgb[3 * size_t(x)] = bgra[4 * size_t(x) + 2];
      rgb[3 * size_t(x) + 1] = bgra[4 * size_t(x) + 1];
      rgb[3 * size_t(x) + 2] = bgra[4 * size_t(x)];
    }
    JSAMPROW row = rgb.data();
    jpeg_write_scanlines(&c.cinfo, &row, 1);
  }
  jpeg_finish_compress(&c.cinfo);
  return std::vector<uint8_t>(c.buffer, c.buffer + c.size);
}

void TJPEGImage::SaveToStream(TStream& stream) {
  if (FData.empty()) FData = Compress();
  stream.WriteBuffer(FData.data(), static_cast<int64_t>(FData.size()));
}

void TJPEGImage::Assign(const TGraphic& source) {
  if (&source == this) return;
  if (source.InheritsFrom(TJPEGImage::StaticClass())) {
    const auto& other = static_cast<const TJPEGImage&>(source);
    FData = other.FData;
    FBitmap.reset();
    if (other.FBitmap) {
      FBitmap = std::make_unique<TBitmap>();
      FBitmap->Assign(*other.FBitmap);
    }
    FWidth = other.FWidth;
    FHeight = other.FHeight;
    FGrayscale = other.FGrayscale;
    FProgressive = other.FProgressive;
    FOrientation = other.FOrientation;
    CompressionQuality = other.CompressionQuality;
    Changed();
    return;
  }
  auto bitmap = std::make_unique<TBitmap>();
  bitmap->Assign(source);
  if (bitmap->PixelFormat() != TPixelFormat::pf24bit) bitmap->SetPixelFormat(TPixelFormat::pf24bit);
  FData.clear();
  FWidth = bitmap->Width();
  FHeight = bitmap->Height();
  FGrayscale = false;
  FProgressive = false;
  FOrientation = 1;
  FBitmap = std::move(bitmap);
  Changed();
}

}  // namespace muralo
