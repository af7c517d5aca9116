// A Win32 call named once: the helpers make the call and name its failure
// by the function's own name, with the thread's last error.
#include "platform/system_error.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "platform/handles.h"

namespace starter::platform {
namespace {

TEST(NamedCall, AFailureCarriesTheFunctionsNameAndLastErrorAndASuccessNothing) {
  const Status refused = STARTER_CALL(SetHandleInformation, nullptr, HANDLE_FLAG_INHERIT, 0);
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(Describe(refused.error()), "SetHandleInformation GLE=6");

  const Expected<UniqueHandle> none =
      STARTER_OPEN(UniqueHandle, OpenProcess, PROCESS_QUERY_LIMITED_INFORMATION, FALSE, 0);
  ASSERT_FALSE(none.ok());
  EXPECT_EQ(Describe(none.error()), "OpenProcess GLE=87");

  // An owner that holds nothing counts as a failure whatever it holds
  // nothing as: a file the system will not open answers INVALID_HANDLE_VALUE.
  const Expected<UniqueHandle> no_file = STARTER_OPEN(UniqueHandle, CreateFileW, L"C:\\no such folder\\file",
                                                      GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_FALSE(no_file.ok());
  EXPECT_EQ(Describe(no_file.error()), "CreateFileW GLE=3");

  Expected<UniqueHandle> event = STARTER_OPEN(UniqueHandle, CreateEventW, nullptr, TRUE, FALSE, nullptr);
  ASSERT_TRUE(event.ok());
  EXPECT_TRUE(STARTER_CALL(SetEvent, event->get()).ok());
  EXPECT_EQ(::WaitForSingleObject(event->get(), 0), static_cast<DWORD>(WAIT_OBJECT_0));
}

}  // namespace
}  // namespace starter::platform
