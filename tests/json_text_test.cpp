// Names in JSON: ASCII alone, and each name's bytes come back exactly.

#include "checker/json_text.h"

#include <gtest/gtest.h>

namespace upgrade_info {
namespace {

TEST(json_text, every_byte_is_written_so_that_it_comes_back) {
  const struct {
    std::string_view bytes;
    std::string_view posix;    // as name_bytes::utf8 writes it
    std::string_view windows;  // as name_bytes::wtf8 writes it
  } cases[] = {
      {"notes v1.2.ui", R"("notes v1.2.ui")", R"("notes v1.2.ui")"},
      {"a\"b\\c/d", R"("a\"b\\c/d")", R"("a\"b\\c/d")"},
      {"\n\r\t\x01\x1f\x7f", R"("\u000a\u000d\u0009\u0001\u001f\u007f")",
       R"("\u000a\u000d\u0009\u0001\u001f\u007f")"},
      // Two, three and four bytes: a surrogate pair beyond U+FFFF.
      {"\xC5\x82\xE6\x97\xA5\xF0\x9F\x98\x80", R"("\u0142\u65e5\ud83d\ude00")",
       R"("\u0142\u65e5\ud83d\ude00")"},
      // Stray bytes, each alone, and what follows them read anew.
      {"\xFF"
       "a\x80\xC5",
       R"("\udcffa\udc80\udcc5")", R"("\udcffa\udc80\udcc5")"},
      // Cut short by a byte that is no continuation.
      {"\xE6\x97"
       "a",
       R"("\udce6\udc97a")", R"("\udce6\udc97a")"},
      // Overlong, and past U+10FFFF.
      {"\xC0\xAF\xE0\x80\xAF", R"("\udcc0\udcaf\udce0\udc80\udcaf")",
       R"("\udcc0\udcaf\udce0\udc80\udcaf")"},
      {"\xF4\x90\x80\x80", R"("\udcf4\udc90\udc80\udc80")",
       R"("\udcf4\udc90\udc80\udc80")"},
      // A lone surrogate: no UTF-8, but a Windows name's own.
      {"\xED\xA0\x80", R"("\udced\udca0\udc80")", R"("\ud800")"},
      {"\xED\xBF\xBFx", R"("\udced\udcbf\udcbfx")", R"("\udfffx")"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.posix);
    EXPECT_EQ(json_string(c.bytes, name_bytes::utf8), c.posix);
    EXPECT_EQ(json_string(c.bytes, name_bytes::wtf8), c.windows);
  }
}

}  // namespace
}  // namespace upgrade_info
