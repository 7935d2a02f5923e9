#pragma once
// Builds WMF and EMF files record by record, for the metafile tests, the fuzz seeds and the bench.
// Sizes and counts in the headers are filled in by Bytes().

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

namespace muralo::test {

inline void PutLE16(std::vector<uint8_t>& v, uint32_t x) {
  v.push_back(uint8_t(x));
  v.push_back(uint8_t(x >> 8));
}
inline void PutLE32(std::vector<uint8_t>& v, uint32_t x) {
  PutLE16(v, x & 0xFFFF);
  PutLE16(v, x >> 16);
}

// A packed DIB: BITMAPINFOHEADER (bottom-up unless topDown) and 24-bit bits; pixels are COLORREFs,
// top row first.
inline std::vector<uint8_t> Dib24(int w, int h, const std::vector<uint32_t>& pixels, bool topDown = false) {
  std::vector<uint8_t> d;
  PutLE32(d, 40);
  PutLE32(d, uint32_t(w));
  PutLE32(d, uint32_t(topDown ? -h : h));
  PutLE16(d, 1);
  PutLE16(d, 24);
  for (int i = 0; i < 6; ++i) PutLE32(d, 0);
  const size_t row = (size_t(w) * 3 + 3) & ~size_t(3);
  for (int r = 0; r < h; ++r) {
    const int y = topDown ? r : h - 1 - r;
    std::vector<uint8_t> line(row, 0);
    for (int x = 0; x < w; ++x) {
      const uint32_t c = pixels[size_t(y * w + x)];
      line[size_t(x) * 3] = uint8_t(c >> 16), line[size_t(x) * 3 + 1] = uint8_t(c >> 8),
                       line[size_t(x) * 3 + 2] = uint8_t(c);
    }
    d.insert(d.end(), line.begin(), line.end());
  }
  return d;
}

class WmfBuilder {
 public:
  // A placeable WMF whose box is (0, 0, w, h) at `inch` units per inch; placeable = false gives a plain one.
  WmfBuilder(int w, int h, int inch = 96, bool placeable = true, uint16_t objects = 16)
      : W(w), H(h), Inch(inch), Placeable(placeable), Objects(objects) {}

  // A record: function, then its parameter words as they are stored.
  WmfBuilder& Rec(uint16_t function, std::initializer_list<int> words) {
    std::vector<uint16_t> w;
    for (int x : words) w.push_back(uint16_t(x));
    return Rec(function, w);
  }
  WmfBuilder& Rec(uint16_t function, const std::vector<uint16_t>& words) {
    PutLE32(Records, uint32_t(3 + words.size()));
    PutLE16(Records, function);
    for (uint16_t x : words) PutLE16(Records, x);
    MaxWords = std::max<uint32_t>(MaxWords, uint32_t(3 + words.size()));
    return *this;
  }
  // A record with raw bytes after some words (padded to a word).
  WmfBuilder& RecBytes(uint16_t function, std::initializer_list<int> words, const std::vector<uint8_t>& bytes) {
    std::vector<uint16_t> w;
    for (int x : words) w.push_back(uint16_t(x));
    for (size_t i = 0; i < bytes.size(); i += 2)
      w.push_back(uint16_t(bytes[i] | (i + 1 < bytes.size() ? bytes[i + 1] << 8 : 0)));
    return Rec(function, w);
  }
  // Raw bytes appended after the records (for hostile cases).
  std::vector<uint8_t> Tail;

  // Common records.
  WmfBuilder& Brush(uint32_t color, int style = 0, int hatch = 0) {
    return Rec(0x02FC, {style, int(color & 0xFFFF), int(color >> 16), hatch});
  }
  WmfBuilder& Pen(uint32_t color, int style = 0, int width = 0) {
    return Rec(0x02FA, {style, width, 0, int(color & 0xFFFF), int(color >> 16)});
  }
  WmfBuilder& Select(int i) { return Rec(0x012D, {i}); }
  WmfBuilder& Rectangle(int l, int t, int r, int b) { return Rec(0x041B, {b, r, t, l}); }

  std::vector<uint8_t> Bytes() const {
    std::vector<uint8_t> d;
    if (Placeable) {
      PutLE32(d, 0x9AC6CDD7);
      PutLE16(d, 0);
      for (int v : {0, 0, W, H}) PutLE16(d, uint16_t(v));
      PutLE16(d, uint16_t(Inch));
      PutLE32(d, 0);
      uint16_t sum = 0;
      for (size_t i = 0; i < 20; i += 2) sum ^= uint16_t(d[i] | (d[i + 1] << 8));
      PutLE16(d, sum);
    }
    std::vector<uint8_t> records = Records;
    PutLE32(records, 3);  // META_EOF
    PutLE16(records, 0);
    PutLE16(d, 1);
    PutLE16(d, 9);
    PutLE16(d, 0x300);
    PutLE32(d, uint32_t(9 + records.size() / 2));
    PutLE16(d, Objects);
    PutLE32(d, MaxWords);
    PutLE16(d, 0);
    d.insert(d.end(), records.begin(), records.end());
    d.insert(d.end(), Tail.begin(), Tail.end());
    return d;
  }

 private:
  int W, H, Inch;
  bool Placeable;
  uint16_t Objects;
  uint32_t MaxWords = 3;
  std::vector<uint8_t> Records;
};

class EmfBuilder {
 public:
  // An EMF whose frame is w × h reference pixels of a 1000 × 1000 pixel, 1000 × 1000 mm device
  // (one pixel a millimetre), so that the picture is w × h pixels and drawn 1:1 at that size.
  EmfBuilder(int w, int h, uint16_t handles = 16) : W(w), H(h), Handles(handles) {}

  // A record: type, then 32-bit fields after the type and size.
  EmfBuilder& Rec(uint32_t type, std::initializer_list<int64_t> fields) {
    std::vector<uint8_t> body;
    for (int64_t f : fields) PutLE32(body, uint32_t(f));
    return RecBytes(type, body);
  }
  EmfBuilder& RecBytes(uint32_t type, const std::vector<uint8_t>& body) {
    PutLE32(Records, type);
    PutLE32(Records, uint32_t(8 + ((body.size() + 3) & ~size_t(3))));
    Records.insert(Records.end(), body.begin(), body.end());
    Records.resize((Records.size() + 3) & ~size_t(3), 0);
    ++Count;
    return *this;
  }
  std::vector<uint8_t> Tail;
  bool WithEof = true;

  EmfBuilder& Brush(uint32_t index, uint32_t color, int style = 0, int hatch = 0) {
    return Rec(39, {index, style, color, hatch});
  }
  EmfBuilder& Pen(uint32_t index, uint32_t color, int style = 0, int width = 0) {
    return Rec(38, {index, style, width, 0, color});
  }
  EmfBuilder& Select(uint32_t index) { return Rec(37, {index}); }
  // A solid brush of that colour as object 1, selected with the null pen: shapes are filled, not outlined.
  EmfBuilder& FillOnly(uint32_t color) { return Brush(1, color).Select(1).Select(kNullPen); }
  EmfBuilder& Rectangle(int l, int t, int r, int b) { return Rec(43, {l, t, r, b}); }
  static constexpr uint32_t kNullPen = 0x80000008, kBlackPen = 0x80000007, kNullBrush = 0x80000005;

  std::vector<uint8_t> Bytes() const {
    std::vector<uint8_t> d;
    PutLE32(d, 1);
    PutLE32(d, 88);
    for (int v : {0, 0, W - 1, H - 1}) PutLE32(d, uint32_t(v));      // bounds
    for (int v : {0, 0, W * 100, H * 100}) PutLE32(d, uint32_t(v));  // frame, 0.01 mm
    PutLE32(d, 0x464D4520);
    PutLE32(d, 0x10000);
    std::vector<uint8_t> records = Records;
    uint32_t count = Count + 1;
    if (WithEof) {
      for (uint32_t v : {14u, 20u, 0u, 16u, 20u}) PutLE32(records, v);
      ++count;
    }
    PutLE32(d, uint32_t(88 + records.size()));
    PutLE32(d, count);
    PutLE16(d, Handles);
    PutLE16(d, 0);
    for (int i = 0; i < 3; ++i) PutLE32(d, 0);                       // description, palette entries
    for (int v : {1000, 1000, 1000, 1000}) PutLE32(d, uint32_t(v));  // device, millimetres
    d.insert(d.end(), records.begin(), records.end());
    d.insert(d.end(), Tail.begin(), Tail.end());
    return d;
  }

 private:
  int W, H;
  uint16_t Handles;
  uint32_t Count = 0;
  std::vector<uint8_t> Records;
};

}  // namespace muralo::test
