#include "service/command_line_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <optional>
#include <utility>
#include <vector>

namespace starter::service {
namespace {

using namespace std::string_literals;
using Bytes = std::vector<unsigned char>;

// A target process made of a basic-information answer and mapped regions.
// A read succeeds only when the whole range lies inside one region.
class FakeProcess final : public ProcessMemoryReader {
 public:
  Bytes basic_information;  // empty: the query fails
  std::map<std::uint64_t, Bytes> regions;
  std::vector<std::pair<std::uint64_t, std::size_t>> reads;

  platform::Status QueryBasicInformation(void* record, std::uint32_t size) override {
    if (basic_information.empty() || size != basic_information.size()) return kUnanswered;
    std::memcpy(record, basic_information.data(), size);
    return {};
  }
  platform::Status Read(std::uint64_t address, void* out, std::size_t size) override {
    reads.emplace_back(address, size);
    for (const auto& [start, bytes] : regions) {
      if (address < start || address - start > bytes.size()) continue;
      if (bytes.size() - (address - start) < size) continue;
      if (size > 0) std::memcpy(out, bytes.data() + (address - start), size);
      return {};
    }
    return kUnmapped;
  }

  static constexpr platform::SystemError kUnanswered{"query", 1};
  static constexpr platform::SystemError kUnmapped{"read", 299};
};

// The text read, or nothing when the read failed.
std::optional<std::u16string> ReadText(ProcessMemoryReader& reader, RecordLayout layout, ReadPath path) {
  platform::Expected<std::u16string> text = ReadProcessCommandLine(reader, layout, path);
  if (!text.ok()) return std::nullopt;
  return *text;
}

// The record offsets, written out by hand so that a wrong struct shows here.
struct Offsets {
  std::size_t pointer_bytes, peb_parameters, peb_bytes, command_line, parameters_bytes,
      string_buffer;
};
constexpr Offsets kLayout32{4, 0x10, 24, 0x40, 80, 4};
constexpr Offsets kLayout64{8, 0x20, 40, 0x70, 128, 8};

void Put(Bytes& bytes, std::size_t offset, std::uint64_t value, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i) bytes.at(offset + i) = static_cast<unsigned char>(value >> (8 * i));
}

Bytes Utf16Le(const std::u16string& units, std::size_t byte_count) {
  Bytes bytes(byte_count, 0xCC);
  for (std::size_t i = 0; i < units.size() && 2 * i + 1 < byte_count; ++i) Put(bytes, 2 * i, units[i], 2);
  if (byte_count % 2 == 1 && units.size() > byte_count / 2) bytes.back() = static_cast<unsigned char>(units[byte_count / 2]);
  return bytes;
}

struct Image {
  const char* name;
  RecordLayout layout;
  ReadPath path;
  std::uint64_t peb, parameters, buffer;
};
// Names the case in test listings instead of dumping its bytes.
void PrintTo(const Image& image, std::ostream* out) { *out << image.name; }

struct Text {
  std::u16string units;  // the buffer's content, NULs included
  std::uint16_t maximum_length;
  std::size_t mapped_bytes;  // how much of the buffer is readable
  std::uint16_t length;
};

Text WholeText(const std::u16string& units) {
  auto bytes = static_cast<std::uint16_t>(2 * units.size());
  return {units, bytes, bytes, bytes};
}

// Garbage around every field, so a read at a wrong offset cannot pass unseen.
FakeProcess BuildProcess(const Image& image, const Text& text) {
  const Offsets& at = image.layout == RecordLayout::kBits32 ? kLayout32 : kLayout64;
  FakeProcess process;
  bool wow64 = image.path == ReadPath::kWow64;
  process.basic_information.assign(wow64 ? 48 : 24, 0xCC);
  Put(process.basic_information, 0, 0x103, 4);  // still running
  Put(process.basic_information, wow64 ? 8 : 4, image.peb, wow64 ? 8 : 4);

  Bytes peb(at.peb_bytes, 0xCC);
  Put(peb, at.peb_parameters, image.parameters, at.pointer_bytes);
  Bytes parameters(at.parameters_bytes, 0xCC);
  Put(parameters, at.command_line, text.length, 2);
  Put(parameters, at.command_line + 2, text.maximum_length, 2);
  Put(parameters, at.command_line + at.string_buffer, image.buffer, at.pointer_bytes);

  process.regions[image.peb] = peb;
  process.regions[image.parameters] = parameters;
  process.regions[image.buffer] = Utf16Le(text.units, text.mapped_bytes);
  return process;
}

const std::u16string kCommandLine = u"\"\" -Djava.net.preferIPv4Stack=true -jar \"C:\\Vantic\\Vantic.jar\"";

class EachLayoutAndPath : public ::testing::TestWithParam<Image> {};

TEST_P(EachLayoutAndPath, ReadsTheCommandLineWithTheRecordSizesOfTheLayout) {
  const Image& image = GetParam();
  std::u16string units = kCommandLine + u'\0' + u"left over";
  Text text{units, static_cast<std::uint16_t>(2 * units.size()), 2 * units.size(),
            static_cast<std::uint16_t>(2 * kCommandLine.size())};
  FakeProcess process = BuildProcess(image, text);

  EXPECT_EQ(ReadText(process, image.layout, image.path), kCommandLine);
  bool bits32 = image.layout == RecordLayout::kBits32;
  decltype(process.reads) expected{{image.peb, bits32 ? 24u : 40u},
                                   {image.parameters, bits32 ? 80u : 128u},
                                   {image.buffer, text.maximum_length}};
  EXPECT_EQ(process.reads, expected);
}

TEST_P(EachLayoutAndPath, AnIncompleteStepGivesNoResult) {
  const Image& image = GetParam();
  struct Fault {
    const char* name;
    void (*apply)(FakeProcess&, const Image&);
  };
  const Fault faults[] = {
      {"query refused", [](FakeProcess& p, const Image&) { p.basic_information.clear(); }},
      {"no environment block", [](FakeProcess& p, const Image& i) { p.regions.erase(i.peb); }},
      {"environment block one byte short",
       [](FakeProcess& p, const Image& i) { p.regions[i.peb].pop_back(); }},
      {"parameters one byte short",
       [](FakeProcess& p, const Image& i) { p.regions[i.parameters].pop_back(); }},
      {"no text buffer", [](FakeProcess& p, const Image& i) { p.regions.erase(i.buffer); }},
  };
  for (const Fault& fault : faults) {
    SCOPED_TRACE(fault.name);
    FakeProcess process = BuildProcess(image, WholeText(kCommandLine));
    fault.apply(process, image);
    EXPECT_EQ(ReadText(process, image.layout, image.path), std::nullopt);
  }
}

TEST_P(EachLayoutAndPath, TextEndsAtTheFirstNulOrTheLastWholeCharacter) {
  const Image& image = GetParam();
  struct Case {
    const char* name;
    Text text;
    std::optional<std::u16string> expected;
  };
  const Case cases[] = {
      {"NUL inside, Length ignored", {u"ab\0cd"s, 10, 10, 2}, u"ab"},
      {"Length shorter than the text", {u"abcdef\0"s, 14, 14, 4}, u"abcdef"},
      {"no NUL", {u"abcdefgh", 8, 8, 8}, u"abcd"},
      {"odd MaximumLength", {u"abcd", 5, 5, 4}, u"ab"},
      {"MaximumLength 0", {u"", 0, 0, 0}, u""},
      {"MaximumLength beyond the buffer", {u"abcd", 10, 8, 8}, std::nullopt},
      {"UTF-16 units kept", WholeText(u"C:\\Caf\u00e9\\\xD83D\xDE00\u4e2d"),
       u"C:\\Caf\u00e9\\\xD83D\xDE00\u4e2d"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeProcess process = BuildProcess(image, c.text);
    EXPECT_EQ(ReadText(process, image.layout, image.path), c.expected);
  }
}

INSTANTIATE_TEST_SUITE_P(
    ProcessCommandLine, EachLayoutAndPath,
    ::testing::Values(
        Image{"layout32_native", RecordLayout::kBits32, ReadPath::kNative, 0x7FFD'F000, 0x0002'0000,
              0x0002'0498},
        Image{"layout64_wow64_above_4GiB", RecordLayout::kBits64, ReadPath::kWow64,
              0x7FF6'1234'5000, 0x1'2345'0000, 0x2'0000'1000},
        Image{"layout32_wow64", RecordLayout::kBits32, ReadPath::kWow64, 0x1'0000'3000, 0x0003'0000,
              0x0003'0500},
        Image{"layout64_native", RecordLayout::kBits64, ReadPath::kNative, 0x7FFD'E000, 0x0004'0000,
              0x0004'0800}),
    [](const testing::TestParamInfo<Image>& image) { return std::string(image.param.name); });

TEST(ProcessCommandLine, MaximumLengthZeroCopiesNoText) {
  Image image{"", RecordLayout::kBits32, ReadPath::kNative, 0x1000, 0x2000, 0x3000};
  FakeProcess process = BuildProcess(image, {u"", 0, 0, 0});
  ASSERT_EQ(ReadText(process, image.layout, image.path), u"");
  EXPECT_EQ(process.reads.size(), 2u);
}

// The WOW64 path meets 64-bit records whatever the machine claims to be: on
// ARM64 Windows an x86 process is told the machine is x86, and reading with
// 32-bit offsets there never finds the command line.
TEST(ProcessCommandLine, TheLayoutFollowsTheReadPath) {
  EXPECT_EQ(LayoutForReadPath(ReadPath::kNative), RecordLayout::kBits32);
  ASSERT_EQ(LayoutForReadPath(ReadPath::kWow64), RecordLayout::kBits64);
  Image wow64{"", RecordLayout::kBits64, ReadPath::kWow64, 0x7FF6'1234'5000, 0x1'2345'0000, 0x2'0000'1000};
  FakeProcess process = BuildProcess(wow64, WholeText(kCommandLine));
  EXPECT_EQ(ReadText(process, LayoutForReadPath(ReadPath::kWow64), ReadPath::kWow64), kCommandLine);
  EXPECT_NE(ReadText(process, RecordLayout::kBits32, ReadPath::kWow64), kCommandLine);
}

// The native path cannot name memory above 4 GiB. Cutting the address down
// would land on other memory, here a decoy holding a plausible command line.
TEST(ProcessCommandLine, NativePathRefusesAddressesAbove4GiB) {
  const std::uint64_t high = 0x1'0000'0000;
  const Image images[] = {
      {"parameters", RecordLayout::kBits64, ReadPath::kNative, 0x7000, high + 0x4000, 0x8000},
      {"text buffer", RecordLayout::kBits64, ReadPath::kNative, 0x7000, 0x4000, high + 0x8000},
  };
  for (const Image& image : images) {
    SCOPED_TRACE(image.name);
    FakeProcess process = BuildProcess(image, WholeText(kCommandLine));
    Image decoy = image;
    decoy.parameters &= 0xFFFF'FFFF;
    decoy.buffer &= 0xFFFF'FFFF;
    FakeProcess truncated = BuildProcess(decoy, WholeText(u"java -jar Vantic.jar"));
    process.regions.insert(truncated.regions.begin(), truncated.regions.end());

    EXPECT_EQ(ReadText(process, image.layout, image.path), std::nullopt);
    for (const auto& [address, size] : process.reads) EXPECT_LT(address, high);
  }
}

}  // namespace
}  // namespace starter::service
