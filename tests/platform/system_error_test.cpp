// The one rule for "nothing stands there", over the codes of each space.
#include "platform/system_error.h"

#include <gtest/gtest.h>

namespace starter::platform {
namespace {

TEST(MeansNotThere, OnlyANameOrAFolderOnItsWayThatIsGoneInWin32OrNtStatus) {
  const struct Case {
    SystemError error;
    bool not_there;
  } cases[] = {
      {{"RegOpenKeyExW", kErrorFileNotFound, ErrorSpace::kWin32}, true},
      {{"GetFileAttributesW", kErrorPathNotFound, ErrorSpace::kWin32}, true},
      {{"NtCreateFile", kStatusObjectNameNotFound, ErrorSpace::kNtStatus}, true},
      {{"NtCreateFile", kStatusObjectPathNotFound, ErrorSpace::kNtStatus}, true},
      {{"CreateFileW", kErrorAccessDenied, ErrorSpace::kWin32}, false},
      {{"NtCreateFile", kStatusSharingViolation, ErrorSpace::kNtStatus}, false},
      // The same numbers in another space say something else.
      {{"NtCreateFile", kErrorFileNotFound, ErrorSpace::kNtStatus}, false},
      {{"CreateFileW", kStatusObjectNameNotFound, ErrorSpace::kWin32}, false},
      {{"SHGetMalloc", kErrorFileNotFound, ErrorSpace::kHResult}, false},
  };
  for (const Case& c : cases) EXPECT_EQ(MeansNotThere(c.error), c.not_there) << Describe(c.error);
}

}  // namespace
}  // namespace starter::platform
