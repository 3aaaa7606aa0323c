#include <gtest/gtest.h>

#include "platform/dialog.h"

namespace tallow::platform {
namespace {

// Until the desktop port brings a dialog, asking is answered like a cancelled dialog.
TEST(PosixDialog, AnswersNoneAtOnce) {
  EXPECT_EQ(ask_text("Enroll this computer", "Paste the code.", "hint", "Enroll"), std::nullopt);
  EXPECT_EQ(ask_text("", "", "", ""), std::nullopt);
}

}  // namespace
}  // namespace tallow::platform
