#include "platform/RegistryFile.h"

#include <cstdio>

namespace muralo {

namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
  return text.size() >= prefix.size() && SameRegistryName(text.substr(0, prefix.size()), prefix);
}

std::string TrimRight(const std::string& text) {
  size_t end = text.size();
  while (end > 0 && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  return text.substr(0, end);
}

std::string TrimLeft(const std::string& text) {
  size_t start = 0;
  while (start < text.size() && (text[start] == ' ' || text[start] == '\t')) ++start;
  return text.substr(start);
}

// A quoted string starting at text[pos] == '"'. Escapes: \\ and \" (REGEDIT4), \n, \r and \0
// (for the bytes a line cannot hold). Any other backslash is taken literally, as regedit does.
bool ParseQuoted(const std::string& text, size_t& pos, std::string& out) {
  out.clear();
  ++pos;
  while (pos < text.size()) {
    char c = text[pos++];
    if (c == '"') return true;
    if (c == '\\' && pos < text.size()) {
      char next = text[pos];
      switch (next) {
        case '\\':
        case '"':
          out += next;
          ++pos;
          continue;
        case 'n':
          out += '\n';
          ++pos;
          continue;
        case 'r':
          out += '\r';
          ++pos;
          continue;
        case '0':
          out += '\0';
          ++pos;
          continue;
        default:
          break;
      }
    }
    out += c;
  }
  return false;  // no closing quote on the line
}

std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\0':
        out += "\\0";
        break;
      default:
        out += c;
    }
  }
  out += '"';
  return out;
}

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// The binary and typed forms regedit writes: hex:..., hex(N):... with comma-separated byte pairs.
bool IsRawData(const std::string& data) {
  if (!StartsWithNoCase(data, "hex")) return false;
  size_t colon = data.find(':');
  if (colon == std::string::npos) return false;
  std::string kind = data.substr(3, colon - 3);
  if (!kind.empty()) {
    if (kind.size() < 3 || kind.front() != '(' || kind.back() != ')') return false;
    for (size_t i = 1; i + 1 < kind.size(); ++i)
      if (!IsHexDigit(kind[i])) return false;
  }
  for (size_t i = colon + 1; i < data.size(); ++i) {
    char c = data[i];
    if (!IsHexDigit(c) && c != ',' && c != ' ' && c != '\t' && c != '\\' && c != '\n') return false;
  }
  return true;
}

bool IsRootName(const std::string& path) {
  return SameRegistryName(path, "HKEY_CURRENT_USER") || SameRegistryName(path, "HKCU");
}

// The section header of a key. The root prefix is written only where the path would otherwise read
// back as something else: the root itself, a path that begins like a root prefix, or like a
// deletion ("[-...]").
std::string SectionName(const std::string& path) {
  if (path.empty()) return "HKEY_CURRENT_USER";
  if (path.front() == '-' || StartsWithNoCase(path, "HKEY_CURRENT_USER\\") || StartsWithNoCase(path, "HKCU\\") ||
      IsRootName(path))
    return "HKEY_CURRENT_USER\\" + path;
  return path;
}

}  // namespace

bool SameRegistryName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

std::string NormalizeKeyPath(const std::string& path) {
  std::string out;
  for (char c : path) {
    if (c == '\\') {
      if (!out.empty() && out.back() != '\\') out += c;
    } else {
      out += c;
    }
  }
  if (!out.empty() && out.back() == '\\') out.pop_back();
  return out;
}

TRegValue* TRegKey::Find(const std::string& name) {
  for (TRegValue& value : Values)
    if (SameRegistryName(value.Name, name)) return &value;
  return nullptr;
}

const TRegValue* TRegKey::Find(const std::string& name) const { return const_cast<TRegKey*>(this)->Find(name); }

TRegKey* THive::Find(const std::string& path) {
  for (TRegKey& key : Keys)
    if (SameRegistryName(key.Path, path)) return &key;
  return nullptr;
}

const TRegKey* THive::Find(const std::string& path) const { return const_cast<THive*>(this)->Find(path); }

TRegKey& THive::FindOrAdd(const std::string& path) {
  if (TRegKey* key = Find(path)) return *key;
  Keys.push_back(TRegKey{path, {}});
  return Keys.back();
}

std::optional<THive> ParseHive(const std::string& source, THiveParseError* error) {
  auto fail = [&](int line, const char* reason) -> std::optional<THive> {
    if (error) *error = {line, reason};
    return std::nullopt;
  };

  std::string text = source;
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);

  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }

  THive hive;
  bool sawHeader = false;
  TRegKey* current = nullptr;
  for (size_t i = 0; i < lines.size(); ++i) {
    const int lineNo = static_cast<int>(i) + 1;
    std::string line = TrimRight(TrimLeft(lines[i]));
    if (line.empty() || line.front() == ';') continue;
    if (!sawHeader) {
      if (line != "REGEDIT4" && line != "Windows Registry Editor Version 5.00")
        return fail(lineNo, "en-tête REGEDIT4 attendu");
      sawHeader = true;
      continue;
    }
    if (line.front() == '[') {
      if (line.back() != ']') return fail(lineNo, "nom de clé sans ']'");
      std::string path = line.substr(1, line.size() - 2);
      if (!path.empty() && path.front() == '-') return fail(lineNo, "suppression de clé dans le fichier de réglages");
      if (IsRootName(path)) {
        path.clear();
      } else {
        for (const char* root : {"HKEY_CURRENT_USER\\", "HKCU\\"}) {
          if (StartsWithNoCase(path, root)) {
            path.erase(0, std::string(root).size());
            break;
          }
        }
      }
      path = NormalizeKeyPath(path);  // "" is HKEY_CURRENT_USER itself
      current = &hive.FindOrAdd(path);
      continue;
    }
    if (line.front() != '"' && line.front() != '@') return fail(lineNo, "ligne inattendue");
    if (!current) return fail(lineNo, "valeur hors de toute clé");

    TRegValue value;
    size_t pos = 0;
    if (line.front() == '@') {
      pos = 1;
    } else if (!ParseQuoted(line, pos, value.Name)) {
      return fail(lineNo, "nom de valeur sans guillemet fermant");
    }
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
    if (pos >= line.size() || line[pos] != '=') return fail(lineNo, "'=' attendu");
    ++pos;
    std::string data = TrimLeft(line.substr(pos));
    if (!data.empty() && data.front() == '"') {
      size_t at = 0;
      if (!ParseQuoted(data, at, value.Text)) return fail(lineNo, "texte sans guillemet fermant");
      if (!TrimLeft(data.substr(at)).empty()) return fail(lineNo, "caractères après le texte");
      value.Kind = TRegValueKind::rvString;
    } else if (StartsWithNoCase(data, "dword:")) {
      std::string digits = data.substr(6);
      if (digits.empty() || digits.size() > 8) return fail(lineNo, "dword: attend 1 à 8 chiffres hexadécimaux");
      for (char c : digits)
        if (!IsHexDigit(c)) return fail(lineNo, "dword: attend 1 à 8 chiffres hexadécimaux");
      value.Kind = TRegValueKind::rvDWord;
      value.DWord = static_cast<uint32_t>(std::stoul(digits, nullptr, 16));
    } else {
      // Typed data of other kinds (binary, expandable or multiple strings) is kept as written,
      // continuation lines included, so a value this program does not use survives a rewrite.
      std::string raw = data;
      while (!raw.empty() && raw.back() == '\\') {
        if (i + 1 >= lines.size()) return fail(lineNo, "suite de ligne manquante");
        raw += '\n';
        raw += TrimRight(lines[++i]);
      }
      if (!IsRawData(raw)) return fail(lineNo, "type de donnée inconnu");
      value.Kind = TRegValueKind::rvRaw;
      value.Text = raw;
    }
    if (TRegValue* existing = current->Find(value.Name))
      *existing = value;
    else
      current->Values.push_back(value);
  }
  if (!sawHeader && !hive.Keys.empty()) return fail(1, "en-tête REGEDIT4 attendu");
  return hive;
}

std::string FormatHive(const THive& hive) {
  std::string out = "REGEDIT4\n";
  for (const TRegKey& key : hive.Keys) {
    out += "\n[" + SectionName(key.Path) + "]\n";
    for (const TRegValue& value : key.Values) {
      out += value.Name.empty() ? std::string("@") : Quoted(value.Name);
      out += '=';
      switch (value.Kind) {
        case TRegValueKind::rvString:
          out += Quoted(value.Text);
          break;
        case TRegValueKind::rvDWord: {
          char digits[16];
          std::snprintf(digits, sizeof digits, "dword:%08x", value.DWord);
          out += digits;
          break;
        }
        case TRegValueKind::rvRaw:
          out += value.Text;
          break;
      }
      out += '\n';
    }
  }
  return out;
}

}  // namespace muralo
