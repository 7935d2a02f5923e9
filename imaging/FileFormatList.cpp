#include "imaging/FileFormatList.h"

#include <algorithm>

#include "classlib/Exception.h"
#include "classlib/Format.h"
#include "classlib/Icon.h"
#include "classlib/Streams.h"
#include "imaging/GraphicFramework.h"
#include "imaging/Graphicstrings.h"
#include "imaging/PictureLoader.h"
#include "imaging/ReaderTable.h"
#include "imaging/formats/PNGGraphic.h"

namespace muralo {

namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return LowerAscii(x) == LowerAscii(y); });
}

int CompareText(const std::string& a, const std::string& b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const auto x = static_cast<unsigned char>(LowerAscii(a[i]));
    const auto y = static_cast<unsigned char>(LowerAscii(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// A string list that is either kept in insertion order, or sorted ignoring case with duplicates
// dropped (a sorted list ignores an added string equal to one it holds); each string may carry a
// second text (the pattern of a filter entry).
class TFilterList {
 public:
  explicit TFilterList(bool sorted) : Sorted(sorted) {}
  void Add(const std::string& text, const std::string& object = {}) {
    if (!Sorted) {
      Items.push_back({text, object});
      return;
    }
    auto at = std::lower_bound(Items.begin(), Items.end(), text,
                               [](const Item& item, const std::string& t) { return CompareText(item.Text, t) < 0; });
    if (at != Items.end() && CompareText(at->Text, text) == 0) return;
    Items.insert(at, {text, object});
  }
  void Clear() { Items.clear(); }
  bool Empty() const { return Items.empty(); }
  // "*.a; *.b" for the extensions held.
  std::string Patterns() const {
    std::string result;
    for (const auto& item : Items) result += "*." + item.Text + "; ";
    if (!result.empty()) result.resize(result.size() - 2);
    return result;
  }
  struct Item {
    std::string Text, Object;
  };
  std::vector<Item> Items;

 private:
  bool Sorted;
};

}  // namespace

TFileFormatList* FileFormatList = nullptr;

TFileFormatList::~TFileFormatList() { Clear(); }

void TFileFormatList::Clear() {
  for (const auto& entry : FClassList) RemoveClass(entry->GraphicClass);
  FClassList.clear();
  FExtensionList.clear();
}

int TFileFormatList::FindExtension(const std::string& extension) const {
  if (extension.empty()) return -1;
  for (size_t i = 0; i < FExtensionList.size(); ++i)
    if (SameText(FExtensionList[i]->Extension, extension)) return static_cast<int>(i);
  return -1;
}

int TFileFormatList::FindGraphicClass(TGraphicClass graphicClass) const {
  for (size_t i = 0; i < FClassList.size(); ++i)
    if (FClassList[i]->GraphicClass == graphicClass) return static_cast<int>(i);
  return -1;
}

std::string TFileFormatList::GetDescription(TGraphicClass graphicClass) const {
  const int i = FindGraphicClass(graphicClass);
  return i < 0 ? std::string() : FClassList[static_cast<size_t>(i)]->Description;
}

void TFileFormatList::GetExtensionList(std::vector<std::string>& list) const {
  list.clear();
  for (const auto& entry : FExtensionList) list.push_back(entry->Extension);
}

TGraphicClass TFileFormatList::GraphicFromExtension(std::string text) const {
  if (const size_t dot = text.find('.'); dot != std::string::npos) text.erase(0, dot + 1);
  const int i = FindExtension(text);
  return i < 0 ? nullptr : FExtensionList[static_cast<size_t>(i)]->ClassReference->GraphicClass;
}

TGraphicClass TFileFormatList::GraphicFromContent(const std::string& fileName) const {
  TFileStream stream(fileName, TFileMode::fmOpenRead);
  return GraphicFromContent(stream);
}

TGraphicClass TFileFormatList::GraphicFromContent(TStream& stream) const {
  for (const auto& entry : FClassList) {
    // The class library's own classes (bitmap, icon, metafile, JPEG) have no content test here.
    if (!IsFrameworkClass(entry->GraphicClass) || !entry->GraphicClass->CanLoadStream) continue;
    if (entry->GraphicClass->CanLoadStream(stream)) return entry->GraphicClass;
  }
  return nullptr;
}

TClassEntry* TFileFormatList::LinkClass(TGraphicClass graphicClass, const std::string& common) {
  TClassEntry* entry = nullptr;
  if (const int i = FindGraphicClass(graphicClass); i >= 0) {
    entry = FClassList[static_cast<size_t>(i)].get();
  } else {
    FClassList.push_back(std::make_unique<TClassEntry>(TClassEntry{graphicClass, {}, 0}));
    entry = FClassList.back().get();
  }
  if (!common.empty()) entry->Description = common;
  ++entry->Count;
  return entry;
}

void TFileFormatList::DropClassEntry(TClassEntry* entry) {
  std::erase_if(FClassList, [entry](const std::unique_ptr<TClassEntry>& e) { return e.get() == entry; });
}

void TFileFormatList::RegisterFileFormat(const std::string& extension, const std::string& common,
                                         const std::string& individual, TFormatTypes formatTypes, bool replace,
                                         TGraphicClass graphicClass) {
  if (extension.empty()) return;
  const int found = FindExtension(extension);
  TExtensionEntry* entry = nullptr;
  if (found < 0) {
    auto fresh = std::make_unique<TExtensionEntry>();
    fresh->Extension = extension;
    fresh->Description = individual;
    fresh->FormatTypes = formatTypes;
    fresh->ClassReference = LinkClass(graphicClass, common);
    FExtensionList.push_back(std::move(fresh));
    entry = FExtensionList.back().get();
  } else {
    if (!replace) throw EInvalidGraphic(Format(gesRegistration, extension));
    entry = FExtensionList[static_cast<size_t>(found)].get();
    TClassEntry* old = entry->ClassReference;
    if (old->GraphicClass != graphicClass) {
      entry->ClassReference = LinkClass(graphicClass, common);
      if (--old->Count == 0) DropClassEntry(old);
    }
  }
  const std::string& description = entry->Description.empty() ? entry->ClassReference->Description : entry->Description;
  AddFormat(extension, description, graphicClass);
}

void TFileFormatList::UnregisterFileFormat(const std::string& extension, TGraphicClass graphicClass) {
  if (!extension.empty()) {
    const int found = FindExtension(extension);
    if (found < 0) return;
    TClassEntry* owner = FExtensionList[static_cast<size_t>(found)]->ClassReference;
    FExtensionList.erase(FExtensionList.begin() + found);
    if (--owner->Count == 0) {
      const TGraphicClass cls = owner->GraphicClass;
      DropClassEntry(owner);
      RemoveClass(cls);
    }
    return;
  }
  const int classIndex = FindGraphicClass(graphicClass);
  if (classIndex < 0) return;
  TClassEntry* owner = FClassList[static_cast<size_t>(classIndex)].get();
  for (size_t i = FExtensionList.size(); i-- > 0 && owner->Count > 0;) {
    if (FExtensionList[i]->ClassReference != owner) continue;
    FExtensionList.erase(FExtensionList.begin() + static_cast<std::ptrdiff_t>(i));
    --owner->Count;
  }
  DropClassEntry(owner);
  RemoveClass(graphicClass);
}

std::string TFileFormatList::GetGraphicFilter(TFormatTypes formats, TFilterSortType sortType, TFilterOptions options,
                                              TGraphicClass graphicClass) const {
  if (formats.Empty()) formats = TFormatTypes{ftAnimation, ftLayered, ftMultiImage, ftRaster, ftVector};
  const bool sortDescriptions = sortType == fstBoth || sortType == fstDescription;
  const bool sortExtensions = sortType == fstBoth || sortType == fstExtension;
  TFilterList descriptions(sortDescriptions);
  TFilterList classExtensions(sortExtensions);
  TFilterList allExtensions(sortExtensions);
  const bool withExtension = options.Has(foIncludeExtension);
  const bool includeAll = options.Has(foIncludeAll);

  if (options.Has(foCompact)) {
    for (const auto& classEntry : FClassList) {
      if (graphicClass && classEntry->GraphicClass != graphicClass) continue;
      classExtensions.Clear();
      for (const auto& ext : FExtensionList) {
        if (ext->ClassReference != classEntry.get() || (ext->FormatTypes * formats).Empty()) continue;
        classExtensions.Add(ext->Extension);
        if (includeAll) allExtensions.Add(ext->Extension);
      }
      const std::string pattern = classExtensions.Patterns();
      if (!pattern.empty()) descriptions.Add(classEntry->Description, pattern);
    }
  } else {
    for (const auto& ext : FExtensionList) {
      if (graphicClass && ext->ClassReference->GraphicClass != graphicClass) continue;
      if ((ext->FormatTypes * formats).Empty()) continue;
      const std::string& description = ext->Description.empty() ? ext->ClassReference->Description : ext->Description;
      descriptions.Add(description, "*." + ext->Extension);
      if (includeAll) allExtensions.Add(ext->Extension);
    }
  }

  std::string result;
  if (includeAll && !allExtensions.Empty()) result = std::string(gesAllImages) + "|" + allExtensions.Patterns() + "|";
  for (const auto& item : descriptions.Items) {
    result += withExtension ? item.Text + " (" + item.Object + ")" : item.Text;
    result += "|" + item.Object + "|";
  }
  if (!result.empty()) result.pop_back();
  return result;
}

// ---------------------------------------------------------------------------------------------
// Start and stop, both driven by the reader table (ReaderTable.cpp).

void InitializeFramework() {
  if (FileFormatList) return;
  auto list = std::make_unique<TFileFormatList>();
  for (const TReaderRow& row : ReaderTable())
    for (const TExtensionRow& ext : row.Extensions)
      list->RegisterFileFormat(ext.Extension, ext.Common ? *ext.Common : "", ext.Individual ? *ext.Individual : "",
                               row.FormatTypes, false, row.GraphicClass());
  FileFormatList = list.release();
  // Icons with PNG-compressed images (Windows Vista and later) are decoded by the PNG reader.
  SetIconPngDecoder(&DecodePNGToBGRA);
}

void FinalizeFramework() {
  if (!FileFormatList) return;
  // The table's shutdown order: readers by class, class library rows by their own extensions;
  // destroying the list unregisters the remaining classes from the picture loader.
  std::vector<const TReaderRow*> order;
  for (const TReaderRow& row : ReaderTable())
    if (row.Shutdown > 0) order.push_back(&row);
  std::stable_sort(order.begin(), order.end(),
                   [](const TReaderRow* a, const TReaderRow* b) { return a->Shutdown < b->Shutdown; });
  for (const TReaderRow* row : order) {
    if (row->IsReader()) {
      FileFormatList->UnregisterFileFormat("", row->GraphicClass());
    } else {
      for (const TExtensionRow& ext : row->Extensions)
        FileFormatList->UnregisterFileFormat(ext.Extension, row->GraphicClass());
    }
  }
  SetIconPngDecoder(nullptr);
  delete FileFormatList;
  FileFormatList = nullptr;
}

}  // namespace muralo
