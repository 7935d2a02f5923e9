#include "app/ImageList.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "classlib/Exception.h"
#include "classlib/Streams.h"

namespace muralo {

TEntryList ParseListText(std::string_view text) {
  if (auto nul = text.find('\0'); nul != std::string_view::npos) text = text.substr(0, nul);
  TEntryList entries;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
      entries.emplace_back(text.substr(start));
      break;
    }
    entries.emplace_back(text.substr(start, end - start));
    start = end + 1;
    if (text[end] == '\r' && start < text.size() && text[start] == '\n') ++start;
  }
  return entries;
}

std::string FormatListText(const TEntryList& entries) {
  std::string text;
  for (const std::string& e : entries) {
    text += e;
    text += "\r\n";
  }
  return text;
}

TEntryList ReadListFile(const std::string& fileName) {
  TFileStream stream(fileName, TFileMode::fmOpenRead);
  std::string text(static_cast<size_t>(stream.Size()), '\0');
  stream.ReadBuffer(text.data(), static_cast<int64_t>(text.size()));
  return ParseListText(text);
}

void WriteListFile(const std::string& fileName, const TEntryList& entries) {
  namespace fs = std::filesystem;
  const std::string text = FormatListText(entries);
  fs::path target(fileName);
  fs::path dir = target.parent_path();
  std::string pattern = ((dir.empty() ? fs::path(".") : dir) / ("." + target.filename().string() + ".XXXXXX")).string();
  int fd = ::mkstemp(pattern.data());
  if (fd < 0) throw EFCreateError(fileName, std::strerror(errno));
  const std::string tempName = pattern;
  bool ok = true;
  size_t done = 0;
  while (ok && done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      ok = false;
    else
      done += static_cast<size_t>(n);
  }
  // mkstemp makes the file private; a list file gets the usual permissions.
  ok = ok && ::fchmod(fd, 0644) == 0 && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  if (!ok) {
    ::unlink(tempName.c_str());
    throw EWriteError();
  }
  if (std::rename(tempName.c_str(), fileName.c_str()) != 0) {
    int err = errno;
    ::unlink(tempName.c_str());
    throw EFCreateError(fileName, std::strerror(err));
  }
}

static int FoldByte(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; }

bool ListTextLess(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return FoldByte(static_cast<unsigned char>(x)) < FoldByte(static_cast<unsigned char>(y));
  });
}

size_t SortedInsertPosition(const TEntryList& entries, const std::string& text) {
  return static_cast<size_t>(std::upper_bound(entries.begin(), entries.end(), text, ListTextLess) - entries.begin());
}

}  // namespace muralo
