#include "service/process_detection.h"

#include <gtest/gtest.h>

#include <string>

namespace starter::service {
namespace {

// What a look saw, and what it may conclude: only the process list and a
// command line that was read can say "no".
TEST(Identify, NeedsTheExactImageNameAndAReadCommandLineToSayYesOrNo) {
  const std::wstring jar = L"\"C:\\Program Files\\Vantic.jar\"";
  struct Case {
    std::optional<std::wstring_view> image_name;  // none: not in the process list
    std::optional<std::wstring> command_line;     // none: could not be read
    Identity expected;
  };
  const Case cases[] = {
      {L"java.exe", L"java.exe -jar " + jar, Identity::kService},
      {L"java.exe", L"java.exe -jar Other.jar", Identity::kOtherProgram},
      {L"java.exe", std::nullopt, Identity::kCannotTell},
      {L"Java.exe", L"-jar " + jar, Identity::kOtherProgram},
      {L"JAVA.EXE", std::nullopt, Identity::kOtherProgram},
      {L"javaw.exe", L"-jar " + jar, Identity::kOtherProgram},
      {L"java.exe ", std::nullopt, Identity::kOtherProgram},
      {L"java", std::nullopt, Identity::kOtherProgram},
      {L"", std::nullopt, Identity::kOtherProgram},
      {L"C:\\jre\\bin\\java.exe", L"-jar " + jar, Identity::kOtherProgram},
      {std::nullopt, std::nullopt, Identity::kEnded},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << (&c - cases));
    EXPECT_EQ(Identify(c.image_name, c.command_line), c.expected);
  }
}

TEST(MentionsServiceJar, FindsTheJarAnywhereBeforeTheFirstNul) {
  struct Case {
    std::wstring command_line;
    bool expected;
  };
  const Case cases[] = {
      {L"\"\" -Djava.net.preferIPv4Stack=true -jar \"C:\\V\\Vantic.jar\"", true},
      {L"java -jar OldVantic.jar.bak", true},
      {L"java -Dlog=Vantic.jar.log Other.jar", true},
      {L"Vantic.jar", true},
      {L"java -jar vantic.jar", false},
      {L"java -jar VANTIC.JAR", false},
      {L"java -jar Vantic.ja", false},
      {L"java -jar Vantic .jar", false},
      {std::wstring(L"java -jar \0Vantic.jar", 21), false},
      {L"", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.command_line.size() << " units");
    EXPECT_EQ(MentionsServiceJar(c.command_line), c.expected);
  }
}

}  // namespace
}  // namespace starter::service
