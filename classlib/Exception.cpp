#include "classlib/Exception.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "classlib/Format.h"

namespace muralo {

EReadError::EReadError() : EStreamError(SReadError) {}
EWriteError::EWriteError() : EStreamError(SWriteError) {}

EFOpenError::EFOpenError(const std::string& fileName, const std::string& reason)
    : EStreamError(Format(SFOpenError, fileName, reason)) {}

EFCreateError::EFCreateError(const std::string& fileName, const std::string& reason)
    : EStreamError(Format(SFCreateError, fileName, reason)) {}

int StrToInt(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  size_t end = text.size();
  while (end > i && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  const std::string body = text.substr(i, end - i);
  size_t digits = 0;
  if (!body.empty() && (body[0] == '+' || body[0] == '-')) digits = 1;
  bool ok = body.size() > digits;
  for (size_t k = digits; ok && k < body.size(); ++k) ok = body[k] >= '0' && body[k] <= '9';
  if (ok) {
    errno = 0;
    char* stop = nullptr;
    const long long value = std::strtoll(body.c_str(), &stop, 10);
    if (errno == 0 && value >= INT_MIN && value <= INT_MAX) return static_cast<int>(value);
  }
  throw EConvertError(Format(SInvalidInteger, text));
}

namespace detail {
std::string FormatImpl(std::string_view pattern, const std::vector<std::string>& args) {
  std::string out;
  out.reserve(pattern.size() + 32);
  size_t next = 0;
  for (size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (c != '%' || i + 1 >= pattern.size()) {
      out += c;
      continue;
    }
    const char d = pattern[i + 1];
    if (d == '%') {
      out += '%';
      ++i;
    } else if (d == 's' || d == 'd' || d == 'u' || d == 'x') {
      if (next < args.size()) {
        if (d == 'x') {
          // hexadecimal of a decimal argument
          char* stop = nullptr;
          const unsigned long long v = std::strtoull(args[next].c_str(), &stop, 10);
          std::ostringstream hex;
          hex << std::hex << std::uppercase << v;
          out += hex.str();
        } else {
          out += args[next];
        }
      }
      ++next;
      ++i;
    } else {
      out += c;
    }
  }
  return out;
}
}  // namespace detail

}  // namespace muralo
