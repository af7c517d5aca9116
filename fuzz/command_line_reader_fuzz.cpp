// The walk from a process's basic information to its command line, over a
// memory image made from the input: any record may point anywhere, carry any
// length, or lie partly outside the mapped bytes.
//
// Input: one selector byte (bit 0: 64-bit layout, bit 1: WOW64 read path),
// the image's base address as eight little-endian bytes, then the image. The
// basic-information answer is the image's first bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "require.h"
#include "service/command_line_reader.h"

namespace {

using starter::fuzz::Require;
using starter::service::ReadPath;
using starter::service::RecordLayout;

// The image mapped at one base address; reads succeed only inside it. Each
// copy goes through the reader's own buffers, so the sanitizer sees any size
// that disagrees with them.
class ImageProcess final : public starter::service::ProcessMemoryReader {
 public:
  ImageProcess(std::uint64_t base, std::vector<unsigned char> image)
      : base_(base), image_(std::move(image)) {}

  starter::platform::Status QueryBasicInformation(void* record, std::uint32_t size) override {
    if (size > image_.size()) return kOutside;
    std::memcpy(record, image_.data(), size);
    return {};
  }

  starter::platform::Status Read(std::uint64_t address, void* out, std::size_t size) override {
    ++reads;
    highest_address = std::max(highest_address, address);
    if (address < base_ || address - base_ > image_.size()) return kOutside;
    const std::size_t offset = address - base_;
    if (image_.size() - offset < size) return kOutside;
    std::memcpy(out, image_.data() + offset, size);
    last_read.assign(image_.begin() + static_cast<std::ptrdiff_t>(offset),
                     image_.begin() + static_cast<std::ptrdiff_t>(offset + size));
    return {};
  }

  static constexpr starter::platform::SystemError kOutside{"read", 299};

  int reads = 0;
  std::uint64_t highest_address = 0;
  std::vector<unsigned char> last_read;

 private:
  std::uint64_t base_;
  std::vector<unsigned char> image_;
};

std::uint64_t LittleEndian64(const std::uint8_t* bytes) {
  std::uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | bytes[i];
  return value;
}

// The text must be the start of the last bytes copied, read as UTF-16LE, and
// end before its first NUL.
void CheckText(const std::u16string& text, const ImageProcess& process) {
  Require(text.find(u'\0') == std::u16string::npos, "the text ends before its first NUL");
  if (text.empty()) return;
  Require(process.reads == 3, "a text comes from the third read");
  const std::vector<unsigned char>& bytes = process.last_read;
  Require(2 * text.size() <= bytes.size(), "the text lies inside the copied buffer");
  for (std::size_t i = 0; i < text.size(); ++i)
    Require(text[i] == (bytes[2 * i] | (bytes[2 * i + 1] << 8)), "the text is the buffer's units");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 9) return 0;
  const RecordLayout layout = (data[0] & 1) != 0 ? RecordLayout::kBits64 : RecordLayout::kBits32;
  const ReadPath path = (data[0] & 2) != 0 ? ReadPath::kWow64 : ReadPath::kNative;
  ImageProcess process(LittleEndian64(data + 1), std::vector<unsigned char>(data + 9, data + size));

  const starter::platform::Expected<std::u16string> text =
      starter::service::ReadProcessCommandLine(process, layout, path);

  Require(process.reads <= 3, "three records at most");
  if (path == ReadPath::kNative)
    Require(process.highest_address <= std::numeric_limits<std::uint32_t>::max(),
            "the native path stays below 4 GiB");
  if (text.ok()) CheckText(*text, process);
  return 0;
}
