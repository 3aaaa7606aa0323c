// Until the Linux desktop port, a message goes to standard error as one line.

#include "platform/desktop.h"

#include <gtest/gtest.h>

namespace tallow::platform {
namespace {

TEST(PosixShowMessage, WritesOneLineToStandardError) {
  testing::internal::CaptureStderr();
  show_message("Enrolled", "This computer is enrolled.", false);
  show_message("Enrollment failed", "No code", true);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Enrolled: This computer is enrolled.\nerror: Enrollment failed: No code\n");
}

}  // namespace
}  // namespace tallow::platform
