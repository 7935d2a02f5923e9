// The version API over VS_VERSIONINFO blocks: finding a file's block, walking it, writing one.

#include "platform/VersionInfo.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "classlib/ByteOrder.h"
#include "classlib/Exception.h"
#include "classlib/Resources.h"
#include "classlib/Streams.h"
#include "platform/PEResources.h"

namespace muralo {

namespace {

constexpr size_t Align4(size_t n) { return (n + 3) & ~size_t(3); }

// ---- UTF-8 and UTF-16 ----

std::u16string ToUtf16(const std::string& s) {
  std::u16string out;
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<uint8_t>(s[i]);
    uint32_t cp = 0xFFFD;
    size_t n = 1;
    if (c < 0x80) {
      cp = c;
    } else if ((c >> 5) == 6 && i + 1 < s.size()) {
      cp = ((c & 0x1Fu) << 6) | (uint8_t(s[i + 1]) & 0x3Fu), n = 2;
    } else if ((c >> 4) == 14 && i + 2 < s.size()) {
      cp = ((c & 0x0Fu) << 12) | ((uint8_t(s[i + 1]) & 0x3Fu) << 6) | (uint8_t(s[i + 2]) & 0x3Fu), n = 3;
    } else if ((c >> 3) == 30 && i + 3 < s.size()) {
      cp = ((c & 0x07u) << 18) | ((uint8_t(s[i + 1]) & 0x3Fu) << 12) | ((uint8_t(s[i + 2]) & 0x3Fu) << 6) |
           (uint8_t(s[i + 3]) & 0x3Fu),
      n = 4;
    }
    i += n;
    if (cp >= 0x10000 && cp <= 0x10FFFF) {
      cp -= 0x10000;
      out += char16_t(0xD800 + (cp >> 10));
      out += char16_t(0xDC00 + (cp & 0x3FF));
    } else {
      out += char16_t(cp > 0xFFFF ? 0xFFFD : cp);
    }
  }
  return out;
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += char(cp);
  } else if (cp < 0x800) {
    out += char(0xC0 | (cp >> 6));
    out += char(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += char(0xE0 | (cp >> 12));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  } else {
    out += char(0xF0 | (cp >> 18));
    out += char(0x80 | ((cp >> 12) & 0x3F));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  }
}

// UTF-16LE units at p (count units, stopping at a NUL) as UTF-8; lone surrogates become U+FFFD.
std::string FromUtf16(const uint8_t* p, size_t count) {
  std::string out;
  for (size_t i = 0; i < count; ++i) {
    uint32_t u = GetLE16(p + 2 * i);
    if (u == 0) break;
    if (u >= 0xD800 && u < 0xDC00 && i + 1 < count) {
      const uint32_t low = GetLE16(p + 2 * (i + 1));
      if (low >= 0xDC00 && low < 0xE000) {
        u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      } else {
        u = 0xFFFD;
      }
    } else if (u >= 0xD800 && u < 0xE000) {
      u = 0xFFFD;
    }
    AppendUtf8(out, u);
  }
  return out;
}

bool SameKey(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// ---- walking a block ----

struct TNode {
  size_t End = 0;
  uint16_t Type = 0;
  std::string Key;
  size_t ValueStart = 0, ValueBytes = 0;
  size_t Children = 0;
};

// The node at start, inside [start, limit). false when it does not fit.
bool ParseNode(const uint8_t* data, size_t start, size_t limit, TNode& node) {
  if (start > limit || limit - start < 6) return false;
  const size_t length = GetLE16(data + start);
  if (length < 6 || length > limit - start) return false;
  node.End = start + length;
  const uint16_t valueLength = GetLE16(data + start + 2);
  node.Type = GetLE16(data + start + 4);
  size_t p = start + 6;
  size_t units = 0;
  while (true) {
    if (node.End - p < 2) return false;  // the key has no terminating NUL inside the node
    if (GetLE16(data + p) == 0) break;
    p += 2, ++units;
  }
  node.Key = FromUtf16(data + start + 6, units);
  node.ValueStart = std::min(Align4(p + 2), node.End);
  // Text values are counted in UTF-16 units, binary ones in bytes. Some resource compilers
  // count text in bytes: a value running past its node is cut at the node's end.
  const size_t valueBytes = node.Type == 1 ? size_t(valueLength) * 2 : size_t(valueLength);
  node.ValueBytes = std::min(valueBytes, node.End - node.ValueStart);
  node.Children = std::min(Align4(node.ValueStart + node.ValueBytes), node.End);
  return true;
}

// The child of parent whose key is key (ASCII case ignored).
bool FindChild(const uint8_t* data, const TNode& parent, const std::string& key, TNode& child) {
  size_t pos = parent.Children;
  while (pos < parent.End) {
    TNode n;
    if (!ParseNode(data, pos, parent.End, n)) return false;
    if (SameKey(n.Key, key)) {
      child = n;
      return true;
    }
    pos = Align4(n.End);
  }
  return false;
}

// The root's length when data holds a well-formed VS_VERSION_INFO root, else 0.
size_t RootLength(const uint8_t* data, size_t size) {
  TNode root;
  if (!ParseNode(data, 0, size, root) || !SameKey(root.Key, "VS_VERSION_INFO")) return 0;
  return root.End;
}

// ---- finding a file's block ----

bool IsProgramFile(const std::string& fileName) {
  std::error_code ec;
  return std::filesystem::equivalent(fileName, ProgramFileName(), ec) && !ec;
}

std::vector<uint8_t> LoadVersionBlock(const std::string& fileName) {
  std::vector<uint8_t> block;
  try {
    if (IsProgramFile(fileName)) {
      if (const TResource* r = FindResource(RT_VERSION, 1u)) block.assign(r->Data, r->Data + r->Size);
    } else {
      TFileStream stream(fileName, TFileMode::fmOpenRead);
      block = ReadPEVersionResource(stream);
    }
  } catch (const std::exception&) {
    return {};
  }
  const size_t length = RootLength(block.data(), block.size());
  block.resize(length);
  return block;
}

struct TLanguage {
  uint16_t Id;
  const char* Name;
};

// The names a French Windows gives (VerLanguageName), for the languages of the ANSI and
// double-byte code pages and a few more.
constexpr TLanguage kLanguages[] = {
    {0x0000, "Langue neutre"},
    {0x0401, "Arabe (Arabie saoudite)"},
    {0x0402, "Bulgare (Bulgarie)"},
    {0x0403, "Catalan (Catalan)"},
    {0x0404, "Chinois (Taïwan)"},
    {0x0405, "Tchèque (République tchèque)"},
    {0x0406, "Danois (Danemark)"},
    {0x0407, "Allemand (Allemagne)"},
    {0x0408, "Grec (Grèce)"},
    {0x0409, "Anglais (États-Unis)"},
    {0x040A, "Espagnol (Espagne, tri traditionnel)"},
    {0x040B, "Finnois (Finlande)"},
    {0x040C, "Français (France)"},
    {0x040D, "Hébreu (Israël)"},
    {0x040E, "Hongrois (Hongrie)"},
    {0x040F, "Islandais (Islande)"},
    {0x0410, "Italien (Italie)"},
    {0x0411, "Japonais (Japon)"},
    {0x0412, "Coréen (Corée)"},
    {0x0413, "Néerlandais (Pays-Bas)"},
    {0x0414, "Norvégien, bokmål (Norvège)"},
    {0x0415, "Polonais (Pologne)"},
    {0x0416, "Portugais (Brésil)"},
    {0x0418, "Roumain (Roumanie)"},
    {0x0419, "Russe (Russie)"},
    {0x041A, "Croate (Croatie)"},
    {0x041B, "Slovaque (Slovaquie)"},
    {0x041D, "Suédois (Suède)"},
    {0x041E, "Thaï (Thaïlande)"},
    {0x041F, "Turc (Turquie)"},
    {0x0422, "Ukrainien (Ukraine)"},
    {0x0424, "Slovène (Slovénie)"},
    {0x0804, "Chinois (République populaire de Chine)"},
    {0x0807, "Allemand (Suisse)"},
    {0x0809, "Anglais (Royaume-Uni)"},
    {0x080C, "Français (Belgique)"},
    {0x0816, "Portugais (Portugal)"},
    {0x0C0A, "Espagnol (Espagne, tri moderne)"},
    {0x0C0C, "Français (Canada)"},
    {0x100C, "Français (Suisse)"},
};

}  // namespace

std::string ProgramFileName() {
  std::error_code ec;
  const auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : path.string();
}

uint32_t GetFileVersionInfoSize(const std::string& fileName) {
  const std::vector<uint8_t> block = LoadVersionBlock(fileName);
  if (block.empty()) return 0;
  // The block, then room for UTF-8 copies of its texts: a text of n UTF-16 units at offset o is
  // copied at 2 × o past the block and takes at most 1.5 × 2n + 1 bytes, so copies never overlap.
  return uint32_t(Align4(block.size()) + 2 * block.size() + 4);
}

bool GetFileVersionInfo(const std::string& fileName, uint32_t size, void* data) {
  if (!data) return false;
  const std::vector<uint8_t> block = LoadVersionBlock(fileName);
  if (block.empty() || size < block.size()) return false;
  std::memset(data, 0, size);
  std::memcpy(data, block.data(), block.size());
  return true;
}

bool VerQueryValue(void* block, uint32_t blockSize, const std::string& subBlock, const void** buffer,
                   uint32_t* length) {
  if (!block || !buffer || !length) return false;
  auto* data = static_cast<uint8_t*>(block);
  TNode node;
  if (!ParseNode(data, 0, blockSize, node)) return false;
  const size_t rootEnd = node.End;
  size_t pos = 0;
  while (pos < subBlock.size()) {
    if (subBlock[pos] == '\\') {
      ++pos;
      continue;
    }
    const size_t next = std::min(subBlock.find('\\', pos), subBlock.size());
    TNode child;
    if (!FindChild(data, node, subBlock.substr(pos, next - pos), child)) return false;
    node = child;
    pos = next;
  }
  if (node.Type != 1) {
    *buffer = data + node.ValueStart;
    *length = uint32_t(node.ValueBytes);
    return node.ValueBytes > 0;
  }
  const std::string text = FromUtf16(data + node.ValueStart, node.ValueBytes / 2);
  const size_t copy = Align4(rootEnd) + 2 * node.ValueStart;
  if (copy > blockSize || blockSize - copy < text.size() + 1) return false;
  std::memcpy(data + copy, text.c_str(), text.size() + 1);
  *buffer = data + copy;
  *length = uint32_t(text.size() + 1);
  return true;
}

std::string VerLanguageName(uint32_t language) {
  for (const TLanguage& l : kLanguages)
    if (l.Id == language) return l.Name;
  return "Langue inconnue";
}

// ---- writing ----

namespace {

class TBlockWriter {
 public:
  std::vector<uint8_t> Bytes;

  // Opens a node; returns its start for Close.
  size_t Open(const std::string& key, uint16_t type, const void* value, size_t valueBytes, uint16_t valueLength) {
    Pad();
    const size_t start = Bytes.size();
    Put16(0), Put16(valueLength), Put16(type);
    for (char16_t u : ToUtf16(key)) Put16(u);
    Put16(0);
    Pad();
    const auto* v = static_cast<const uint8_t*>(value);
    Bytes.insert(Bytes.end(), v, v + valueBytes);
    return start;
  }
  void Close(size_t start) {
    const size_t length = Bytes.size() - start;
    if (length > 0xFFFF) throw Exception("Ressource de version trop grande");
    PutLE16(&Bytes[start], uint16_t(length));
  }
  void Pad() {
    while (Bytes.size() % 4) Bytes.push_back(0);
  }

 private:
  void Put16(uint16_t v) {
    Bytes.push_back(uint8_t(v));
    Bytes.push_back(uint8_t(v >> 8));
  }
};

void PutFixed(uint8_t* p, const TVersionData& d) {
  const uint32_t fields[13] = {VS_FFI_SIGNATURE,
                               0x00010000,
                               uint32_t(d.FileVersion[0]) << 16 | d.FileVersion[1],
                               uint32_t(d.FileVersion[2]) << 16 | d.FileVersion[3],
                               uint32_t(d.ProductVersion[0]) << 16 | d.ProductVersion[1],
                               uint32_t(d.ProductVersion[2]) << 16 | d.ProductVersion[3],
                               d.FileFlagsMask,
                               d.FileFlags,
                               d.FileOS,
                               d.FileType,
                               d.FileSubtype,
                               0,
                               0};
  for (int i = 0; i < 13; ++i)
    for (int b = 0; b < 4; ++b) p[4 * i + b] = uint8_t(fields[i] >> (8 * b));
}

}  // namespace

std::vector<uint8_t> BuildVersionInfo(const TVersionData& data) {
  TBlockWriter w;
  uint8_t fixed[52];
  PutFixed(fixed, data);
  const size_t root = w.Open("VS_VERSION_INFO", 0, fixed, sizeof fixed, sizeof fixed);
  const size_t stringInfo = w.Open("StringFileInfo", 1, nullptr, 0, 0);
  const size_t table = w.Open(data.TranslationKey, 1, nullptr, 0, 0);
  for (const TVersionString& s : data.Strings) {
    std::u16string text = ToUtf16(s.Value);
    text += char16_t(0);
    std::vector<uint8_t> bytes;
    for (char16_t u : text) bytes.push_back(uint8_t(u)), bytes.push_back(uint8_t(u >> 8));
    w.Close(w.Open(s.Name, 1, bytes.data(), bytes.size(), uint16_t(text.size())));
  }
  w.Close(table);
  w.Close(stringInfo);
  const size_t varInfo = w.Open("VarFileInfo", 1, nullptr, 0, 0);
  std::vector<uint8_t> pairs;
  for (uint16_t v : data.Translation) pairs.push_back(uint8_t(v)), pairs.push_back(uint8_t(v >> 8));
  w.Close(w.Open("Translation", 0, pairs.data(), pairs.size(), uint16_t(pairs.size())));
  w.Close(varInfo);
  w.Close(root);
  return w.Bytes;
}

}  // namespace muralo
