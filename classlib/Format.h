#pragma once
// Format: the class library's message formatting. Supports %s (any argument streamed as text),
// %d (integers), %u, %x and %% — enough for every message of the system. Surplus directives are
// left empty, surplus arguments ignored; it never throws on a bad pattern.

#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace muralo {

namespace detail {
template <typename T>
std::string FormatArg(const T& value) {
  if constexpr (std::is_same_v<T, bool>) {
    return value ? "True" : "False";
  } else if constexpr (std::is_integral_v<T> && sizeof(T) == 1) {
    return std::to_string(static_cast<int>(value));
  } else {
    std::ostringstream out;
    out << value;
    return out.str();
  }
}
std::string FormatImpl(std::string_view pattern, const std::vector<std::string>& args);
}  // namespace detail

template <typename... Args>
std::string Format(std::string_view pattern, const Args&... args) {
  return detail::FormatImpl(pattern, {detail::FormatArg(args)...});
}

}  // namespace muralo
