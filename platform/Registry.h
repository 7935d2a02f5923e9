#pragma once
// TRegistry: the per-user settings hive that stands in for HKEY_CURRENT_USER.
//
// The hive is one human-readable text file in the REGEDIT4 syntax, kept in the user's configuration
// directory ($XDG_CONFIG_HOME/muralo/registry.reg, default ~/.config/muralo/registry.reg):
//
//   REGEDIT4
//
//   [Software\Brenwick\Muralo\3]
//   "Apercu"=dword:00000001
//   "Liste courante"="/home/ann/images/liste.que"
//
// Strings escape only \\ and \" (plus \n and \r for the two control characters a line cannot hold);
// text is kept byte-exact (UTF-8 in the program). Booleans are stored as Windows' TRegistry stores
// them: a dword 0 or 1, and any non-zero dword reads as true. Key and value names compare without
// regard to ASCII case, as the Windows registry does.
//
// Every write (or transaction of writes) reads the file afresh, changes its values and replaces the
// file atomically (temporary file, fsync, rename) under an advisory lock, so a crash never leaves a
// half-written hive and keys or values written by someone else (or unknown to this program) are
// kept. A file that cannot be parsed is renamed aside (registry.reg.damaged-<date>), reported once
// on stderr, and the hive starts empty.
//
// The key "Control Panel\Desktop" always exists, as it does on every Windows installation, so
// opening it without creating it succeeds on a first run.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "classlib/Exception.h"
#include "platform/RegistryFile.h"

namespace muralo {

// The registry error: a missing value, a value of another type, or a value that cannot be written.
class ERegistryException : public Exception {
 public:
  using Exception::Exception;
};

// Message texts of the registry.
inline constexpr const char* SRegValueMissing = "Valeur '%s' absente";
inline constexpr const char* SRegInvalidType = "Type de données incorrect pour '%s'";
inline constexpr const char* SRegNoKey = "Aucune clé ouverte pour la valeur '%s'";
inline constexpr const char* SRegWriteFailed = "Impossible d'écrire la valeur '%s' : %s";

enum class TRegDataType { rdUnknown, rdString, rdInteger };

class TRegistry {
 public:
  // Uses the hive file of the user's configuration directory.
  TRegistry();
  // Uses the given hive file (tests, tools).
  explicit TRegistry(std::string hiveFile);
  ~TRegistry();
  TRegistry(const TRegistry&) = delete;
  TRegistry& operator=(const TRegistry&) = delete;

  // Opens a key below HKEY_CURRENT_USER. A leading '\' makes the path absolute; otherwise it is
  // relative to the key now open (if any). A trailing '\' is ignored. With canCreate the key is
  // created (and stored) when missing; without it a missing key gives false. Never throws for a
  // damaged or unreadable hive: that reads as an empty one.
  bool OpenKey(const std::string& key, bool canCreate);
  // Opens a key only if it exists.
  bool KeyExists(const std::string& key);
  void CloseKey();
  // The open key's path without leading or trailing separators ("" when none is open).
  const std::string& CurrentPath() const { return FCurrentPath; }
  bool HasCurrentKey() const { return FOpen; }

  bool ValueExists(const std::string& name);
  TRegDataType GetDataType(const std::string& name);
  // Removes a value; false when it did not exist.
  bool DeleteValue(const std::string& name);
  // The value names of the open key, in file order.
  std::vector<std::string> GetValueNames();

  // Readers raise ERegistryException (SRegValueMissing / SRegInvalidType) for a missing value or
  // one of another type. ReadString reads "" for a missing value, as the class library does.
  bool ReadBool(const std::string& name);
  int32_t ReadInteger(const std::string& name);
  std::string ReadString(const std::string& name);

  // Writers raise ERegistryException when no key is open or the hive cannot be written.
  void WriteBool(const std::string& name, bool value);
  void WriteInteger(const std::string& name, int32_t value);
  void WriteString(const std::string& name, const std::string& value);

  // One transaction of writes: between BeginUpdate and EndUpdate the writes are only collected
  // (a write without an open key still raises at once); EndUpdate stores them all under one lock
  // with one replacement of the file, and raises the write error of the first value when the hive
  // cannot be written. CancelUpdate drops what was collected. Reads do not see collected values.
  void BeginUpdate();
  void EndUpdate();
  void CancelUpdate();

  const std::string& HiveFile() const { return FHiveFile; }

 private:
  void WriteValue(TRegValue value);

  std::string FHiveFile;
  std::string FCurrentPath;
  bool FOpen = false;
  bool FUpdating = false;
  std::vector<std::pair<std::string, TRegValue>> FPending;  // key path, value
};

// The default hive file: $XDG_CONFIG_HOME/muralo/registry.reg (~/.config/muralo/registry.reg).
std::string DefaultHiveFile();

}  // namespace muralo
