#include <windows.h>

#include <gtest/gtest.h>

#include "common/text.h"
#include "platform/os_error.h"

namespace tallow::platform {
namespace {

// The message before " (os error N)", checked for being a clean sentence.
void expect_well_formed(const std::string& text, std::uint32_t code) {
  const std::string suffix = " (os error " + std::to_string(code) + ")";
  ASSERT_GT(text.size(), suffix.size()) << text;
  ASSERT_EQ(text.substr(text.size() - suffix.size()), suffix) << text;
  const std::string message = text.substr(0, text.size() - suffix.size());
  EXPECT_FALSE(trim_white_space(message).empty()) << text;
  // The system's messages end in "\r\n"; none of it may stay before the " (".
  EXPECT_EQ(trim_white_space(message).size() + (trim_white_space(message).data() - message.data()),
            message.size())
      << text;
  EXPECT_TRUE(is_valid_utf8(text));
}

TEST(OsErrorText, KnownCodesCarryTheSystemMessageAndTheNumber) {
  for (const std::uint32_t code : {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED,
                                   ERROR_SHARING_VIOLATION, ERROR_LOCK_VIOLATION,
                                   ERROR_ALREADY_EXISTS}) {
    expect_well_formed(os_error_text(code), code);
  }
}

TEST(OsErrorText, UnknownCodesStillNameTheNumber) {
  for (const std::uint32_t code : {0x20001234u, 0xFFFFFFFFu}) {
    expect_well_formed(os_error_text(code), code);
  }
}

TEST(OsErrorText, LastErrorIsTheCallingThreadsOne) {
  SetLastError(ERROR_PATH_NOT_FOUND);
  const Error error = last_os_error();
  EXPECT_EQ(error.message, os_error_text(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(os_error(ERROR_ACCESS_DENIED).message, os_error_text(ERROR_ACCESS_DENIED));
}

}  // namespace
}  // namespace tallow::platform
