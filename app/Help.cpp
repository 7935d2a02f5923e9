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
    ShellOpen(target);  // failures are ignored: nothing opens and nothing is shown
  }
}
}  // namespace

std::string HelpFile(const std::string& programDir) {
  const std::filesystem::path dir(programDir);
  const std::filesystem::path chm = dir / HelpFileName;
  const std::filesystem::path pages = dir / HelpPagesFolder / HelpPagesIndex;
  std::error_code ec;
  if (std::filesystem::is_regular_file(chm, ec)) return chm.string();
  if (std::filesystem::is_regular_file(pages, ec)) return pages.string();
  return chm.string();
}

void OpenHelp(const std::string& programDir, const THelpOpener& open) { Open(HelpFile(programDir), open); }

void OpenHelpOnHelp(const THelpOpener& open) { Open(HelpOnHelpTarget, open); }

}  // namespace muralo
