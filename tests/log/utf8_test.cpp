#include "log/utf8.h"

#include <gtest/gtest.h>

namespace starter::log {
namespace {

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
