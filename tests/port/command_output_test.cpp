#include "port/command_output.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "support/log_capture.h"

namespace starter::port {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using UniqueStream = std::unique_ptr<std::FILE, FileCloser>;

// A binary stream holding `bytes`, positioned at its start.
UniqueStream StreamOf(const std::string& bytes) {
  UniqueStream stream(std::tmpfile());
  if (stream) {
    std::fwrite(bytes.data(), 1, bytes.size(), stream.get());
    std::rewind(stream.get());
  }
  return stream;
}

std::string Text(std::size_t size) {
  std::string text;
  for (std::size_t i = 0; text.size() < size; ++i) text += static_cast<char>('a' + i % 26);
  return text;
}

TEST(AppendStreamOutput, CollectsEveryPieceInOrderAfterWhatIsThere) {
  for (std::size_t size : {0, 1, 499, 500, 501, 999, 1000, 1001, 2345}) {
    const std::string text = Text(size);
    UniqueStream stream = StreamOf(text);
    ASSERT_TRUE(stream);
    std::string output = "kept|";
    test::LogCapture log;
    EXPECT_TRUE(AppendStreamOutput(stream.get(), output).ok()) << size;
    EXPECT_EQ(output, "kept|" + text) << size;
    EXPECT_THAT(log.Lines(), IsEmpty());
  }
}

TEST(AppendStreamOutput, FullPiecesEndAtTheirFirstNulButTheLastKeepsItsBytes) {
  std::string text = Text(600);
  text[10] = '\0';   // in the first, full piece: the rest of that piece is dropped
  text[550] = '\0';  // in the short last piece: kept as read
  UniqueStream stream = StreamOf(text);
  ASSERT_TRUE(stream);
  std::string output;
  EXPECT_TRUE(AppendStreamOutput(stream.get(), output).ok());
  EXPECT_EQ(output, text.substr(0, 10) + text.substr(500));
}

// Closes the descriptor under the stream, so that its next read fails.
void BreakDescriptor(std::FILE* stream) {
#ifdef _WIN32
  _close(_fileno(stream));
#else
  close(fileno(stream));
#endif
}

// The read may run under the listing's watch, which can cancel a write of
// the log: the failure is handed back for the caller to log once the watch
// has stopped.
TEST(AppendStreamOutput, ReadErrorIsHandedBackUnloggedAndKeepsWhatCameBefore) {
  UniqueStream stream = StreamOf(Text(1200));
  ASSERT_TRUE(stream);
  BreakDescriptor(stream.get());
  std::string output = "before";
  test::LogCapture log;
  const platform::Status read = AppendStreamOutput(stream.get(), output);
  ASSERT_FALSE(read.ok());
  EXPECT_EQ(output, "before");
  // The runtime's reason: the descriptor is gone (EBADF).
  EXPECT_EQ(Describe(read.error()), "fread errno=9");
  EXPECT_THAT(log.Lines(), IsEmpty());
}

// The machine's and the user's AutoRun commands never run inside a listing.
TEST(InterpreterCommandLine, SkipsAutoRunAndRunsTheCommandWhole) {
  EXPECT_EQ(InterpreterCommandLine(L"netstat -ano | findstr 9673"), L"cmd.exe /d /c netstat -ano | findstr 9673");
}

}  // namespace
}  // namespace starter::port
