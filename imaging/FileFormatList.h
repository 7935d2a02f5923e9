#pragma once
// The framework's registry of file formats: for every extension the reader class, the
// descriptions shown to a user and the kind of image it holds. Every registration is passed on to
// the picture loader, which is how a file is read by its extension.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "classlib/Graphics.h"
#include "imaging/ImageTypes.h"

namespace muralo {

class TStream;

enum TFormatType : uint8_t { ftAnimation, ftLayered, ftMultiImage, ftRaster, ftVector };
using TFormatTypes = TSet<TFormatType>;

enum TFilterSortType : uint8_t { fstNone, fstBoth, fstDescription, fstExtension };
enum TFilterOption : uint8_t { foCompact, foIncludeAll, foIncludeExtension };
using TFilterOptions = TSet<TFilterOption>;

struct TClassEntry {
  TGraphicClass GraphicClass = nullptr;
  std::string Description;  // common description of the format family
  uint32_t Count = 0;       // extension entries linked to this class entry
};

struct TExtensionEntry {
  std::string Extension;    // without the dot, as registered
  std::string Description;  // individual description, may be empty
  TFormatTypes FormatTypes;
  TClassEntry* ClassReference = nullptr;
};

class TFileFormatList {
 public:
  TFileFormatList() = default;
  ~TFileFormatList();
  TFileFormatList(const TFileFormatList&) = delete;
  TFileFormatList& operator=(const TFileFormatList&) = delete;

  // Unregisters every class from the picture loader and frees all entries.
  void Clear();

  int FindExtension(const std::string& extension) const;
  int FindGraphicClass(TGraphicClass graphicClass) const;
  std::string GetDescription(TGraphicClass graphicClass) const;
  void GetExtensionList(std::vector<std::string>& list) const;
  std::string GetGraphicFilter(TFormatTypes formats, TFilterSortType sortType, TFilterOptions options,
                               TGraphicClass graphicClass) const;
  // Accepts "png", ".png" and "photo.png" (everything up to the first dot is dropped).
  TGraphicClass GraphicFromExtension(std::string text) const;
  // Asks the framework's readers, in registration order, whether they recognise the content.
  TGraphicClass GraphicFromContent(const std::string& fileName) const;
  TGraphicClass GraphicFromContent(TStream& stream) const;

  void RegisterFileFormat(const std::string& extension, const std::string& common, const std::string& individual,
                          TFormatTypes formatTypes, bool replace, TGraphicClass graphicClass);
  // With an extension: that extension; with an empty extension: the whole class.
  void UnregisterFileFormat(const std::string& extension, TGraphicClass graphicClass);

  const std::vector<std::unique_ptr<TClassEntry>>& ClassList() const { return FClassList; }
  const std::vector<std::unique_ptr<TExtensionEntry>>& ExtensionList() const { return FExtensionList; }

 private:
  TClassEntry* LinkClass(TGraphicClass graphicClass, const std::string& common);
  void DropClassEntry(TClassEntry* entry);

  std::vector<std::unique_ptr<TClassEntry>> FClassList;
  std::vector<std::unique_ptr<TExtensionEntry>> FExtensionList;
};

// The one registry of the process; null outside InitializeFramework / FinalizeFramework.
extern TFileFormatList* FileFormatList;

// Framework start: creates FileFormatList and registers the reader table's extensions in order (each
// goes on to the picture loader). Framework stop: unregisters in the shutdown order and destroys the list.
void InitializeFramework();
void FinalizeFramework();

// Runs the framework start for the lifetime of the object.
class TFrameworkScope {
 public:
  TFrameworkScope() { InitializeFramework(); }
  ~TFrameworkScope() { FinalizeFramework(); }
  TFrameworkScope(const TFrameworkScope&) = delete;
  TFrameworkScope& operator=(const TFrameworkScope&) = delete;
};

}  // namespace muralo
