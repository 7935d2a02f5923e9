#include "imaging/formats/FormatTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace muralo::test {

std::vector<uint8_t> FileBytes(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + file);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::string& file, const std::vector<uint8_t>& bytes) {
  std::ofstream out(file, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + file);
}

namespace {
// PAM keeps the alpha channel; PPM is plain RGB. Both carry their size in a text header.
TOracleImage ParseOracleOutput(const std::string& file, const std::string& out, bool alpha) {
  const std::vector<uint8_t> bytes = FileBytes(out);
  TOracleImage image;
  image.Channels = alpha ? 4 : 3;
  size_t at = 0;
  auto line = [&]() {
    std::string s;
    while (at < bytes.size() && bytes[at] != '\n') s.push_back(static_cast<char>(bytes[at++]));
    ++at;
    return s;
  };
  if (alpha) {
    for (std::string l = line(); l != "ENDHDR"; l = line()) {
      std::istringstream words(l);
      std::string key;
      words >> key;
      if (key == "WIDTH") words >> image.Width;
      if (key == "HEIGHT") words >> image.Height;
      if (key == "DEPTH") words >> image.Channels;
    }
    if (image.Channels != 4) throw std::runtime_error("oracle PAM without alpha: " + file);
  } else {
    std::string text = line();
    text += " " + line();
    text += " " + line();
    std::istringstream header(text);
    std::string magic;
    int maxValue = 0;
    header >> magic >> image.Width >> image.Height >> maxValue;
    if ((magic != "P6" && magic != "P5") || maxValue != 255)
      throw std::runtime_error("unexpected oracle output for " + file);
    if (magic == "P5") {  // grey: widened to RGB
      for (size_t i = at; i < bytes.size(); ++i) image.Pixels.insert(image.Pixels.end(), 3, bytes[i]);
      at = bytes.size();
    }
  }
  image.Pixels.insert(image.Pixels.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.end());
  if (image.Pixels.size() != size_t(image.Width) * image.Height * image.Channels)
    throw std::runtime_error("short oracle output for " + file);
  return image;
}
}  // namespace

TOracleImage OracleDecode(const std::string& file, bool alpha) {
  const std::string out = file + (alpha ? ".oracle.pam" : ".oracle.ppm");
  // -auto-orient: ImageMagick keeps a file's stored row order and only records the orientation;
  // the comparison wants the picture as the file's orientation presents it.
  RunTool("convert-im6.q16 '" + file + "' -auto-orient -depth 8 " + (alpha ? "pam:'" : "ppm:'") + out + "'");
  return ParseOracleOutput(file, out, alpha);
}

TOracleImage PillowDecode(const std::string& file, bool alpha) {
  const std::string out = file + (alpha ? ".pillow.pam" : ".pillow.ppm");
  // Pillow writes no PAM, so the script writes the header the parser reads.
  const std::string script =
      "import sys\n"
      "from PIL import Image\n"
      "a = sys.argv[3] == '1'\n"
      "im = Image.open(sys.argv[1]).convert('RGBA' if a else 'RGB')\n"
      "w, h = im.size\n"
      "pam = 'P7\\nWIDTH %d\\nHEIGHT %d\\nDEPTH 4\\nMAXVAL 255\\nENDHDR\\n'\n"
      "head = (pam if a else 'P6\\n%d %d\\n255\\n') % (w, h)\n"
      "open(sys.argv[2], 'wb').write(head.encode() + im.tobytes())\n";
  RunTool("/usr/bin/python3 -c " + Quote(script) + " " + Quote(file) + " " + Quote(out) + (alpha ? " 1" : " 0"));
  return ParseOracleOutput(file, out, alpha);
}

TOracleImage NetpbmDecode(const std::string& converter, const std::string& file) {
  const std::string out = file + ".netpbm.ppm";
  // A converter may write another maximum sample value; pamdepth brings it to 255.
  RunTool(converter + " '" + file + "' 2>/dev/null | pamdepth 255 > '" + out + "'");
  return ParseOracleOutput(file, out, false);
}

void ExpectSamePixels(const TBitmap& bitmap, const TOracleImage& oracle, int tolerance, bool alpha) {
  ASSERT_EQ(bitmap.Width(), oracle.Width);
  ASSERT_EQ(bitmap.Height(), oracle.Height);
  std::vector<uint8_t> bgra(size_t(bitmap.Width()) * 4);
  for (int y = 0; y < bitmap.Height(); ++y) {
    bitmap.ReadRowBGRA(y, bgra.data());
    for (int x = 0; x < bitmap.Width(); ++x) {
      const uint8_t* o = oracle.At(x, y);
      const uint8_t* ours = &bgra[size_t(x) * 4];
      const int diff[4] = {ours[2] - o[0], ours[1] - o[1], ours[0] - o[2], alpha ? ours[3] - o[3] : 0};
      for (int d : diff)
        if (std::abs(d) > tolerance) {
          ADD_FAILURE() << "pixel (" << x << ", " << y << "): ours RGB(A) " << int(ours[2]) << " " << int(ours[1])
                        << " " << int(ours[0]) << " " << int(ours[3]) << ", oracle " << int(o[0]) << " " << int(o[1])
                        << " " << int(o[2]) << " " << (alpha ? int(o[3]) : 255);
          return;
        }
    }
  }
}

void PutLE16(std::vector<uint8_t>& b, uint16_t v) {
  b.push_back(uint8_t(v));
  b.push_back(uint8_t(v >> 8));
}
void PutBE16(std::vector<uint8_t>& b, uint16_t v) {
  b.push_back(uint8_t(v >> 8));
  b.push_back(uint8_t(v));
}
void PutBE32(std::vector<uint8_t>& b, uint32_t v) {
  PutBE16(b, uint16_t(v >> 16));
  PutBE16(b, uint16_t(v));
}

std::filesystem::path SourceDir() {
  const char* dir = std::getenv("MURALO_SOURCE_DIR");
  if (!dir) throw std::runtime_error("MURALO_SOURCE_DIR is not set");
  return dir;
}

}  // namespace muralo::test
