#include "app/ImageList.h"

#include <algorithm>

#include "classlib/Exception.h"
#include "classlib/Streams.h"

namespace muralo {

TEntryList ParseListText(std::string_view text) {
  if (auto nul = text.find('\0'); nul != std::string_view::npos) text = text.substr(0, nul);
  TEntryList entries;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
      entries.emplace_back(text.substr(start));
      break;
    }
    entries.emplace_back(text.substr(start, end - start));
    start = end + 1;
    if (text[end] == '\r' && start < text.size() && text[start] == '\n') ++start;
  }
  return entries;
}

std::string FormatListText(const TEntryList& entries) {
  std::string text;
  for (const std::string& e : entries) {
    text += e;
    text += "\r\n";
  }
  return text;
}

TEntryList ReadListFile(const std::string& fileName) {
  TFileStream stream(fileName, TFileMode::fmOpenRead);
  std::string text(static_cast<size_t>(stream.Size()), '\0');
  stream.ReadBuffer(text.data(), static_cast<int64_t>(text.size()));
  return ParseListText(text);
}

void WriteListFile(const std::string& fileName, const TEntryList& entries) {
  const std::string text = FormatListText(entries);
  ReplaceFileContent(fileName, text.data(), text.size());
}

namespace {

// RFC 3629: no overlong forms, no surrogates, nothing past U+10FFFF.
bool IsValidUtf8(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // bounds of the second byte
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3;
      if (c == 0xE0) low = 0xA0;
      if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4;
      if (c == 0xF0) low = 0x90;
      if (c == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    if (i + length > text.size()) return false;
    for (size_t k = 1; k < length; ++k) {
      const auto b = static_cast<unsigned char>(text[i + k]);
      if (b < (k == 1 ? low : 0x80) || b > (k == 1 ? high : 0xBF)) return false;
    }
    i += length;
  }
  return true;
}

// Windows-1252 bytes 0x80 to 0x9F (the code page's best-fit table: undefined bytes map to the C1
// control of the same number); the other bytes are ISO 8859-1.
constexpr char16_t Cp1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                     0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                     0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                     0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

std::string EntryDisplayText(const std::string& bytes) {
  if (IsValidUtf8(bytes)) return bytes;
  std::string text;
  text.reserve(bytes.size() * 2);
  for (char b : bytes) {
    const auto c = static_cast<unsigned char>(b);
    AppendUtf8(text, c >= 0x80 && c < 0xA0 ? Cp1252High[c - 0x80] : char32_t(c));
  }
  return text;
}

static int FoldByte(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; }

bool ListTextLess(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return FoldByte(static_cast<unsigned char>(x)) < FoldByte(static_cast<unsigned char>(y));
  });
}

size_t SortedInsertPosition(const TEntryList& entries, const std::string& text) {
  return static_cast<size_t>(std::upper_bound(entries.begin(), entries.end(), text, ListTextLess) - entries.begin());
}

}  // namespace muralo
