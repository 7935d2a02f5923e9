// Messages that quote a file's bytes show them readably, whatever the bytes are.
#include <gtest/gtest.h>

#include <string>

#include "classlib/Exception.h"

namespace muralo {
namespace {

TEST(ReadableText, QuotedBytesStayReadable) {
  using namespace std::string_literals;
  struct Case {
    const char* name;
    std::string text;
    std::string shown;
  } cases[] = {
      {"ascii", "12a", "12a"},
      {"nul_inside", "1\0002"s, "1\\x002"},
      {"controls", "\t\r\n\x7f", "\\x09\\x0D\\x0A\\x7F"},
      {"utf8_kept", "é€😀", "é€😀"},
      {"stray_latin1", "caf\xe9", "caf\\xE9"},
      {"overlong", "\xc0\xaf", "\\xC0\\xAF"},
      {"surrogate", "\xed\xa0\x80", "\\xED\\xA0\\x80"},
      {"cut_sequence", "\xe2\x82", "\\xE2\\x82"},
      {"long", std::string(100, '7'), std::string(64, '7') + "…"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ReadableText(c.text), c.shown);
  }
}

TEST(ReadableText, StrToIntQuotesTheWholeText) {
  try {
    StrToInt(std::string("4\0x", 3));
    FAIL() << "no error";
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'4\\x00x' n'est pas une valeur entière correcte");
  }
}

}  // namespace
}  // namespace muralo
