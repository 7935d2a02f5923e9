#include "classlib/Resources.h"

#include <algorithm>
#include <charconv>

#include "classlib/Format.h"

namespace muralo {

namespace {

bool SameName(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    return lower(x) == lower(y);
  });
}

// "#123" names resource 123, as FindResource does on Windows.
bool NumericName(std::string_view name, uint32_t& id) {
  if (name.size() < 2 || name[0] != '#') return false;
  const char* first = name.data() + 1;
  const char* last = name.data() + name.size();
  auto [ptr, ec] = std::from_chars(first, last, id);
  return ec == std::errc() && ptr == last;
}

bool SameKey(const TResource& a, const TResource& b) {
  if (a.Type != b.Type) return false;
  if (a.Name.empty() != b.Name.empty()) return false;
  return a.Name.empty() ? a.Id == b.Id : SameName(a.Name, b.Name);
}

std::string KeyText(const TResource& r) {
  return r.Name.empty() ? Format("%u/%u", r.Type, r.Id) : Format("%u/%s", r.Type, r.Name);
}

}  // namespace

void TResourceTable::AddEntry(TResource entry) {
  for (const TResource& existing : Entries) {
    if (!SameKey(existing, entry)) continue;
    if (existing.Data == entry.Data && existing.Size == entry.Size) return;
    throw Exception(Format(SResourceTwice, KeyText(entry)));
  }
  Entries.push_back(std::move(entry));
}

void TResourceTable::Add(uint32_t type, uint32_t id, const void* data, size_t size) {
  if (id == 0) throw Exception(SResourceNullId);
  AddEntry(TResource{type, id, {}, static_cast<const uint8_t*>(data), size});
}

void TResourceTable::Add(uint32_t type, std::string_view name, const void* data, size_t size) {
  uint32_t id = 0;
  if (NumericName(name, id)) {
    Add(type, id, data, size);
    return;
  }
  if (name.empty()) throw Exception(SResourceNoName);
  AddEntry(TResource{type, 0, std::string(name), static_cast<const uint8_t*>(data), size});
}

const TResource* TResourceTable::Find(uint32_t type, uint32_t id) const {
  for (const TResource& r : Entries)
    if (r.Type == type && r.Name.empty() && r.Id == id) return &r;
  return nullptr;
}

const TResource* TResourceTable::Find(uint32_t type, std::string_view name) const {
  uint32_t id = 0;
  if (NumericName(name, id)) return Find(type, id);
  if (name.empty()) return nullptr;
  for (const TResource& r : Entries)
    if (r.Type == type && !r.Name.empty() && SameName(r.Name, name)) return &r;
  return nullptr;
}

TResourceTable& ProgramResources() {
  static TResourceTable table;
  return table;
}

HINSTANCE HInstance() { return &ProgramResources(); }

const TResource* FindResource(uint32_t type, uint32_t id) { return ProgramResources().Find(type, id); }

const TResource* FindResource(uint32_t type, std::string_view name) { return ProgramResources().Find(type, name); }

namespace {
const TResource& Require(HINSTANCE instance, const TResource* found, const std::string& what) {
  if (instance == nullptr || found == nullptr) throw EResNotFound(Format(SResourceNotFound, what));
  return *found;
}
}  // namespace

TResourceStream::TResourceStream(HINSTANCE instance, std::string_view name, uint32_t type)
    : Entry(&Require(instance, instance ? instance->Find(type, name) : nullptr, std::string(name))),
      View(std::make_unique<TReadOnlyMemoryStream>(Entry->Data, Entry->Size)) {}

TResourceStream::TResourceStream(HINSTANCE instance, uint32_t id, uint32_t type)
    : Entry(&Require(instance, instance ? instance->Find(type, id) : nullptr, Format("%u", id))),
      View(std::make_unique<TReadOnlyMemoryStream>(Entry->Data, Entry->Size)) {}

}  // namespace muralo
