#pragma once
// Streams of the class library: the one checked way bytes enter and leave the system.
// Read takes what is there; ReadBuffer is exact and raises EReadError; WriteBuffer is exact and
// raises EWriteError. Positions and sizes are 64-bit.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace muralo {

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
 public:
  virtual ~TStream() = default;
  TStream() = default;
  TStream(const TStream&) = delete;
  TStream& operator=(const TStream&) = delete;

  // Reads up to count bytes; answers how many were read (0 at the end).
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  // Writes up to count bytes; answers how many were written.
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  // Moves the position; answers the new position. Seeking before the start raises EReadError.
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;

  virtual int64_t Size();
  virtual void SetSize(int64_t newSize);

  int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
  void SetPosition(int64_t position) { Seek(position, TSeekOrigin::soBeginning); }
  // Bytes from the position to the end (never negative).
  int64_t Remaining();

  void ReadBuffer(void* buffer, int64_t count);
  void WriteBuffer(const void* buffer, int64_t count);
  // Copies count bytes from source (all of it from its start when count is 0); answers the count.
  int64_t CopyFrom(TStream& source, int64_t count);

 protected:
  // The errors of an exact read or write that could not be completed; a file stream names its file
  // and the system's reason.
  [[noreturn]] virtual void RaiseReadError();
  [[noreturn]] virtual void RaiseWriteError();
};

enum class TFileMode {
  fmOpenRead,  // read only; other writers are denied (shared advisory lock)
  fmCreate,    // create or truncate, write
  fmOpenReadWrite,
};

class TFileStream final : public TStream {
 public:
  TFileStream(const std::string& fileName, TFileMode mode);
  ~TFileStream() override;

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void SetSize(int64_t newSize) override;
  const std::string& FileName() const { return Name; }
  // Flushes written data to the disk (fsync).
  void Flush();

 protected:
  [[noreturn]] void RaiseReadError() override;
  [[noreturn]] void RaiseWriteError() override;

 private:
  std::string Name;
  int Fd = -1;
  int LastError = 0;  // errno of the last failed read or write, 0 after a short one
};

class TMemoryStream final : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::vector<uint8_t> data) : Data(std::move(data)) {}
  TMemoryStream(const void* data, size_t size);

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return static_cast<int64_t>(Data.size()); }
  void SetSize(int64_t newSize) override;

  void LoadFromStream(TStream& source);
  void LoadFromFile(const std::string& fileName);
  void SaveToStream(TStream& target) const;
  void SaveToFile(const std::string& fileName) const;
  void Clear() {
    Data.clear();
    Pos = 0;
  }

  const uint8_t* Memory() const { return Data.data(); }
  uint8_t* Memory() { return Data.data(); }
  const std::vector<uint8_t>& Bytes() const { return Data; }

 private:
  std::vector<uint8_t> Data;
  int64_t Pos = 0;
};

// A read-only view of bytes owned elsewhere (resources compiled into the program, fuzz inputs).
class TReadOnlyMemoryStream final : public TStream {
 public:
  TReadOnlyMemoryStream(const void* data, size_t size)
      : Data(static_cast<const uint8_t*>(data)), Length(static_cast<int64_t>(size)) {}
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return Length; }

 private:
  const uint8_t* Data;
  int64_t Length;
  int64_t Pos = 0;
};

// Typed exact reads and writes on streams (little- and big-endian). All raise EReadError/EWriteError.
uint8_t ReadU8(TStream& s);
uint16_t ReadLE16(TStream& s);
uint32_t ReadLE32(TStream& s);
uint16_t ReadBE16(TStream& s);
uint32_t ReadBE32(TStream& s);
std::vector<uint8_t> ReadBytes(TStream& s, int64_t count);  // exact; refuses counts past the stream's end
void WriteU8(TStream& s, uint8_t v);
void WriteLE16(TStream& s, uint16_t v);
void WriteLE32(TStream& s, uint32_t v);
void WriteBE16(TStream& s, uint16_t v);
void WriteBE32(TStream& s, uint32_t v);

// Replaces the content of a file so that a failure never leaves it half-written (a full disk, a
// crash): the bytes go into a temporary file beside it, which is synced and then renamed over it.
// The file gets the usual permissions (0644). Raises EFCreateError or EWriteError naming fileName;
// the previous file is then as it was and no temporary file is left.
void ReplaceFileContent(const std::string& fileName, const void* data, size_t size);
// The same with the content written by writeContent into the temporary file, in one pass (a
// picture need not be gathered in memory first). An error that writeContent raises removes the
// temporary file and passes on; the stream's own write errors name fileName.
void ReplaceFileContent(const std::string& fileName, const std::function<void(TStream&)>& writeContent);

// Reads a whole file into memory (raises EFOpenError / EReadError).
std::vector<uint8_t> ReadFileBytes(const std::string& fileName);

}  // namespace muralo
