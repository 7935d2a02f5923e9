// Windows metafiles: header parsing, the picture's size, and drawing through the record players.
#include "classlib/Metafile.h"

#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>

#include "classlib/Bitmap.h"
#include "classlib/ByteOrder.h"
#include "classlib/Canvas.h"
#include "classlib/Exception.h"
#include "classlib/Format.h"
#include "classlib/GdiDevice.h"
#include "classlib/MetafilePlayers.h"
#include "classlib/Streams.h"

namespace muralo {

MURALO_DEFINE_GRAPHIC_CLASS(TMetafile, TGraphic, nullptr)

namespace {

constexpr uint32_t kPlaceableKey = 0x9AC6CDD7;  // [MS-WMF] 2.3.2.3 META_PLACEABLE
constexpr uint32_t kEmfSignature = 0x464D4520;  // " EMF", [MS-EMF] 2.2.9 Header
constexpr size_t kPlaceableSize = 22, kWmfHeaderSize = 18, kEmfHeaderMin = 88;
constexpr int kScreenPixelsPerInch = 96;

[[noreturn]] void Invalid(const std::string& why) { throw EInvalidGraphic(Format(SInvalidMetafile, why)); }

// MulDiv of the Windows API: a * b / c rounded to the nearest integer, halves away from zero.
int64_t MulDiv(int64_t a, int64_t b, int64_t c) {
  if (c == 0) return 0;
  const int64_t n = a * b;
  const int64_t q = (std::llabs(n) + std::llabs(c) / 2) / std::llabs(c);
  return (n < 0) != (c < 0) ? -q : q;
}

TRect ReadRect16(const uint8_t* p) {
  return {int16_t(GetLE16(p)), int16_t(GetLE16(p + 2)), int16_t(GetLE16(p + 4)), int16_t(GetLE16(p + 6))};
}
TRect ReadRect32(const uint8_t* p) {
  return {int32_t(GetLE32(p)), int32_t(GetLE32(p + 4)), int32_t(GetLE32(p + 8)), int32_t(GetLE32(p + 12))};
}

bool IsWmfHeader(const uint8_t* p, size_t n) {
  // [MS-WMF] 2.3.2.2 META_HEADER: type 1 (memory) or 2 (disk), header size 9 words, version 0x100 or 0x300
  if (n < kWmfHeaderSize) return false;
  const uint16_t type = GetLE16(p), words = GetLE16(p + 2), version = GetLE16(p + 4);
  return (type == 1 || type == 2) && words == 9 && (version == 0x100 || version == 0x300);
}

struct Parsed {
  TMetafileHeader header;
  int width = 0, height = 0, mmWidth = 0, mmHeight = 0;
  size_t wmfStart = 0;  // where the META_HEADER starts
};

int Clamp32(int64_t v) { return int(std::clamp<int64_t>(v, 0, INT32_MAX)); }

Parsed ParseEmf(const std::vector<uint8_t>& d) {
  Parsed p;
  TMetafileHeader& h = p.header;
  h.Enhanced = true;
  const uint32_t headerSize = GetLE32(d.data() + 4);
  if (headerSize < kEmfHeaderMin || headerSize > d.size() || headerSize % 4 != 0)
    Invalid(Format(SEmfHeaderSize, headerSize));
  h.Bounds = ReadRect32(d.data() + 8);
  h.Frame = ReadRect32(d.data() + 24);
  h.FileBytes = GetLE32(d.data() + 48);
  h.Records = GetLE32(d.data() + 52);
  h.Handles = GetLE16(d.data() + 56);
  h.Device = {int32_t(GetLE32(d.data() + 72)), int32_t(GetLE32(d.data() + 76))};
  h.Millimeters = {int32_t(GetLE32(d.data() + 80)), int32_t(GetLE32(d.data() + 84))};
  if (h.Device.X <= 0 || h.Device.Y <= 0 || h.Millimeters.X <= 0 || h.Millimeters.Y <= 0)
    Invalid(Format(SEmfReferenceDevice, h.Device.X, h.Device.Y));
  // the frame, in 0.01 mm, at the reference device's resolution
  const int64_t fw = int64_t(h.Frame.Right) - h.Frame.Left, fh = int64_t(h.Frame.Bottom) - h.Frame.Top;
  p.mmWidth = Clamp32(std::llabs(fw));
  p.mmHeight = Clamp32(std::llabs(fh));
  p.width = Clamp32(MulDiv(p.mmWidth, h.Device.X, int64_t(h.Millimeters.X) * 100));
  p.height = Clamp32(MulDiv(p.mmHeight, h.Device.Y, int64_t(h.Millimeters.Y) * 100));
  if (p.width == 0 || p.height == 0) Invalid(Format(SEmfEmptyFrame, fw, fh));
  return p;
}

Parsed ParseWmf(const std::vector<uint8_t>& d) {
  Parsed p;
  TMetafileHeader& h = p.header;
  if (GetLE32(d.data()) == kPlaceableKey) {
    if (d.size() < kPlaceableSize + kWmfHeaderSize) throw EReadError();
    h.Placeable = true;
    h.PlaceableBox = ReadRect16(d.data() + 6);
    h.Inch = GetLE16(d.data() + 14);
    if (h.Inch == 0) Invalid(SWmfNoUnitsPerInch);
    p.wmfStart = kPlaceableSize;
  }
  const uint8_t* m = d.data() + p.wmfStart;
  if (!IsWmfHeader(m, d.size() - p.wmfStart)) Invalid(SWmfHeader);
  h.ObjectCount = GetLE16(m + 10);
  h.MaxRecordWords = GetLE32(m + 12);
  if (h.Placeable) {
    // the bounding box in metafile units per inch, shown at the screen's 96 pixels per inch
    const int64_t bw = std::llabs(int64_t(h.PlaceableBox.Right) - h.PlaceableBox.Left);
    const int64_t bh = std::llabs(int64_t(h.PlaceableBox.Bottom) - h.PlaceableBox.Top);
    p.width = Clamp32(MulDiv(bw, kScreenPixelsPerInch, h.Inch));
    p.height = Clamp32(MulDiv(bh, kScreenPixelsPerInch, h.Inch));
    p.mmWidth = Clamp32(MulDiv(bw, 2540, h.Inch));
    p.mmHeight = Clamp32(MulDiv(bh, 2540, h.Inch));
    if (p.width == 0 || p.height == 0) Invalid(Format(SWmfEmptyBox, bw, bh));
    return p;
  }
  // A plain WMF says nothing of its size: the window its records set is taken, one unit a pixel.
  double x, y, w = 0, hh = 0;
  if (!gdi::FindWmfWindow(d.data(), d.size(), kWmfHeaderSize, x, y, w, hh)) Invalid(SWmfNoWindow);
  h.WindowBox = {int32_t(x), int32_t(y), int32_t(x + w), int32_t(y + hh)};
  p.width = Clamp32(int64_t(std::fabs(w)));
  p.height = Clamp32(int64_t(std::fabs(hh)));
  p.mmWidth = Clamp32(MulDiv(p.width, 2540, kScreenPixelsPerInch));
  p.mmHeight = Clamp32(MulDiv(p.height, 2540, kScreenPixelsPerInch));
  return p;
}

}  // namespace

void ReleaseMetafileCaches() {
  cairo_debug_reset_static_data();
  FcFini();
}

void TMetafile::LoadFromStream(TStream& stream) {
  const int64_t size = stream.Remaining();
  CheckAllocation(uint64_t(size));
  std::vector<uint8_t> data = ReadBytes(stream, size);
  if (data.size() < kWmfHeaderSize) throw EReadError();
  Parsed p;
  if (data.size() >= kEmfHeaderMin && GetLE32(data.data()) == 1 && GetLE32(data.data() + 40) == kEmfSignature)
    p = ParseEmf(data);
  else
    p = ParseWmf(data);
  FData = std::move(data);
  FHeader = p.header;
  FWidth = p.width;
  FHeight = p.height;
  FMMWidth = p.mmWidth;
  FMMHeight = p.mmHeight;
  Changed();
}

void TMetafile::SaveToStream(TStream& stream) {
  if (FData.empty()) throw EInvalidGraphic(SMetafileEmpty);
  stream.WriteBuffer(FData.data(), int64_t(FData.size()));
}

void TMetafile::Assign(const TGraphic& source) {
  if (&source == this) return;
  if (!source.InheritsFrom(TMetafile::StaticClass())) TGraphic::Assign(source);
  const auto& other = static_cast<const TMetafile&>(source);
  FData = other.FData;
  FHeader = other.FHeader;
  FWidth = other.FWidth;
  FHeight = other.FHeight;
  FMMWidth = other.FMMWidth;
  FMMHeight = other.FMMHeight;
  Changed();
}

void TMetafile::Draw(TCanvas& canvas, const TRect& rect) {
  if (FData.empty() || rect.Width() == 0 || rect.Height() == 0) return;
  TBitmap& target = canvas.Bitmap();
  // only the part of the rectangle inside the bitmap is rendered
  const int x0 = std::max(0, std::min(rect.Left, rect.Right)),
            x1 = std::min(target.Width(), std::max(rect.Left, rect.Right));
  const int y0 = std::max(0, std::min(rect.Top, rect.Bottom)),
            y1 = std::min(target.Height(), std::max(rect.Top, rect.Bottom));
  if (x0 >= x1 || y0 >= y1) return;
  const int w = x1 - x0, h = y1 - y0;
  const std::unique_ptr<cairo_surface_t, void (*)(cairo_surface_t*)> owner(
      cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h), cairo_surface_destroy);
  cairo_surface_t* surface = owner.get();
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) throw EOutOfResources(Format(SImageTooLarge, w, h));
  // the metafile draws over what the bitmap holds
  std::vector<uint8_t> row(size_t(target.Width()) * 4);
  unsigned char* pixels = cairo_image_surface_get_data(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  for (int y = 0; y < h; ++y) {
    target.ReadRowBGRA(y0 + y, row.data());
    std::copy_n(row.data() + size_t(x0) * 4, size_t(w) * 4, pixels + size_t(y) * size_t(stride));
  }
  cairo_surface_mark_dirty(surface);

  const double rw = rect.Width(), rh = rect.Height();
  if (FHeader.Enhanced) {
    // reference device pixels of the frame onto the rectangle
    const TMetafileHeader& hd = FHeader;
    const double ppmmX = double(hd.Device.X) / hd.Millimeters.X, ppmmY = double(hd.Device.Y) / hd.Millimeters.Y;
    const double fl = hd.Frame.Left * ppmmX / 100, ft = hd.Frame.Top * ppmmY / 100;
    const double fw = (double(hd.Frame.Right) - hd.Frame.Left) * ppmmX / 100;
    const double fh = (double(hd.Frame.Bottom) - hd.Frame.Top) * ppmmY / 100;
    const double sx = rw / fw, sy = rh / fh;
    const gdi::XForm refToOut{sx, 0, 0, sy, rect.Left - x0 - fl * sx, rect.Top - y0 - ft * sy};
    gdi::Device device(surface, refToOut, {ppmmX, ppmmY});
    gdi::PlayEmf(FData.data(), FData.size(), device, kRecordBudget);
  } else {
    // The output rectangle is the device: its pixels span the picture's physical size (the
    // placeable box at its units per inch, else the window at the screen's resolution), so that
    // metric mapping modes draw at the rectangle's scale. The window (the placeable box, else the
    // window the records set) fills it, as the caller of PlayMetaFile sets it up; the records may
    // then change the mapping mode, window and viewport as GDI lets them.
    const TRect box = FHeader.Placeable ? FHeader.PlaceableBox : FHeader.WindowBox;
    const double perInch = FHeader.Placeable ? FHeader.Inch : kScreenPixelsPerInch;
    const double mmW = std::fabs(double(box.Width())) * 25.4 / perInch;
    const double mmH = std::fabs(double(box.Height())) * 25.4 / perInch;
    gdi::Device device(surface, gdi::XForm{1, 0, 0, 1, double(rect.Left - x0), double(rect.Top - y0)},
                       {std::fabs(rw) / mmW, std::fabs(rh) / mmH});
    device.SetMapMode(8);  // MM_ANISOTROPIC
    device.SetWindowOrg(box.Left, box.Top);
    device.SetWindowExt(box.Width(), box.Height());
    device.SetViewportExt(rw, rh);
    gdi::PlayWmf(FData.data(), FData.size(), FHeader.Placeable ? kPlaceableSize : 0, device, kRecordBudget);
  }
  cairo_surface_flush(surface);
  for (int y = 0; y < h; ++y) {
    target.ReadRowBGRA(y0 + y, row.data());
    const uint8_t* src = pixels + size_t(y) * size_t(stride);
    for (int x = 0; x < w; ++x) {
      uint8_t* d = row.data() + size_t(x0 + x) * 4;
      d[0] = src[4 * x], d[1] = src[4 * x + 1], d[2] = src[4 * x + 2], d[3] = 255;
    }
    target.WriteRowBGRA(y0 + y, row.data());
  }
  target.Modified();
}

}  // namespace muralo
