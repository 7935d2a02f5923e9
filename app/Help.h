#pragma once
// The help commands of the main window's "&Aide" menu.
//
// The help is "muralo.chm" in the program's folder, compiled from resources/help at build time when
// a CHM compiler is at hand, and the same pages as HTML in the folder "aide" beside it (always
// built); an installed program finds either in <prefix>/share/muralo. "&Aide" opens the CHM where
// the desktop has a viewer registered for it, otherwise the HTML pages in the browser; with
// neither, it says so in a message (most Linux desktops have no CHM viewer, and the desktop's
// opener would then fail without a word).
// "Aide sur l'aide" opens the desktop's own help ("help:" link, handled by yelp or KHelpCenter).

#include <functional>
#include <string>

namespace muralo {

inline constexpr const char* HelpFileName = "muralo.chm";
inline constexpr const char* HelpPagesFolder = "aide";
inline constexpr const char* HelpPagesIndex = "index.html";
// Relative to the program's folder in an installation (<prefix>/bin -> <prefix>/share/muralo).
inline constexpr const char* HelpInstallFolder = "share/muralo";
inline constexpr const char* HelpOnHelpTarget = "help:gnome-help";
// The message when no help can be opened.
inline constexpr const char* SNoHelp =
    "Impossible d'ouvrir l'aide : aucun lecteur de fichiers CHM n'est installé et les pages d'aide "
    "(dossier « aide ») sont absentes du dossier du programme.";

// Hands a file or link to the desktop; the result is ignored.
using THelpOpener = std::function<void(const std::string& target)>;
// Whether the desktop has a program registered for CHM files.
using TChmViewerQuery = std::function<bool()>;

// The help file to open for a program folder (with or without a trailing '/'): beside the program,
// then in the installation's data folder, the CHM when it exists and a viewer is registered, else
// the HTML pages when they exist; "" when there is neither.
std::string HelpFile(const std::string& programDir, bool chmViewer);

// Aide2Click: opens HelpFile; false when there is nothing to open. Without an opener, the
// platform's ShellOpen; without a query, the desktop's MIME associations.
bool OpenHelp(const std::string& programDir, const THelpOpener& open = {}, const TChmViewerQuery& chmViewer = {});
// Aidesurlaide1Click.
void OpenHelpOnHelp(const THelpOpener& open = {});

}  // namespace muralo
