#include "classlib/Streams.h"

#include <cstdint>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "classlib/Exception.h"
#include "classlib/Format.h"

namespace muralo {

namespace {

// One read or write system call, made again when a signal interrupts it: the bytes moved, or 0
// with the call's errno kept in lastError (0 after a success, also a short one).
template <typename Call>
int64_t Transfer(int& lastError, Call call, int64_t count) {
  if (count <= 0) return 0;
  for (;;) {
    const ssize_t n = call();
    if (n >= 0) {
      lastError = 0;
      return n;
    }
    if (errno != EINTR) {
      lastError = errno;
      return 0;
    }
  }
}

// Moves a file descriptor's position; -1 when the system refuses.
int64_t SeekFd(int fd, int64_t offset, TSeekOrigin origin) {
  const int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET
                     : origin == TSeekOrigin::soCurrent ? SEEK_CUR
                                                        : SEEK_END;
  return ::lseek(fd, static_cast<off_t>(offset), whence);
}

}  // namespace

int64_t TStream::Size() {
  const int64_t pos = Position();
  const int64_t size = Seek(0, TSeekOrigin::soEnd);
  SetPosition(pos);
  return size;
}

void TStream::SetSize(int64_t) { throw EWriteError(); }

int64_t TStream::Remaining() { return std::max<int64_t>(0, Size() - Position()); }

void TStream::ReadBuffer(void* buffer, int64_t count) {
  if (count < 0) throw EReadError();
  auto* p = static_cast<uint8_t*>(buffer);
  int64_t done = 0;
  while (done < count) {
    const int64_t n = Read(p + done, count - done);
    if (n <= 0) RaiseReadError();
    done += n;
  }
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
  if (count < 0) throw EWriteError();
  const auto* p = static_cast<const uint8_t*>(buffer);
  int64_t done = 0;
  while (done < count) {
    const int64_t n = Write(p + done, count - done);
    if (n <= 0) RaiseWriteError();
    done += n;
  }
}

void TStream::RaiseReadError() { throw EReadError(); }
void TStream::RaiseWriteError() { throw EWriteError(); }

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  std::vector<uint8_t> chunk(static_cast<size_t>(std::min<int64_t>(count, 1 << 16)));
  int64_t left = count;
  while (left > 0) {
    const int64_t n = std::min<int64_t>(left, static_cast<int64_t>(chunk.size()));
    source.ReadBuffer(chunk.data(), n);
    WriteBuffer(chunk.data(), n);
    left -= n;
  }
  return count;
}

// ---- TFileStream ----

TFileStream::TFileStream(const std::string& fileName, TFileMode mode) : Name(fileName) {
  int flags = O_CLOEXEC;
  switch (mode) {
    case TFileMode::fmOpenRead:
      flags |= O_RDONLY;
      break;
    case TFileMode::fmCreate:
      flags |= O_RDWR | O_CREAT | O_TRUNC;
      break;
    case TFileMode::fmOpenReadWrite:
      flags |= O_RDWR;
      break;
  }
  Fd = ::open(fileName.c_str(), flags, 0644);
  if (Fd < 0) {
    const std::string reason = SystemErrorText(errno);
    if (mode == TFileMode::fmOpenRead) throw EFOpenError(fileName, reason);
    throw EFCreateError(fileName, reason);
  }
  struct stat st {};
  if (::fstat(Fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(Fd);
    Fd = -1;
    const std::string reason = SystemErrorText(EISDIR);
    if (mode == TFileMode::fmOpenRead) throw EFOpenError(fileName, reason);
    throw EFCreateError(fileName, reason);
  }
  if (mode == TFileMode::fmOpenRead) {
    // Deny other writers for as long as we read: a shared advisory lock, which cooperating writers
    // (our own list and wallpaper writers) respect. Not fatal where the file system has no locks.
    (void)::flock(Fd, LOCK_SH | LOCK_NB);
  }
}

TFileStream::~TFileStream() {
  if (Fd >= 0) ::close(Fd);
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
  return Transfer(
      LastError, [&] { return ::read(Fd, buffer, static_cast<size_t>(count)); }, count);
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
  return Transfer(
      LastError, [&] { return ::write(Fd, buffer, static_cast<size_t>(count)); }, count);
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  const int64_t r = SeekFd(Fd, offset, origin);
  if (r < 0) throw EReadError();
  return r;
}

void TFileStream::SetSize(int64_t newSize) {
  if (::ftruncate(Fd, static_cast<off_t>(newSize)) != 0) {
    LastError = errno;
    RaiseWriteError();
  }
}

void TFileStream::Flush() {
  if (::fsync(Fd) != 0) {
    LastError = errno;
    RaiseWriteError();
  }
}

void TFileStream::RaiseReadError() {
  throw EReadError(Format(SStreamErrorDetail, SReadError, Name, LastError ? SystemErrorText(LastError) : SEndOfFile));
}

void TFileStream::RaiseWriteError() {
  throw EWriteError(
      Format(SStreamErrorDetail, SWriteError, Name, LastError ? SystemErrorText(LastError) : SShortWrite));
}

// ---- TMemoryStream ----

TMemoryStream::TMemoryStream(const void* data, size_t size)
    : Data(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size) {}

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
  if (count <= 0 || Pos >= Size()) return 0;
  const int64_t n = std::min<int64_t>(count, Size() - Pos);
  std::memcpy(buffer, Data.data() + Pos, static_cast<size_t>(n));
  Pos += n;
  return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  if (Pos + count > Size()) Data.resize(static_cast<size_t>(Pos + count));
  std::memcpy(Data.data() + Pos, buffer, static_cast<size_t>(count));
  Pos += count;
  return count;
}

static int64_t NewPosition(int64_t pos, int64_t size, int64_t offset, TSeekOrigin origin) {
  int64_t base = origin == TSeekOrigin::soBeginning ? 0 : origin == TSeekOrigin::soCurrent ? pos : size;
  // before the start, or past what a 64-bit position holds (offsets come from file headers)
  if (offset < 0 ? base + offset < 0 : base > INT64_MAX - offset) throw EReadError();  // base >= 0
  return base + offset;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  Pos = NewPosition(Pos, Size(), offset, origin);
  return Pos;
}

void TMemoryStream::SetSize(int64_t newSize) {
  Data.resize(static_cast<size_t>(std::max<int64_t>(0, newSize)));
  Pos = std::min(Pos, Size());
}

void TMemoryStream::LoadFromStream(TStream& source) {
  source.SetPosition(0);
  const int64_t size = source.Size();
  Data.assign(static_cast<size_t>(size), 0);
  source.ReadBuffer(Data.data(), size);
  Pos = 0;
}

void TMemoryStream::LoadFromFile(const std::string& fileName) {
  TFileStream f(fileName, TFileMode::fmOpenRead);
  LoadFromStream(f);
}

void TMemoryStream::SaveToStream(TStream& target) const {
  target.WriteBuffer(Data.data(), static_cast<int64_t>(Data.size()));
}

void TMemoryStream::SaveToFile(const std::string& fileName) const {
  TFileStream f(fileName, TFileMode::fmCreate);
  SaveToStream(f);
}

// ---- TReadOnlyMemoryStream ----

int64_t TReadOnlyMemoryStream::Read(void* buffer, int64_t count) {
  if (count <= 0 || Pos >= Length) return 0;
  const int64_t n = std::min<int64_t>(count, Length - Pos);
  std::memcpy(buffer, Data + Pos, static_cast<size_t>(n));
  Pos += n;
  return n;
}

int64_t TReadOnlyMemoryStream::Write(const void*, int64_t) { return 0; }

int64_t TReadOnlyMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  Pos = NewPosition(Pos, Length, offset, origin);
  return Pos;
}

// ---- typed helpers ----

uint8_t ReadU8(TStream& s) {
  uint8_t b;
  s.ReadBuffer(&b, 1);
  return b;
}
uint16_t ReadLE16(TStream& s) {
  uint8_t b[2];
  s.ReadBuffer(b, 2);
  return static_cast<uint16_t>(b[0] | (b[1] << 8));
}
uint32_t ReadLE32(TStream& s) {
  uint8_t b[4];
  s.ReadBuffer(b, 4);
  return uint32_t(b[0]) | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) | (uint32_t(b[3]) << 24);
}
uint16_t ReadBE16(TStream& s) {
  uint8_t b[2];
  s.ReadBuffer(b, 2);
  return static_cast<uint16_t>((b[0] << 8) | b[1]);
}
uint32_t ReadBE32(TStream& s) {
  uint8_t b[4];
  s.ReadBuffer(b, 4);
  return (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | uint32_t(b[3]);
}
std::vector<uint8_t> ReadBytes(TStream& s, int64_t count) {
  if (count < 0 || count > s.Remaining()) throw EReadError();
  std::vector<uint8_t> out(static_cast<size_t>(count));
  s.ReadBuffer(out.data(), count);
  return out;
}
void WriteU8(TStream& s, uint8_t v) { s.WriteBuffer(&v, 1); }
void WriteLE16(TStream& s, uint16_t v) {
  const uint8_t b[2] = {uint8_t(v), uint8_t(v >> 8)};
  s.WriteBuffer(b, 2);
}
void WriteLE32(TStream& s, uint32_t v) {
  const uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
  s.WriteBuffer(b, 4);
}
void WriteBE16(TStream& s, uint16_t v) {
  const uint8_t b[2] = {uint8_t(v >> 8), uint8_t(v)};
  s.WriteBuffer(b, 2);
}
void WriteBE32(TStream& s, uint32_t v) {
  const uint8_t b[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
  s.WriteBuffer(b, 4);
}

namespace {

// The temporary file of ReplaceFileContent, its write errors named after the file it replaces.
class TReplacementStream final : public TStream {
 public:
  TReplacementStream(int fd, const std::string& fileName) : Fd(fd), Name(fileName) {}
  int64_t Read(void*, int64_t) override { return 0; }
  int64_t Write(const void* buffer, int64_t count) override {
    return Transfer(
        LastError, [&] { return ::write(Fd, buffer, static_cast<size_t>(count)); }, count);
  }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override {
    const int64_t r = SeekFd(Fd, offset, origin);
    if (r < 0) throw EWriteError();
    return r;
  }

 protected:
  [[noreturn]] void RaiseWriteError() override {
    throw EWriteError(
        Format(SStreamErrorDetail, SWriteError, Name, LastError ? SystemErrorText(LastError) : SShortWrite));
  }

 private:
  int Fd;
  const std::string& Name;
  int LastError = 0;
};

}  // namespace

void ReplaceFileContent(const std::string& fileName, const void* data, size_t size) {
  ReplaceFileContent(fileName, [&](TStream& file) { file.WriteBuffer(data, static_cast<int64_t>(size)); });
}

void ReplaceFileContent(const std::string& fileName, const std::function<void(TStream&)>& writeContent) {
  const size_t slash = fileName.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string() : fileName.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? fileName : fileName.substr(slash + 1);
  std::string temp = dir + "." + base + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) throw EFCreateError(fileName, SystemErrorText(errno));
  try {
    TReplacementStream file(fd, fileName);
    writeContent(file);
  } catch (...) {
    ::close(fd);
    ::unlink(temp.c_str());
    throw;
  }
  int error = 0;
  // mkstemp makes the file private; the replaced file gets the usual permissions.
  if (::fchmod(fd, 0644) != 0) error = errno;
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error != 0) {
    ::unlink(temp.c_str());
    throw EWriteError(Format(SStreamErrorDetail, SWriteError, fileName, SystemErrorText(error)));
  }
  if (::rename(temp.c_str(), fileName.c_str()) != 0) {
    error = errno;
    ::unlink(temp.c_str());
    throw EFCreateError(fileName, SystemErrorText(error));
  }
  // The rename itself is made durable with its directory.
  const int dirFd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    (void)::fsync(dirFd);
    ::close(dirFd);
  }
}

std::vector<uint8_t> ReadFileBytes(const std::string& fileName) {
  TFileStream f(fileName, TFileMode::fmOpenRead);
  return ReadBytes(f, f.Size());
}

}  // namespace muralo
