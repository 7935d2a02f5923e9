// muralo-versionres OUTPUT VERSION METADATA: writes the program's VS_VERSIONINFO block.
//   VERSION   the project's version, 1 to 4 numbers separated by dots (missing ones are 0); it
//             fills the fixed file information and the FileVersion and ProductVersion strings
//   METADATA  UTF-8 lines "Name=Value" for the other strings of the "040c04e4" table (French,
//             Windows code page 1252); blank lines and lines starting with '#' are skipped
// Every one of the twelve standard string names is written, empty when the metadata omits it.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <string>

#include "platform/VersionInfo.h"

using namespace muralo;

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: muralo-versionres OUTPUT VERSION METADATA\n";
    return 2;
  }
  TVersionData data;
  std::string version = argv[2];
  for (int i = 0; i < 4; ++i) {
    const size_t dot = version.find('.');
    const std::string part = version.substr(0, dot);
    if (!part.empty()) data.FileVersion[i] = data.ProductVersion[i] = uint16_t(std::stoul(part));
    version = dot == std::string::npos ? std::string() : version.substr(dot + 1);
  }
  const std::string dotted = std::to_string(data.FileVersion[0]) + "." + std::to_string(data.FileVersion[1]) + "." +
                             std::to_string(data.FileVersion[2]) + "." + std::to_string(data.FileVersion[3]);
  std::map<std::string, std::string> values{{"FileVersion", dotted}, {"ProductVersion", dotted}};
  std::ifstream metadata(argv[3]);
  if (!metadata) {
    std::cerr << "muralo-versionres: cannot read " << argv[3] << "\n";
    return 1;
  }
  for (std::string line; std::getline(metadata, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    values[line.substr(0, eq)] = line.substr(eq + 1);
  }
  for (const char* name :
       {"Comments", "CompanyName", "FileDescription", "FileVersion", "InternalName", "LegalCopyright",
        "LegalTrademarks", "OriginalFileName", "PrivateBuild", "ProductName", "ProductVersion", "SpecialBuild"})
    data.Strings.push_back({name, values[name]});
  try {
    const std::vector<uint8_t> block = BuildVersionInfo(data);
    std::ofstream out(argv[1], std::ios::binary);
    out.write(reinterpret_cast<const char*>(block.data()), std::streamsize(block.size()));
    if (!out) throw std::runtime_error(std::string("cannot write ") + argv[1]);
  } catch (const std::exception& e) {
    std::cerr << "muralo-versionres: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
