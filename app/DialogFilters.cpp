#include "app/DialogFilters.h"

namespace muralo {

static std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return parts;
}

std::vector<std::string> ToQtFilters(const std::string& filter) {
  std::vector<std::string> result;
  if (filter.empty()) return result;
  const std::vector<std::string> parts = Split(filter, '|');
  for (size_t i = 0; i + 1 < parts.size(); i += 2) {
    std::string description = parts[i];
    if (!description.empty() && description.back() == ')') {
      size_t open = description.rfind('(');
      if (open != std::string::npos) {
        description.erase(open);
        while (!description.empty() && description.back() == ' ') description.pop_back();
      }
    }
    std::string patterns;
    for (const std::string& p : Split(parts[i + 1], ';')) {
      if (p.empty()) continue;
      if (!patterns.empty()) patterns += ' ';
      patterns += p;
    }
    result.push_back(description + " (" + patterns + ")");
  }
  return result;
}

}  // namespace muralo
