#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "dialog/dialog_layout.h"
#include "dialog/dialog_result.h"
#include "support/dialog_print.h"
#include "support/test_support.h"

namespace tallow {
namespace {

TEST(DialogLayout, ScalesEveryNumberByTheDpiTruncating) {
  struct Case {
    std::int32_t dpi;
    std::int32_t client_width, client_height;
    PixelRect prompt, field, accept, cancel;
  };
  const std::vector<Case> cases = {
      {96, 460, 132, {16, 16, 428, 20}, {16, 42, 428, 26}, {256, 88, 90, 28}, {354, 88, 90, 28}},
      // 125 %: the half pixels of 42, 26 and 354 × 1.25 are dropped.
      {120, 575, 165, {20, 20, 535, 25}, {20, 52, 535, 32}, {320, 110, 112, 35},
       {442, 110, 112, 35}},
      {144, 690, 198, {24, 24, 642, 30}, {24, 63, 642, 39}, {384, 132, 135, 42},
       {531, 132, 135, 42}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dpi);
    const DialogLayout layout = dialog_layout(c.dpi);
    EXPECT_EQ(layout.client_width, c.client_width);
    EXPECT_EQ(layout.client_height, c.client_height);
    EXPECT_EQ(layout.prompt, c.prompt);
    EXPECT_EQ(layout.field, c.field);
    EXPECT_EQ(layout.accept, c.accept);
    EXPECT_EQ(layout.cancel, c.cancel);
  }
  // Truncation toward zero, also for negative values, and no overflow at absurd DPIs.
  EXPECT_EQ(scale_for_dpi(-1, 120), -1);
  EXPECT_EQ(scale_for_dpi(-42, 120), -52);
  EXPECT_EQ(scale_for_dpi(460, 4'800'000), 23'000'000);
  EXPECT_EQ(dialog_layout(0), DialogLayout{});
}

TEST(DialogLayout, CentresOnTheScreenTruncating) {
  EXPECT_EQ(centred_origin(1024, 768, 466, 160), (PixelPoint{279, 304}));
  EXPECT_EQ(centred_origin(1025, 769, 466, 160), (PixelPoint{279, 304}));
  // A window larger than the screen hangs over both edges equally; -3 / 2 is -1.
  EXPECT_EQ(centred_origin(800, 600, 803, 640), (PixelPoint{-1, -20}));
}

TEST(DialogResult, SlotGoesFromPendingToOneAnswerAndBack) {
  DialogResultSlot slot;
  EXPECT_TRUE(slot.pending());
  EXPECT_EQ(slot.take(), std::nullopt);
  slot.accept("first");
  slot.accept("");  // a later write replaces an earlier one
  EXPECT_FALSE(slot.pending());
  EXPECT_EQ(slot.take(), std::optional<std::string>(""));
  EXPECT_TRUE(slot.pending());
  slot.accept("typed");
  slot.cancel();
  EXPECT_EQ(slot.take(), std::nullopt);
  slot.accept("left over");
  slot.reset();
  EXPECT_TRUE(slot.pending());
  EXPECT_EQ(slot.take(), std::nullopt);
}

TEST(DialogResult, FieldTextTakesWhatTheCopyReports) {
  const std::string face = test::encode_utf8(0x1F600), fffd = test::encode_utf8(0xFFFD);
  struct Case {
    std::string name;
    std::u16string buffer;
    std::int64_t reported;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"all of it", std::u16string(u"  code 42 \0", 11), 10, "  code 42 "},
      {"only the reported units", u"abcdef", 3, "abc"},
      {"a negative report reads as nothing", u"abc", -1, ""},
      {"a report past the buffer stops at its end", u"abc", 99, "abc"},
      {"a surrogate pair is one character", u"x\xD83D\xDE00y", 4, "x" + face + "y"},
      {"lone high and low surrogates", u"\xD83Dx\xDE00", 3, fffd + "x" + fffd},
      {"a pair cut by the report", u"\xD83D\xDE00", 1, fffd},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(field_text(c.buffer, c.reported), c.expected);
  }
}

}  // namespace
}  // namespace tallow
