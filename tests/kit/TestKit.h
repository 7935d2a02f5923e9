#pragma once
// What every test area shares: a temporary folder, whole-file reads and writes, the source tree,
// running the independent tools (named in Oracles.h) whose output the tests compare with,
// ImageMagick's decode of a picture as PNM, and a target buffer with guard bytes on both sides.

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <stdlib.h>

#include "kit/Oracles.h"

namespace muralo::test {

// A folder under the system's temporary directory, removed with everything in it at the end (even
// when a test took its permissions away).
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "muralo-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    Path = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(Path, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(Path, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::string operator/(const std::string& name) const { return (Path / name).string(); }
  std::string File(const std::string& name) const { return (Path / name).string(); }
  const std::filesystem::path& path() const { return Path; }

  std::filesystem::path Path;
};

// Whole files, as bytes or as text; a file that cannot be read or written throws.
inline std::vector<uint8_t> FileBytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + file.string());
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::string FileText(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + file.string());
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void WriteBytes(const std::filesystem::path& file, const void* data, size_t size) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
  if (!out) throw std::runtime_error("cannot write " + file.string());
}
inline void WriteBytes(const std::filesystem::path& file, const std::vector<uint8_t>& bytes) {
  WriteBytes(file, bytes.data(), bytes.size());
}
inline void WriteText(const std::filesystem::path& file, const std::string& text) {
  WriteBytes(file, text.data(), text.size());
}

// The source tree (MURALO_SOURCE_DIR, which the test registration sets), and a file in it.
inline std::filesystem::path SourceDir() {
  const char* dir = std::getenv("MURALO_SOURCE_DIR");
  if (!dir) throw std::runtime_error("MURALO_SOURCE_DIR is not set");
  return dir;
}
inline std::string SourcePath(const std::string& relative) { return (SourceDir() / relative).string(); }

// A string quoted for the POSIX shell.
inline std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

inline bool ToolAvailable(const std::string& tool) {
  return std::system(("command -v " + Quote(tool) + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs an oracle command; a missing tool or a failing command fails the test loudly.
inline void RunOracle(const std::string& tool, const std::string& arguments) {
  if (!ToolAvailable(tool)) throw std::runtime_error("oracle tool missing: " + tool + " (see scripts/install-deps)");
  const std::string command = tool + " " + arguments;
  if (std::system(command.c_str()) != 0) throw std::runtime_error("oracle command failed: " + command);
}

// The same for a whole command line whose first word is the tool.
inline void RunTool(const std::string& command) {
  const std::string tool = command.substr(0, command.find(' '));
  RunOracle(tool, command.size() > tool.size() ? command.substr(tool.size() + 1) : std::string());
}

// A decoded picture: 8-bit samples, rows from the top, grey widened to RGB, RGBA from a PAM.
struct TPnmImage {
  int Width = 0, Height = 0, Channels = 3;
  std::vector<uint8_t> Pixels;
  const uint8_t* At(int x, int y) const { return Pixels.data() + (size_t(y) * size_t(Width) + size_t(x)) * Channels; }
  bool operator==(const TPnmImage&) const = default;
};

// A binary PGM (P5), PPM (P6) or PAM (P7) of maximum sample value 255, as ImageMagick, netpbm and
// djpeg write them.
inline TPnmImage ReadPnm(const std::string& file) {
  const std::vector<uint8_t> bytes = FileBytes(file);
  size_t p = 0;
  auto token = [&]() {
    while (p < bytes.size()) {
      if (bytes[p] == '#') {
        while (p < bytes.size() && bytes[p] != '\n') ++p;
      } else if (std::isspace(bytes[p])) {
        ++p;
      } else {
        break;
      }
    }
    std::string t;
    while (p < bytes.size() && !std::isspace(bytes[p])) t += char(bytes[p++]);
    return t;
  };
  const std::string magic = token();
  TPnmImage image;
  int maxValue = 0, depth = 1;
  if (magic == "P7") {
    for (std::string key = token(); key != "ENDHDR"; key = token()) {
      const std::string value = token();
      if (value.empty()) throw std::runtime_error("PAM header without ENDHDR: " + file);
      if (key == "WIDTH") image.Width = std::stoi(value);
      if (key == "HEIGHT") image.Height = std::stoi(value);
      if (key == "DEPTH") depth = std::stoi(value);
      if (key == "MAXVAL") maxValue = std::stoi(value);
    }
    image.Channels = depth;
  } else if (magic == "P6" || magic == "P5") {
    image.Width = std::stoi(token());
    image.Height = std::stoi(token());
    maxValue = std::stoi(token());
    depth = magic == "P6" ? 3 : 1;
  } else {
    throw std::runtime_error("not a binary PGM, PPM or PAM: " + file);
  }
  if (maxValue != 255) throw std::runtime_error("maximum sample value is not 255: " + file);
  ++p;  // the single blank after the header
  const size_t n = size_t(image.Width) * size_t(image.Height);
  if (bytes.size() != p + n * size_t(depth)) throw std::runtime_error("PNM of the wrong size: " + file);
  if (depth == 1) {
    image.Channels = 3;
    for (size_t i = 0; i < n; ++i) image.Pixels.insert(image.Pixels.end(), 3, bytes[p + i]);
  } else {
    image.Pixels.assign(bytes.begin() + static_cast<std::ptrdiff_t>(p), bytes.end());
  }
  return image;
}

// ImageMagick's decode of a picture file at 8 bits a sample: RGB, or RGBA when alpha is asked.
// The options go between the input and the output (for example "-auto-orient").
inline TPnmImage MagickDecode(const std::string& file, const std::string& options = "", bool alpha = false) {
  TempDir dir;
  const std::string out = dir / (alpha ? "decode.pam" : "decode.ppm");
  RunOracle(kMagick, Quote(file) + " " + options + " -depth 8 " + Quote((alpha ? "pam:" : "ppm:") + out));
  return ReadPnm(out);
}

// A target buffer with guard bytes on both sides; Intact() tells whether the code that wrote it
// stayed inside.
class GuardedRow {
 public:
  static constexpr size_t kGuard = 16;
  static constexpr uint8_t kGuardByte = 0xA5;

  explicit GuardedRow(size_t bytes, uint8_t fill = 0xCC) : Buffer(bytes + 2 * kGuard, kGuardByte), Bytes(bytes) {
    std::fill(Buffer.begin() + kGuard, Buffer.begin() + static_cast<std::ptrdiff_t>(kGuard + bytes), fill);
  }
  uint8_t* data() { return Buffer.data() + kGuard; }
  const uint8_t* data() const { return Buffer.data() + kGuard; }
  uint8_t operator[](size_t i) const { return data()[i]; }
  size_t size() const { return Bytes; }
  std::vector<uint8_t> Row() const { return {data(), data() + Bytes}; }
  uint16_t Word(size_t i) const {
    uint16_t v;
    std::memcpy(&v, data() + 2 * i, 2);
    return v;
  }
  bool Intact() const {
    for (size_t i = 0; i < kGuard; ++i)
      if (Buffer[i] != kGuardByte || Buffer[kGuard + Bytes + i] != kGuardByte) return false;
    return true;
  }

 private:
  std::vector<uint8_t> Buffer;
  size_t Bytes;
};

}  // namespace muralo::test
