#include "service/command_line_query.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <utility>
#include <vector>

#include "service/command_line_reader.h"

namespace starter::service {
namespace {

using namespace std::string_literals;

constexpr std::uint32_t kInvalidInfoClass = 0xC0000003;  // wine 8, Windows before 8.1
constexpr std::uint32_t kAccessDenied = 0xC0000022;
constexpr std::uint32_t kInfoLengthMismatch = 0xC0000004;
constexpr std::uint32_t kBufferTooSmall = 0xC0000023;
constexpr std::uint32_t kBufferOverflow = 0x80000005;

constexpr std::size_t kHead = 2 * sizeof(void*);

// The head written out by hand, in the width of this build, so that a wrong
// struct shows here. The text starts `text_at` bytes into the block.
struct Answer {
  explicit Answer(std::u16string text_, std::size_t text_at_ = kHead,
                  std::optional<std::uint16_t> length_ = std::nullopt,
                  std::optional<std::int64_t> buffer_at_ = std::nullopt, bool null_buffer_ = false)
      : text(std::move(text_)), text_at(text_at_), length(length_), buffer_at(buffer_at_), null_buffer(null_buffer_) {}

  std::u16string text;
  std::size_t text_at;
  std::optional<std::uint16_t> length;   // none: the whole text
  std::optional<std::int64_t> buffer_at;  // relative to the block; none: text_at
  bool null_buffer;

  void WriteInto(unsigned char* block, std::size_t size) const {
    std::vector<unsigned char> bytes(size, 0xCC);
    auto put = [&](std::size_t at, std::uint64_t value, std::size_t width) {
      for (std::size_t i = 0; i < width; ++i) bytes.at(at + i) = static_cast<unsigned char>(value >> (8 * i));
    };
    const std::uint64_t buffer = reinterpret_cast<std::uintptr_t>(block) +
                                 static_cast<std::uint64_t>(buffer_at.value_or(static_cast<std::int64_t>(text_at)));
    put(0, length.value_or(static_cast<std::uint16_t>(2 * text.size())), 2);
    put(2, 2 * text.size() + 2, 2);
    put(sizeof(void*), null_buffer ? 0 : buffer, sizeof(void*));
    for (std::size_t i = 0; i < text.size() && text_at + 2 * i + 1 < size; ++i) put(text_at + 2 * i, text[i], 2);
    std::memcpy(block, bytes.data(), size);
  }
};

// Answers the query from a script, one step per call, and notes the block
// sizes it was asked with.
class ScriptedQuery final : public CommandLineQuery {
 public:
  struct Step {
    std::uint32_t status;
    std::uint32_t needed;
    std::optional<Answer> answer;
  };
  std::deque<Step> script;
  std::vector<std::uint32_t> asked;

  std::uint32_t Query(unsigned char* block, std::uint32_t size, std::uint32_t& needed) override {
    asked.push_back(size);
    if (script.empty()) return kInvalidInfoClass;
    Step step = script.front();
    script.pop_front();
    if (step.answer) step.answer->WriteInto(block, size);
    needed = step.needed;
    return step.status;
  }
};

const std::u16string kLine = u"\"C:\\jre\\bin\\java.exe\" -jar \"C:\\Program Files\\Vantic.jar\"";

TEST(CommandLineQuery, AGoodAnswerIsTakenAtTheFirstAsk) {
  ScriptedQuery query;
  query.script.push_back({0, 200, Answer{kLine}});
  EXPECT_EQ(QueryCommandLine(query), kLine);
  EXPECT_EQ(query.asked.size(), 1u);
}

TEST(CommandLineQuery, ATooSmallBlockIsAskedForOnceMoreWithTheSizeNamed) {
  const std::u16string long_line = kLine + std::u16string(3000, u'x');
  for (std::uint32_t status : {kInfoLengthMismatch, kBufferTooSmall, kBufferOverflow}) {
    SCOPED_TRACE(status);
    ScriptedQuery query;
    query.script.push_back({status, 8192, std::nullopt});
    query.script.push_back({0, 8192, Answer{long_line}});
    EXPECT_EQ(QueryCommandLine(query), long_line);
    ASSERT_EQ(query.asked.size(), 2u);
    EXPECT_EQ(query.asked[1], 8192u);
  }
}

TEST(CommandLineQuery, RefusalsAndUnusableSizesGiveNoResult) {
  struct Case {
    const char* name;
    std::vector<ScriptedQuery::Step> script;
    std::size_t asks;
  };
  const Case cases[] = {
      {"class unknown", {{kInvalidInfoClass, 0, std::nullopt}}, 1},
      {"access denied", {{kAccessDenied, 0, std::nullopt}}, 1},
      {"too small, no size named", {{kBufferTooSmall, 0, std::nullopt}}, 1},
      {"too small, size not larger", {{kBufferTooSmall, 1024, std::nullopt}}, 1},
      {"too small, beyond any counted string", {{kBufferTooSmall, 0x20000, std::nullopt}}, 1},
      {"too small twice",
       {{kBufferTooSmall, 4096, std::nullopt}, {kBufferTooSmall, 8192, std::nullopt}, {0, 0, Answer{kLine}}},
       2},
      {"refused at the second ask", {{kBufferTooSmall, 4096, std::nullopt}, {kAccessDenied, 0, std::nullopt}}, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedQuery query;
    query.script.assign(c.script.begin(), c.script.end());
    EXPECT_EQ(QueryCommandLine(query), std::nullopt);
    EXPECT_EQ(query.asked.size(), c.asks);
  }
}

TEST(CommandLineAnswer, TheCountedStringMustNameWholeCharactersInsideTheBlock) {
  constexpr std::size_t kBlock = 256;
  struct Case {
    const char* name;
    Answer answer;
    std::optional<std::u16string> expected;
    std::size_t size = kBlock;
  };
  const Case cases[] = {
      {"text right behind the head", Answer{u"java -jar Vantic.jar"}, u"java -jar Vantic.jar"},
      {"text further on", Answer{u"abc", kHead + 40}, u"abc"},
      {"text ending at the block's end", Answer{u"abcd", kBlock - 8}, u"abcd"},
      {"NUL inside the text", Answer{u"ab\0cd"s}, u"ab"},
      {"Length shorter than the text", Answer{u"abcdef", kHead, 4}, u"ab"},
      {"Length 0 and no buffer", Answer{u"", kHead, 0, std::nullopt, true}, u""},
      {"Length running past the block", Answer{u"abcd", kBlock - 6}, std::nullopt},
      {"Length far past the block", Answer{u"abc", kHead, 0xFFFE}, std::nullopt},
      {"odd Length", Answer{u"abcd", kHead, 7}, std::nullopt},
      {"buffer inside the head", Answer{u"abcd", kHead, 8, 2}, std::nullopt},
      {"buffer null", Answer{u"abcd", kHead, 8, std::nullopt, true}, std::nullopt},
      {"block smaller than the head", Answer{u""}, std::nullopt, kHead - 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::uint64_t> words(kBlock / 8);
    auto* block = reinterpret_cast<unsigned char*>(words.data());
    c.answer.WriteInto(block, kBlock);
    EXPECT_EQ(ParseCommandLineAnswer(block, c.size), c.expected);
  }
}

// An answer whose buffer points outside its block names memory the answer
// does not own; here that memory holds a plausible text, which must not be taken.
TEST(CommandLineAnswer, ABufferOutsideTheBlockIsNotFollowed) {
  std::vector<std::uint64_t> words(96);
  auto* memory = reinterpret_cast<unsigned char*>(words.data());
  unsigned char* block = memory + 256;
  for (std::int64_t buffer_at : {-64, 256, 300}) {
    SCOPED_TRACE(buffer_at);
    const std::u16string decoy = u"decoy";
    std::memcpy(memory + 256 + buffer_at, decoy.data(), 2 * decoy.size());
    Answer{u"", kHead, 10, buffer_at}.WriteInto(block, 256);
    EXPECT_EQ(ParseCommandLineAnswer(block, 256), std::nullopt);
  }
}

TEST(CommandLineLeastRightFirst, TheMemoryIsReadOnlyWhenTheQueryGivesNothing) {
  int memory_reads = 0;
  auto read_memory = [&] {
    ++memory_reads;
    return std::optional<std::u16string>(u"from memory");
  };
  ScriptedQuery answering;
  answering.script.push_back({0, 0, Answer{kLine}});
  EXPECT_EQ(CommandLineLeastRightFirst(&answering, read_memory), kLine);
  EXPECT_EQ(memory_reads, 0);

  ScriptedQuery refusing;
  refusing.script.push_back({kAccessDenied, 0, std::nullopt});
  EXPECT_EQ(CommandLineLeastRightFirst(&refusing, read_memory), u"from memory");
  EXPECT_EQ(memory_reads, 1);

  // The process could not even be opened for the query.
  EXPECT_EQ(CommandLineLeastRightFirst(nullptr, read_memory), u"from memory");
  EXPECT_EQ(memory_reads, 2);

  ScriptedQuery malformed;
  malformed.script.push_back({0, 0, Answer{kLine, kHead, 9}});
  EXPECT_EQ(CommandLineLeastRightFirst(&malformed, [] { return std::optional<std::u16string>(); }),
            std::nullopt);
}

}  // namespace
}  // namespace starter::service
