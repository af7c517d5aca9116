#include "log/log_text.h"

#include <gtest/gtest.h>

#include <string>

namespace starter::log {
namespace {

// An argument that would otherwise end its own line and write a run of
// another process in the log's layout.
TEST(EscapeControls, ControlCharactersCannotEndTheLine) {
  const std::string forged = "Selkan\r\n[4242] [2026-12-08 10:00:00.000] [info] [ START ] 2.3.6.2\r\n";
  EXPECT_EQ(EscapeControls(forged),
            "Selkan\\r\\n[4242] [2026-12-08 10:00:00.000] [info] [ START ] 2.3.6.2\\r\\n");
  EXPECT_EQ(EscapeControls(std::string("a\tb\x01" "c\x1f\x7f", 7)), "a\\tb\\x01c\\x1F\\x7F");
  EXPECT_EQ(EscapeControls(std::string("\0", 1)), "\\x00");
}

TEST(EscapeControls, EveryOtherByteIsKeptAsItIs) {
  std::string plain;
  for (int byte = 0x20; byte < 0x100; ++byte)
    if (byte != 0x7F) plain += static_cast<char>(byte);
  EXPECT_EQ(EscapeControls(plain), plain);  // backslashes, quotes, bytes of UTF-8 and code pages alike
  EXPECT_EQ(EscapeControls("C:\\x01\\n"), "C:\\x01\\n");
  EXPECT_EQ(EscapeControls(""), "");
}

TEST(WideToUtf8, EncodesEachLengthOfSequence) {
  EXPECT_EQ(WideToUtf8(L"C:\\Temp"), "C:\\Temp");
  EXPECT_EQ(WideToUtf8(L"\u00e9"), "\xc3\xa9");            // two bytes
  EXPECT_EQ(WideToUtf8(L"\u20ac"), "\xe2\x82\xac");        // three bytes
  EXPECT_EQ(WideToUtf8(L"\U0001F600"), "\xf0\x9f\x98\x80");  // a pair of UTF-16 units on Windows
  EXPECT_EQ(WideToUtf8(std::wstring(L"a\0b", 3)), std::string("a\0b", 3));
}

TEST(WideToUtf8, LoneSurrogatesBecomeReplacementCharacters) {
  std::wstring lone_high{static_cast<wchar_t>(0xD83D), L'x'};
  std::wstring lone_low{static_cast<wchar_t>(0xDE00)};
  EXPECT_EQ(WideToUtf8(lone_high), "\xef\xbf\xbdx");
  EXPECT_EQ(WideToUtf8(lone_low), "\xef\xbf\xbd");
}

}  // namespace
}  // namespace starter::log
