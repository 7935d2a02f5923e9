#pragma once
// The hive file's text form (REGEDIT4) and its in-memory image. Used by TRegistry; public so the
// parser and the writer can be checked on their own.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace muralo {

enum class TRegValueKind { rvString, rvDWord, rvRaw };

struct TRegValue {
  std::string Name;  // "" is the key's default value, written @
  TRegValueKind Kind = TRegValueKind::rvString;
  std::string Text;    // rvString: the string; rvRaw: the data as written after '=' (hex:..., lines joined by \n)
  uint32_t DWord = 0;  // rvDWord
};

struct TRegKey {
  std::string Path;  // below HKEY_CURRENT_USER, no leading or trailing '\'
  std::vector<TRegValue> Values;

  TRegValue* Find(const std::string& name);
  const TRegValue* Find(const std::string& name) const;
};

struct THive {
  std::vector<TRegKey> Keys;

  TRegKey* Find(const std::string& path);
  const TRegKey* Find(const std::string& path) const;
  TRegKey& FindOrAdd(const std::string& path);
};

// A text that is not a hive; Line is 1-based.
struct THiveParseError {
  int Line = 0;
  std::string Reason;
};

// Parses the text of a hive file. An empty text (or one holding only blanks) is an empty hive.
// Accepts LF and CR LF line ends, a UTF-8 byte-order mark, ';' comment lines, the headers
// "REGEDIT4" and "Windows Registry Editor Version 5.00", and key paths with or without the
// "HKEY_CURRENT_USER\" prefix; several sections of one key are merged.
std::optional<THive> ParseHive(const std::string& text, THiveParseError* error = nullptr);

// The text of a hive file (REGEDIT4, LF line ends, keys in order, each followed by a blank line).
std::string FormatHive(const THive& hive);

// Registry names compare without regard to ASCII case.
bool SameRegistryName(const std::string& a, const std::string& b);

// "Software\\Brenwick\\Muralo\\3\\" -> "Software\\Brenwick\\Muralo\\3": separators at both ends
// dropped, runs of separators folded.
std::string NormalizeKeyPath(const std::string& path);

}  // namespace muralo
