#include "platform/Registry.h"
#include "platform/Report.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <mutex>
#include <set>

#include "classlib/Format.h"
#include "platform/RegistryFile.h"
#include "platform/System.h"

namespace muralo {

namespace {

// Present on every Windows installation; the wallpaper settings live there.
constexpr const char* kDesktopKey = "Control Panel\\Desktop";

// Whether child is path itself or a key below it.
bool IsSelfOrBelow(const std::string& child, const std::string& path) {
  return SameRegistryName(child, path) || (child.size() > path.size() && child[path.size()] == '\\' &&
                                           SameRegistryName(child.substr(0, path.size()), path));
}

// A key exists when the hive names it or a key below it (a key's parents exist with it, as in
// the Windows registry), and the desktop key with its parent always does.
bool KeyPresent(const THive& hive, const std::string& path) {
  if (path.empty() || IsSelfOrBelow(kDesktopKey, path)) return true;
  for (const TRegKey& key : hive.Keys)
    if (IsSelfOrBelow(key.Path, path)) return true;
  return false;
}

std::string ParentDir(const std::string& file) {
  std::string parent = std::filesystem::path(file).parent_path().string();
  return parent.empty() ? std::string(".") : parent;
}

// Serialises the read-modify-write of one hive between processes. When the lock file cannot be
// made (a read-only configuration directory) the hive is read without it: nothing can be written
// there anyway.
class THiveLock {
 public:
  explicit THiveLock(const std::string& hiveFile) {
    Fd = open((hiveFile + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (Fd >= 0)
      while (flock(Fd, LOCK_EX) != 0 && errno == EINTR) {
      }
  }
  ~THiveLock() {
    if (Fd >= 0) close(Fd);
  }
  THiveLock(const THiveLock&) = delete;
  THiveLock& operator=(const THiveLock&) = delete;

 private:
  int Fd = -1;
};

// Each trouble with a hive file is told once per process, not at every read.
void ReportOnce(const std::string& key, const std::string& message) {
  static std::mutex mutex;
  static std::set<std::string> told;
  std::lock_guard lock(mutex);
  if (told.insert(key).second) PlatformReport(message);
}

std::string AsideName(const std::string& file) {
  char stamp[32];
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  std::string base = file + ".damaged-" + stamp;
  std::string name = base;
  for (int n = 2; std::filesystem::exists(name); ++n) name = base + "-" + std::to_string(n);
  return name;
}

bool ReadWholeFile(const std::string& file, std::string& text, int& error) {
  int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = errno;
    return false;
  }
  text.clear();
  char buffer[8192];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      text.append(buffer, static_cast<size_t>(n));
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      error = errno;
      close(fd);
      return false;
    }
  }
  close(fd);
  return true;
}

// The hive as the file holds it (call with the lock held). A missing file is an empty hive; a
// damaged one is renamed aside, so that the next write cannot destroy what the user may still
// want from it, and reading goes on with an empty hive.
THive LoadHive(const std::string& file) {
  std::string text;
  int error = 0;
  if (!ReadWholeFile(file, text, error)) {
    if (error != ENOENT)
      ReportOnce("read:" + file, Format("le fichier de réglages %s ne peut pas être lu (%s) ; réglages par défaut",
                                        file, SystemErrorText(error)));
    return {};
  }
  THiveParseError parseError;
  if (std::optional<THive> hive = ParseHive(text, &parseError)) return std::move(*hive);
  std::string aside = AsideName(file);
  if (std::rename(file.c_str(), aside.c_str()) == 0)
    ReportOnce("damaged:" + file, Format("le fichier de réglages %s est illisible (ligne %d : %s) ; il est mis de "
                                         "côté sous %s et les réglages repartent de zéro",
                                         file, parseError.Line, parseError.Reason, aside));
  else
    ReportOnce("damaged:" + file, Format("le fichier de réglages %s est illisible (ligne %d : %s) et ne peut pas "
                                         "être mis de côté (%s) ; réglages par défaut",
                                         file, parseError.Line, parseError.Reason, SystemErrorText(errno)));
  return {};
}

// Replaces the hive file atomically: a temporary file beside it, written and synced, then renamed
// over it, then the directory synced so the rename itself is durable. Returns "" or the reason.
std::string StoreHive(const std::string& hiveFile, const THive& hive) {
  // A hive kept elsewhere through a symbolic link (a dotfiles repository) is replaced where it
  // lives; the link stays.
  std::error_code linkError;
  const std::string file = std::filesystem::is_symlink(hiveFile, linkError)
                               ? std::filesystem::weakly_canonical(hiveFile, linkError).string()
                               : hiveFile;
  const std::string dir = ParentDir(file);
  std::error_code ignored;
  std::filesystem::create_directories(dir, ignored);
  const std::string temp = file + ".tmp-" + std::to_string(getpid());
  const std::string text = FormatHive(hive);
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return SystemErrorText(errno);
  auto failWith = [&](int err) {
    close(fd);
    unlink(temp.c_str());
    return SystemErrorText(err);
  };
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return failWith(errno);
    }
    done += static_cast<size_t>(n);
  }
  if (fsync(fd) != 0) return failWith(errno);
  if (close(fd) != 0) {
    int err = errno;
    unlink(temp.c_str());
    return SystemErrorText(err);
  }
  if (std::rename(temp.c_str(), file.c_str()) != 0) {
    int err = errno;
    unlink(temp.c_str());
    return SystemErrorText(err);
  }
  int dirFd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    fsync(dirFd);
    close(dirFd);
  }
  return {};
}

THive ReadHive(const std::string& file) {
  THiveLock lock(file);
  return LoadHive(file);
}

// Read, change, write under the lock. change returns false when nothing needs writing.
// Temporary files of writers that died between creating and renaming them. Every writer holds the
// lock while its temporary file exists, so with the lock held any such file is a leftover.
void RemoveLeftoverTemporaries(const std::string& file) {
  const std::filesystem::path path(file);
  const std::string prefix = path.filename().string() + ".tmp-";
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(ParentDir(file), error))
    if (entry.path().filename().string().rfind(prefix, 0) == 0) std::filesystem::remove(entry.path(), error);
}

std::string ModifyHive(const std::string& file, const std::function<bool(THive&)>& change) {
  THiveLock lock(file);
  RemoveLeftoverTemporaries(file);
  THive hive = LoadHive(file);
  if (!change(hive)) return {};
  return StoreHive(file, hive);
}

}  // namespace

namespace {

void StoreValue(THive& hive, const std::string& path, TRegValue value) {
  TRegKey& key = hive.FindOrAdd(path);
  if (TRegValue* existing = key.Find(value.Name)) {
    value.Name = existing->Name;  // keep the spelling already stored
    *existing = std::move(value);
  } else {
    key.Values.push_back(std::move(value));
  }
}

// The write error of a value: the value, the hive file and the reason.
ERegistryException WriteFailure(const std::string& name, const std::string& hiveFile, const std::string& reason) {
  return ERegistryException(Format(SRegWriteFailed, name, Format("%s (%s)", hiveFile, reason)));
}

}  // namespace

std::string DefaultHiveFile() { return MuraloConfigDir() + "/registry.reg"; }

TRegistry::TRegistry() : FHiveFile(DefaultHiveFile()) {}

TRegistry::TRegistry(std::string hiveFile) : FHiveFile(std::move(hiveFile)) {}

TRegistry::~TRegistry() = default;

static std::string ResolvePath(const std::string& key, bool open, const std::string& current) {
  if (!key.empty() && key.front() == '\\') return NormalizeKeyPath(key);
  if (open && !current.empty()) return NormalizeKeyPath(current + "\\" + key);
  return NormalizeKeyPath(key);
}

bool TRegistry::KeyExists(const std::string& key) {
  const std::string path = ResolvePath(key, FOpen, FCurrentPath);
  return KeyPresent(ReadHive(FHiveFile), path);
}

bool TRegistry::OpenKey(const std::string& key, bool canCreate) {
  const std::string path = ResolvePath(key, FOpen, FCurrentPath);
  bool exists = KeyPresent(ReadHive(FHiveFile), path);
  if (!exists) {
    if (!canCreate) return false;
    // Creating a key stores it at once, as the Windows registry does.
    std::string failure = ModifyHive(FHiveFile, [&](THive& hive) {
      if (hive.Find(path)) return false;
      hive.FindOrAdd(path);
      return true;
    });
    if (!failure.empty()) return false;
  }
  FCurrentPath = path;
  FOpen = true;
  return true;
}

void TRegistry::CloseKey() {
  FOpen = false;
  FCurrentPath.clear();
}

bool TRegistry::ValueExists(const std::string& name) {
  if (!FOpen) return false;
  THive hive = ReadHive(FHiveFile);
  const TRegKey* key = hive.Find(FCurrentPath);
  return key && key->Find(name) != nullptr;
}

TRegDataType TRegistry::GetDataType(const std::string& name) {
  if (!FOpen) return TRegDataType::rdUnknown;
  THive hive = ReadHive(FHiveFile);
  const TRegKey* key = hive.Find(FCurrentPath);
  const TRegValue* value = key ? key->Find(name) : nullptr;
  if (!value) return TRegDataType::rdUnknown;
  switch (value->Kind) {
    case TRegValueKind::rvString:
      return TRegDataType::rdString;
    case TRegValueKind::rvDWord:
      return TRegDataType::rdInteger;
    case TRegValueKind::rvRaw:
      return TRegDataType::rdUnknown;
  }
  return TRegDataType::rdUnknown;
}

std::vector<std::string> TRegistry::GetValueNames() {
  std::vector<std::string> names;
  if (!FOpen) return names;
  THive hive = ReadHive(FHiveFile);
  if (const TRegKey* key = hive.Find(FCurrentPath))
    for (const TRegValue& value : key->Values) names.push_back(value.Name);
  return names;
}

bool TRegistry::DeleteValue(const std::string& name) {
  if (!FOpen) return false;
  bool found = false;
  std::string failure = ModifyHive(FHiveFile, [&](THive& hive) {
    TRegKey* key = hive.Find(FCurrentPath);
    if (!key) return false;
    for (auto it = key->Values.begin(); it != key->Values.end(); ++it) {
      if (SameRegistryName(it->Name, name)) {
        key->Values.erase(it);
        found = true;
        return true;
      }
    }
    return false;
  });
  if (!failure.empty()) throw WriteFailure(name, FHiveFile, failure);
  return found;
}

namespace {

// The value of the open key, or the registry error for a missing one.
TRegValue ReadValue(const std::string& hiveFile, bool open, const std::string& path, const std::string& name) {
  if (open) {
    THive hive = ReadHive(hiveFile);
    if (const TRegKey* key = hive.Find(path))
      if (const TRegValue* value = key->Find(name)) return *value;
  }
  throw ERegistryException(Format(SRegValueMissing, name));
}

}  // namespace

bool TRegistry::ReadBool(const std::string& name) { return ReadInteger(name) != 0; }

int32_t TRegistry::ReadInteger(const std::string& name) {
  TRegValue value = ReadValue(FHiveFile, FOpen, FCurrentPath, name);
  if (value.Kind != TRegValueKind::rvDWord) throw ERegistryException(Format(SRegInvalidType, name));
  return static_cast<int32_t>(value.DWord);
}

std::string TRegistry::ReadString(const std::string& name) {
  TRegValue value;
  try {
    value = ReadValue(FHiveFile, FOpen, FCurrentPath, name);
  } catch (const ERegistryException&) {
    return {};
  }
  if (value.Kind != TRegValueKind::rvString) throw ERegistryException(Format(SRegInvalidType, name));
  return value.Text;
}

void TRegistry::WriteValue(TRegValue value) {
  if (!FOpen) throw ERegistryException(Format(SRegNoKey, value.Name));
  if (FUpdating) {
    FPending.emplace_back(FCurrentPath, std::move(value));
    return;
  }
  std::string failure = ModifyHive(FHiveFile, [&](THive& hive) {
    StoreValue(hive, FCurrentPath, value);
    return true;
  });
  if (!failure.empty()) throw WriteFailure(value.Name, FHiveFile, failure);
}

void TRegistry::BeginUpdate() {
  FUpdating = true;
  FPending.clear();
}

void TRegistry::CancelUpdate() {
  FUpdating = false;
  FPending.clear();
}

void TRegistry::EndUpdate() {
  FUpdating = false;
  std::vector<std::pair<std::string, TRegValue>> pending = std::move(FPending);
  FPending.clear();
  if (pending.empty()) return;
  std::string failure = ModifyHive(FHiveFile, [&](THive& hive) {
    for (auto& [path, value] : pending) StoreValue(hive, path, value);
    return true;
  });
  if (!failure.empty()) throw WriteFailure(pending.front().second.Name, FHiveFile, failure);
}

void TRegistry::WriteBool(const std::string& name, bool value) { WriteInteger(name, value ? 1 : 0); }

void TRegistry::WriteInteger(const std::string& name, int32_t value) {
  WriteValue(TRegValue{name, TRegValueKind::rvDWord, {}, static_cast<uint32_t>(value)});
}

void TRegistry::WriteString(const std::string& name, const std::string& value) {
  WriteValue(TRegValue{name, TRegValueKind::rvString, value, 0});
}

}  // namespace muralo
