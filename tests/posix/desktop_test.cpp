// Until the Linux desktop port, a message goes to standard error as one line.

#include "platform/desktop.h"

#include <gtest/gtest.h>

namespace tallow::platform {
namespace {

TEST(PosixShowMessage, WritesOneLineToStandardError) {
  struct Case {
    const char* name;
    std::string caption, text;
    bool is_error;
    std::string line;
  };
  const std::vector<Case> cases = {
      {"information", "Enrolled", "This computer is enrolled.", false, "Enrolled: This computer is enrolled.\n"},
      {"error", "Enrollment failed", "No code", true, "error: Enrollment failed: No code\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::internal::CaptureStderr();
    show_message(c.caption, c.text, c.is_error);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.line);
  }
}

}  // namespace
}  // namespace tallow::platform
