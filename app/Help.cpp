#include "app/Help.h"

#include <filesystem>
#include <system_error>

#include "platform/Shell.h"

namespace muralo {

namespace {
void Open(const std::string& target, const THelpOpener& open) {
  if (open) {
    open(target);
  } else {
    ShellOpen(target);  // failures are ignored, as the opener's own
  }
}
}  // namespace

std::string HelpFile(const std::string& programDir, bool chmViewer) {
  const std::filesystem::path dir(programDir);
  // Beside the program (build tree, portable copy), then where an installation puts the data:
  // <prefix>/bin/muralo finds <prefix>/share/muralo.
  const std::filesystem::path places[] = {dir, dir / ".." / HelpInstallFolder};
  std::error_code ec;
  for (const auto& place : places) {
    const std::filesystem::path chm = place / HelpFileName;
    if (chmViewer && std::filesystem::is_regular_file(chm, ec)) return chm.lexically_normal().string();
    const std::filesystem::path pages = place / HelpPagesFolder / HelpPagesIndex;
    if (std::filesystem::is_regular_file(pages, ec)) return pages.lexically_normal().string();
  }
  return {};
}

bool OpenHelp(const std::string& programDir, const THelpOpener& open, const TChmViewerQuery& chmViewer) {
  const bool viewer = chmViewer ? chmViewer() : HasOpenerFor(ChmMimeTypes);
  const std::string file = HelpFile(programDir, viewer);
  if (file.empty()) return false;
  Open(file, open);
  return true;
}

void OpenHelpOnHelp(const THelpOpener& open) { Open(HelpOnHelpTarget, open); }

}  // namespace muralo
