#include "service/command_line_reader.h"

#include <gtest/gtest.h>

#include <deque>
#include <vector>

namespace starter::service {
namespace {

using namespace std::string_literals;
using Text = std::optional<std::u16string>;

constexpr std::uint32_t kAccessDenied = 0xC0000022, kInvalidInfoClass = 0xC0000003;
constexpr std::size_t kHead = 2 * sizeof(void*), kBlock = 256;

// An answer written by hand in this build's width, so that a wrong struct
// shows: Length and MaximumLength (by default those of the text and its NUL),
// a buffer `at` bytes into the block (none: a null buffer) and the text
// there, as far as it fits.
void WriteAnswer(unsigned char* block, std::size_t size, const std::u16string& text,
                 std::optional<std::int64_t> at = kHead, std::optional<std::uint16_t> length = {},
                 std::optional<std::uint16_t> maximum = {}) {
  auto put = [&](std::int64_t offset, std::uint64_t value, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i)
      if (offset + static_cast<std::int64_t>(i) >= 0 && offset + i < size)
        block[offset + static_cast<std::int64_t>(i)] = static_cast<unsigned char>(value >> (8 * i));
  };
  put(0, length.value_or(static_cast<std::uint16_t>(2 * text.size())), 2);
  put(2, maximum.value_or(static_cast<std::uint16_t>(2 * text.size() + 2)), 2);
  put(sizeof(void*), at ? reinterpret_cast<std::uintptr_t>(block) + *at : 0, sizeof(void*));
  for (std::size_t i = 0; at && i < text.size(); ++i) put(*at + 2 * static_cast<std::int64_t>(i), text[i], 2);
}

// Answers from a script, one step per call, noting the block sizes asked with.
class ScriptedQuery final : public CommandLineQuery {
 public:
  struct Step {
    std::uint32_t status, needed;
    Text text;
  };
  std::deque<Step> script;
  std::vector<std::uint32_t> asked;

  std::uint32_t Query(unsigned char* block, std::uint32_t size, std::uint32_t& needed) override {
    asked.push_back(size);
    Step step = script.empty() ? Step{kInvalidInfoClass, 0, {}} : script.front();
    if (!script.empty()) script.pop_front();
    if (step.text) WriteAnswer(block, size, *step.text);
    needed = step.needed;
    return step.status;
  }
};

const std::u16string kLine = u"\"C:\\jre\\bin\\java.exe\" -jar \"C:\\Program Files\\Vantic.jar\"";
const std::u16string kLongLine = kLine + std::u16string(3000, u'x');

TEST(CommandLineQuery, AsksOnceMoreOnlyWithALargerSizeTheSystemNamed) {
  struct Case {
    const char* name;
    std::vector<ScriptedQuery::Step> script;
    Text expected;
    std::vector<std::uint32_t> asked;
  };
  const Case cases[] = {
      {"good answer", {{0, 200, kLine}}, kLine, {1024}},
      {"info length mismatch", {{0xC0000004, 8192, {}}, {0, 8192, kLongLine}}, kLongLine, {1024, 8192}},
      {"buffer too small", {{0xC0000023, 8192, {}}, {0, 8192, kLongLine}}, kLongLine, {1024, 8192}},
      {"buffer overflow", {{0x80000005, 8192, {}}, {0, 8192, kLongLine}}, kLongLine, {1024, 8192}},
      {"class unknown", {{kInvalidInfoClass, 0, {}}}, {}, {1024}},
      {"access denied", {{kAccessDenied, 0, {}}}, {}, {1024}},
      {"too small, no larger size", {{0xC0000023, 1024, {}}}, {}, {1024}},
      {"too small, beyond any counted string", {{0xC0000023, 0x20000, {}}}, {}, {1024}},
      {"too small twice", {{0xC0000023, 4096, {}}, {0xC0000023, 8192, {}}, {0, 0, kLine}}, {}, {1024, 4096}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedQuery query;
    query.script.assign(c.script.begin(), c.script.end());
    EXPECT_EQ(QueryCommandLine(query), c.expected);
    EXPECT_EQ(query.asked, c.asked);
  }
}

// The rule of the memory read: MaximumLength bytes up to their first NUL,
// whatever Length says, and MaximumLength 0 is an empty command line.
TEST(CommandLineQuery, TheTextIsTheMaximumLengthBytesInsideTheBlockUpToANul) {
  using Size = std::optional<std::uint16_t>;
  struct Case {
    const char* name;
    std::u16string text;
    std::optional<std::int64_t> at;
    Size length, maximum;
    Text expected;
  };
  const Case cases[] = {
      {"right behind the head", kLine, kHead, {}, {}, kLine},
      {"its NUL at the block's end", u"abcd", kBlock - 10, {}, {}, u"abcd"},
      {"NUL inside", u"ab\0cd"s, kHead, {}, {}, u"ab"},
      {"Length shorter than the text", u"abcdef", kHead, 4, {}, u"abcdef"},
      {"Length 0", u"abcdef", kHead, 0, {}, u"abcdef"},
      {"odd Length", u"abcd", kHead, 7, {}, u"abcd"},
      {"no NUL within MaximumLength", u"abcdef", kHead, {}, 8, u"abcd"},
      {"odd MaximumLength", u"abcdef", kHead, {}, 7, u"abc"},
      {"MaximumLength 0, null buffer", u"", {}, 0, 0, u""},
      {"MaximumLength past the block", u"abcd", kBlock - 8, {}, {}, {}},
      {"buffer inside the head", u"", 2, 8, {}, {}},
      {"buffer null", u"abcd", {}, 8, {}, {}},
      {"buffer before the block", u"decoy", -64, {}, {}, {}},
      {"buffer behind the block", u"decoy", kBlock + 8, {}, {}, {}},
  };
  // The block sits inside larger memory, so a buffer outside it names real
  // bytes (a decoy text) that must not be taken.
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::uint64_t> memory(3 * kBlock / 8);
    unsigned char* block = reinterpret_cast<unsigned char*>(memory.data()) + kBlock;
    WriteAnswer(block - kBlock, 3 * kBlock, c.text, c.at ? std::optional<std::int64_t>(*c.at + kBlock) : c.at);
    WriteAnswer(block, kBlock, c.text, c.at, c.length, c.maximum);
    EXPECT_EQ(ParseCommandLineAnswer(block, kBlock), c.expected);
  }
  EXPECT_EQ(ParseCommandLineAnswer(reinterpret_cast<const unsigned char*>(u"\0\0\0"), kHead - 1), Text());
}

}  // namespace
}  // namespace starter::service
