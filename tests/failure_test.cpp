// The text of an unrecoverable failure.

#include "common/failure.h"

#include <gtest/gtest.h>

#include <source_location>
#include <string>
#include <vector>

namespace tallow {
namespace {

TEST(FailureText, NamesTheSourceLocationThenTheMessageOnItsOwnLine) {
  const std::source_location here = std::source_location::current();
  const std::string at =
      std::string("panicked at ") + here.file_name() + ":" + std::to_string(here.line()) + ":" +
      std::to_string(here.column());
  struct Case {
    const char* name;
    std::string message;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"a message follows a colon and a line feed", "the bundled icon has a size",
       at + ":\nthe bundled icon has a size"},
      {"no message, no colon", "", at},
      {"a message of several lines is kept whole", "failed to add the notification area icon: a\nb",
       at + ":\nfailed to add the notification area icon: a\nb"},
      {"a message of white space is still a message", " ", at + ":\n "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(failure_text(here, c.message), c.expected);
  }
  EXPECT_TRUE(std::string(here.file_name()).ends_with("failure_test.cpp"));
  EXPECT_GT(here.column(), 0u);
}

}  // namespace
}  // namespace tallow
