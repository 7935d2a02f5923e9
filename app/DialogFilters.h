#pragma once
// File-dialog filters: the class library's "Description|patterns|..." form in Qt's syntax.

#include <string>
#include <vector>

namespace muralo {

// One Qt filter per description/patterns pair: "Description (*.a *.b)". A description that
// already ends in its own "(...)" loses it, and ';'-separated patterns become space-separated,
// which is how Qt reads them. An odd trailing description without patterns is dropped.
std::vector<std::string> ToQtFilters(const std::string& filter);

}  // namespace muralo
