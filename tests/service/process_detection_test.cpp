#include "service/process_detection.h"

#include <gtest/gtest.h>

#include <string>

namespace starter::service {
namespace {

TEST(IsServiceCandidate, NeedsTheExactImageNameAndThePassingId) {
  struct Case {
    const wchar_t* image_name;
    std::uint32_t process_id, filter;
    bool expected;
  };
  const Case cases[] = {
      {L"java.exe", 1234, 0, true},     {L"java.exe", 1234, 1234, true},
      {L"java.exe", 1234, 1238, false}, {L"Java.exe", 1234, 0, false},
      {L"JAVA.EXE", 1234, 1234, false}, {L"javaw.exe", 1234, 0, false},
      {L"java.exe ", 1234, 0, false},   {L"java", 1234, 0, false},
      {L"", 1234, 0, false},            {L"C:\\jre\\bin\\java.exe", 1234, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "filter " << c.filter << " id " << c.process_id);
    EXPECT_EQ(IsServiceCandidate(c.image_name, c.process_id, c.filter), c.expected);
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
