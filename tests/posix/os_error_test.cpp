// The system's words for errno values.

#include <cerrno>

#include <gtest/gtest.h>

#include "platform/os_error.h"

namespace tallow::platform {
namespace {

TEST(PosixOsError, TextIsTheDescriptionThenTheNumber) {
  struct Case {
    std::uint32_t code;
    const char* text;
  };
  for (const Case c : {Case{ENOENT, "No such file or directory (os error 2)"},
                       Case{EACCES, "Permission denied (os error 13)"},
                       Case{ENOEXEC, "Exec format error (os error 8)"},
                       Case{EWOULDBLOCK, "Resource temporarily unavailable (os error 11)"}}) {
    EXPECT_EQ(os_error_text(c.code), c.text);
  }
}

TEST(PosixOsError, UnknownCodesStillNameTheNumber) {
  const std::string text = os_error_text(99999);
  EXPECT_NE(text.find("(os error 99999)"), std::string::npos);
  EXPECT_FALSE(text.starts_with(" "));
}

TEST(PosixOsError, LastErrorReadsErrno) {
  errno = ENOTDIR;
  EXPECT_EQ(last_os_error().message, "Not a directory (os error 20)");
  EXPECT_EQ(os_error(EPERM).message, "Operation not permitted (os error 1)");
}

}  // namespace
}  // namespace tallow::platform
