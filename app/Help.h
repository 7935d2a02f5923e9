#pragma once
// The help commands of the main window's "&Aide" menu.
//
// The help is "muralo.chm" in the program's folder, compiled from resources/help at build time when
// a CHM compiler is at hand; otherwise the same pages are installed as HTML in the folder "aide"
// beside the program. "&Aide" opens whichever exists with the desktop's opener (ShellOpen), and the
// chm path when neither does (the opener then fails, and, as every opener failure here, silently).
// "Aide sur l'aide" opens the desktop's own help ("help:" link, handled by yelp or KHelpCenter).

#include <functional>
#include <string>

namespace muralo {

inline constexpr const char* HelpFileName = "muralo.chm";
inline constexpr const char* HelpPagesFolder = "aide";
inline constexpr const char* HelpPagesIndex = "index.html";
inline constexpr const char* HelpOnHelpTarget = "help:gnome-help";

// Hands a file or link to the desktop; the result is ignored.
using THelpOpener = std::function<void(const std::string& target)>;

// The help file to open for a program folder (with or without a trailing '/').
std::string HelpFile(const std::string& programDir);

// Aide2Click and Aidesurlaide1Click. Without an opener, the platform's ShellOpen.
void OpenHelp(const std::string& programDir, const THelpOpener& open = {});
void OpenHelpOnHelp(const THelpOpener& open = {});

}  // namespace muralo
