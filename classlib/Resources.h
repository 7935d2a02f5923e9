#pragma once
// The program's resources: byte blocks compiled into the binary (icons, the splash banner, pictures
// loaded by resource id), found by resource type and by numeric id or name, as in a Windows module.
//
// A table is filled once at start-up. For the program, the file that cmake/EmbedResources.cmake
// generates defines RegisterProgramResources(), which the program's main calls before anything
// loads a resource; it adds every embedded file to ProgramResources(). Nothing registers itself
// from a static initialiser.
//
// The table does not copy the bytes: what is added must outlive the table (the generated arrays
// are static).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "classlib/Exception.h"
#include "classlib/Streams.h"

namespace muralo {

// Resource types, with the numbers of the Windows resource format.
inline constexpr uint32_t RT_BITMAP = 2;
inline constexpr uint32_t RT_ICON = 3;
inline constexpr uint32_t RT_RCDATA = 10;
inline constexpr uint32_t RT_GROUP_ICON = 14;
inline constexpr uint32_t RT_VERSION = 16;

struct TResource {
  uint32_t Type = 0;
  uint32_t Id = 0;   // used when Name is empty
  std::string Name;  // empty for a resource known by number
  const uint8_t* Data = nullptr;
  size_t Size = 0;
};

// A resource that is not in the table (LoadFromResourceID/Name, TResourceStream).
class EResNotFound : public Exception {
 public:
  using Exception::Exception;
};

class TResourceTable {
 public:
  TResourceTable() = default;
  TResourceTable(const TResourceTable&) = delete;
  TResourceTable& operator=(const TResourceTable&) = delete;

  // Adds a resource. Adding the same bytes under the same key again does nothing, so registering
  // twice is harmless; other bytes under a key already taken raise Exception (two resources
  // cannot share a type and an id or name). An empty name or id 0 is refused the same way.
  void Add(uint32_t type, uint32_t id, const void* data, size_t size);
  void Add(uint32_t type, std::string_view name, const void* data, size_t size);

  // nullptr when absent. Names compare without regard to ASCII case; a name "#123" means id 123.
  const TResource* Find(uint32_t type, uint32_t id) const;
  const TResource* Find(uint32_t type, std::string_view name) const;

  size_t Count() const { return Entries.size(); }

 private:
  void AddEntry(TResource entry);
  std::vector<TResource> Entries;
};

// The program's module handle: its resource table. A test may build a table of its own and pass its
// address where a module instance is asked for.
using HINSTANCE = const TResourceTable*;

TResourceTable& ProgramResources();
HINSTANCE HInstance();

// Defined by the generated resource file of the program (see cmake/EmbedResources.cmake).
void RegisterProgramResources();

// Look-ups in the program's table; nullptr when absent.
const TResource* FindResource(uint32_t type, uint32_t id);
const TResource* FindResource(uint32_t type, std::string_view name);

// A read-only stream over one resource; raises EResNotFound when the module has none of that type
// and id or name.
class TResourceStream final : public TStream {
 public:
  TResourceStream(HINSTANCE instance, std::string_view name, uint32_t type);
  TResourceStream(HINSTANCE instance, uint32_t id, uint32_t type);

  int64_t Read(void* buffer, int64_t count) override { return View->Read(buffer, count); }
  int64_t Write(const void* buffer, int64_t count) override { return View->Write(buffer, count); }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override { return View->Seek(offset, origin); }
  int64_t Size() override { return View->Size(); }
  const TResource& Resource() const { return *Entry; }

 private:
  const TResource* Entry;
  std::unique_ptr<TReadOnlyMemoryStream> View;
};

}  // namespace muralo
