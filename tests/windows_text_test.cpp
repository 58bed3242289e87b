// Names go through the Windows programs as WTF-8: every UTF-16 name comes
// back exactly, a lone surrogate in it too, never as another file's name.

#include "io/windows_text.h"

#include <gtest/gtest.h>

#include <string>

namespace upgrade_info {
namespace {

TEST(windows_text, every_name_comes_back_exactly) {
  const std::wstring names[] = {L"notes.txt",
                                L"\u0142\u00f3d\u017a.txt",
                                L"\u65e5\u672c",
                                L"\U0001F600",
                                std::wstring(L"a\xD800") + L"b.txt",
                                std::wstring(L"\xDC00x\xD83D")};
  for (const std::wstring& name : names) {
    EXPECT_EQ(utf16_from(wtf8_from(name)), name);
  }
  // A surrogate pair is one character of four bytes, as in UTF-8.
  EXPECT_EQ(wtf8_from(L"\U0001F600"), "\xF0\x9F\x98\x80");
}

}  // namespace
}  // namespace upgrade_info
