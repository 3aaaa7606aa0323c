// What every platform's notification icon shares: the tooltip cut, menu labels, the icon
// bitmaps made from RGBA pixels, the pixel check, the queue of picked commands, and an
// icon that keeps what it is given.

#include "platform/notification_icon.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/icon_bitmaps.h"
#include "platform/notification_icon_access.h"
#include "platform/notification_text.h"
#include "support/test_support.h"

namespace tallow::platform {
namespace {

using Bytes = std::vector<std::uint8_t>;
const std::string kSmile = test::encode_utf8(0x1F600);  // two UTF-16 units
const std::string kEllipsis = "\xE2\x80\xA6";

TEST(NotificationText, TooltipsAreCutBetweenCharactersAndLabelsKeepTheirAmpersands) {
  struct Case {
    const char* name;
    std::string text;
    std::size_t max_units;
    std::u16string expected;
  };
  const std::u16string a126(126, u'a');
  for (const Case& c : std::vector<Case>{
           {"whole", "tallowmered: Running", kTooltipUnits, u"tallowmered: Running"},
           {"exactly_127", std::string(127, 'a'), kTooltipUnits, a126 + u"a"},
           {"128_lose_the_last", std::string(128, 'a'), kTooltipUnits, a126 + u"a"},
           {"pair_across_the_cut_goes_whole", std::string(126, 'a') + kSmile, kTooltipUnits, a126},
           {"pair_before_the_cut_stays", std::string(125, 'a') + kSmile + "b", kTooltipUnits,
            std::u16string(125, u'a') + u"\U0001F600"},
           {"ellipsis_is_one_unit", std::string(126, 'a') + test::encode_utf8(0x2026) + "x", kTooltipUnits,
            a126 + u"\u2026"},
           {"invalid_utf8_replaced", "a\xFF", kTooltipUnits, u"a\uFFFD"},
           {"room_for_half_a_pair", kSmile, 1, u""},
       }) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(tooltip_text(c.text, c.max_units), c.expected);
  }
  for (const auto& [text, label] : std::vector<std::pair<std::string, std::u16string>>{
           {"Show Log", u"Show Log"}, {"Stop & go", u"Stop && go"}, {"R&&D", u"R&&&&D"},
           {"&x&", u"&&x&&"}, {"", u""}, {"Enroll\u2026 & " + kSmile, u"Enroll\u2026 && \U0001F600"}}) {
    EXPECT_EQ(menu_label_text(text), label) << text;
  }
}

TEST(IconBitmaps, PixelsMustFillTheirSizeAndBecomeBgraAndAMaskOfClearPixels) {
  const auto check = [](std::uint32_t width, std::uint32_t height, std::size_t bytes) {
    const auto checked = check_icon_image(IconImage{width, height, Bytes(bytes)});
    return checked.ok() ? std::string("ok") : checked.error().message;
  };
  EXPECT_EQ(check(36, 36, 5184), "ok");
  EXPECT_EQ(check(2, 3, 24), "ok");
  EXPECT_EQ(check(36, 36, 5183), "36\u00D736 RGBA pixels take 5184 bytes, not 5183");
  EXPECT_EQ(check(2, 2, 17), "2\u00D72 RGBA pixels take 16 bytes, not 17");
  EXPECT_EQ(check(0, 5, 0), "an icon needs at least one pixel, not 0\u00D75");
  EXPECT_EQ(check(5, 0, 0), "an icon needs at least one pixel, not 5\u00D70");
  EXPECT_EQ(check(0x10000, 0x10000, 0), "65536\u00D765536 RGBA pixels take 17179869184 bytes, not 0");

  struct Case {
    const char* name;
    std::uint32_t width, height;
    Bytes rgba, colour, mask;
  };
  Bytes clear_row(17 * 2 * 4, 255);  // 17 clear pixels above 17 opaque ones
  for (std::size_t x = 0; x < 17; ++x) clear_row[x * 4 + 3] = 0;
  Bytes clear_row_bgra = clear_row;
  for (const Case& c : std::vector<Case>{
           {"opaque", 1, 1, {1, 2, 3, 255}, {3, 2, 1, 255}, {0x00, 0x00}},
           {"clear_keeps_its_colour", 1, 1, {9, 8, 7, 0}, {7, 8, 9, 0}, {0x80, 0x00}},
           {"any_coverage_is_not_clear", 3, 1, {10, 20, 30, 0, 40, 50, 60, 1, 70, 80, 90, 0},
            {30, 20, 10, 0, 60, 50, 40, 1, 90, 80, 70, 0}, {0xA0, 0x00}},
           {"top_row_first", 1, 2, {0, 0, 0, 255, 0, 0, 0, 0}, {0, 0, 0, 255, 0, 0, 0, 0}, {0, 0, 0x80, 0}},
           {"rows_padded_to_words", 17, 2, clear_row, clear_row_bgra, {0xFF, 0xFF, 0x80, 0, 0, 0, 0, 0}},
       }) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(icon_colour_bits(IconImage{c.width, c.height, c.rgba}), c.colour);
    EXPECT_EQ(icon_mask_bits(IconImage{c.width, c.height, c.rgba}), c.mask);
  }
  EXPECT_EQ(icon_mask_stride(16), 2u);
  EXPECT_EQ(icon_mask_stride(36), 6u);
}

// The add-retry rule, stepped by hand: each step happens at a time (ms after the start)
// and begin(), refused() and time_to_tell_user() answer as given.
TEST(IconAddRetry, RetriesForAWhileThenWaitsOrFailsForGoodOrWaitsAndTellsOnce) {
  enum Op { begin, added, refused, removed, tell };
  struct Step {
    Op op;
    int ms = 0;
    bool answer = false;
    const char* reason = "E";
  };
  using Stage = IconAddRetry::Stage;
  using Patience = IconAddRetry::Patience;
  struct Case {
    const char* name;
    std::vector<Step> steps;
    Stage stage;
    std::optional<std::string> failure = std::nullopt;
    Patience patience = Patience::give_up;
  };
  const std::string kRefused = "the notification area refused it for ";
  const std::vector<Case> cases = {
      {"taken_at_once", {{begin, 0, true}, {added}}, Stage::added},
      {"taken_after_refusals", {{begin, 0, true}, {refused, 2000, true}, {refused, 59999, true}, {added}}, Stage::added},
      {"never_shown_fails_at_the_limit", {{begin, 0, true}, {refused, 59999, true}, {refused, 60000, false}},
       Stage::waiting, kRefused + "60.0 s: E"},
      {"failure_without_a_reason", {{begin, 0, true}, {refused, 61500, false, ""}}, Stage::waiting, kRefused + "61.5 s"},
      {"failed_for_good_tries_no_more", {{begin, 0, true}, {refused, 60000, false}, {begin, 70000, false}},
       Stage::waiting, kRefused + "60.0 s: E"},
      {"shown_before_waits_then_a_new_area_tries_again",
       {{begin, 0, true}, {added}, {begin, 100000, true}, {refused, 160000, false}, {begin, 200000, true}},
       Stage::adding},
      {"a_new_area_grants_the_time_afresh",
       {{begin, 0, true}, {refused, 50000, true}, {begin, 50000, true}, {refused, 109999, true}, {refused, 110000, false}},
       Stage::waiting, kRefused + "60.0 s: E"},
      {"removed_for_good", {{begin, 0, true}, {added}, {removed}, {begin, 1, false}, {refused, 99999, false}, {added}},
       Stage::removed},
      {"a_refusal_while_added_changes_nothing", {{begin, 0, true}, {added}, {refused, 99999, false}}, Stage::added},
      {"giving_up_tells_nothing", {{begin, 0, true}, {tell, 30000, false}}, Stage::adding},
      {"patient_waits_for_ever_and_tells_once",
       {{begin, 0, true}, {tell, 9999, false}, {tell, 10000, true}, {tell, 20000, false}, {refused, 3600000, true}},
       Stage::adding, std::nullopt, Patience::wait_and_tell},
      {"patient_tells_nothing_while_shown", {{begin, 0, true}, {added}, {tell, 50000, false}}, Stage::added,
       std::nullopt, Patience::wait_and_tell},
      {"patient_counts_from_the_last_area_lost",
       {{begin, 0, true}, {added}, {begin, 100000, true}, {tell, 109999, false}, {tell, 110000, true}},
       Stage::adding, std::nullopt, Patience::wait_and_tell},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    IconAddRetry retry({std::chrono::milliseconds(2000), std::chrono::milliseconds(60000),
                        std::chrono::milliseconds(10000)},
                       c.patience);
    const IconAddRetry::Clock::time_point start{};
    for (const Step& step : c.steps) {
      const auto at = start + std::chrono::milliseconds(step.ms);
      switch (step.op) {
        case begin: EXPECT_EQ(retry.begin(at), step.answer) << "begin at " << step.ms; break;
        case added: retry.added(); break;
        case refused: EXPECT_EQ(retry.refused(at, step.reason), step.answer) << "refused at " << step.ms; break;
        case removed: retry.remove(); break;
        case tell: EXPECT_EQ(retry.time_to_tell_user(at), step.answer) << "tell at " << step.ms; break;
      }
    }
    EXPECT_EQ(retry.stage(), c.stage);
    EXPECT_EQ(retry.failure() ? std::optional(retry.failure()->message) : std::nullopt, c.failure);
  }
}

TEST(NotificationIcon, KeepsWhatItIsGivenAndRefusesBadPixels) {
  const Bytes pixels(4 * 4 * 4, 200);
  using Item = MenuItem;
  const Menu first = {{Item::Kind::text, "Running", false, false, {}}, {},
                                  {Item::Kind::check, "Launch at Login", true, true, "login"}};
  const Menu second = {{Item::Kind::text, "Quit", true, false, "quit"}};
  auto made = NotificationIcon::create(first, IconPicture{"", {{4, 4, pixels}}}, "tallowmered: Running");
  ASSERT_TRUE(made.ok()) << made.error().message;
  NotificationIcon icon = std::move(made.value());
  EXPECT_EQ(NotificationIconAccess::menu(icon), first);
  EXPECT_EQ(NotificationIconAccess::tooltip(icon), "tallowmered: Running");
  EXPECT_TRUE(icon.set_menu(second).ok() && icon.set_tooltip("tallowmered: Stopped").ok());
  EXPECT_EQ(NotificationIconAccess::menu(icon), second);
  EXPECT_EQ(NotificationIconAccess::tooltip(icon), "tallowmered: Stopped");
  EXPECT_TRUE(icon.set_picture({"tallowmere-tray-symbolic", {{4, 4, pixels}, {4, 4, pixels}}}).ok());
  EXPECT_FALSE(icon.set_picture({"", {{4, 4, pixels}, {4, 5, pixels}}}).ok());
  EXPECT_FALSE(icon.set_picture({"tallowmere-tray-symbolic", {}}).ok());
  EXPECT_EQ(icon.add_failure(), std::nullopt);
  NotificationIconAccess::remove(icon);
  EXPECT_FALSE(NotificationIconAccess::is_added(icon));
  EXPECT_FALSE(NotificationIcon::create(first, IconPicture{"", {{5, 4, pixels}}}, "t").ok());
}

}  // namespace
}  // namespace tallow::platform

namespace tallow::platform {
namespace {

TEST(UnderscoreLabelText, ShowsEveryUnderscoreAsWritten) {
  struct Case {
    const char* name;
    std::string text, expected;
  };
  const std::vector<Case> cases = {
      {"plain", "Show Log", "Show Log"},
      {"host_with_underscore", "Hub: my_hub.example, connected", "Hub: my__hub.example, connected"},
      {"two_in_a_row", "a__b", "a____b"},
      {"at_both_ends", "_x_", "__x__"},
      {"only", "_", "__"},
      {"empty", "", ""},
      {"ampersand_untouched_utf8_kept", "R&D " + kEllipsis + "_" + kSmile, "R&D " + kEllipsis + "__" + kSmile},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(underscore_label_text(c.text), c.expected);
  }
}

TEST(StatusNotifierPixmap, IsArgbInNetworkOrder) {
  const Bytes rgba = {1, 2, 3, 4, 245, 158, 11, 255, 0, 0, 0, 0};
  EXPECT_EQ(status_notifier_pixmap(IconImage{3, 1, rgba}), (Bytes{4, 1, 2, 3, 255, 245, 158, 11, 0, 0, 0, 0}));
  EXPECT_EQ(status_notifier_pixmap(IconImage{1, 1, Bytes{9, 8, 7, 89}}), (Bytes{89, 9, 8, 7}));
  EXPECT_EQ(status_notifier_pixmap(IconImage{2, 1, Bytes{255, 255, 255, 0, 255, 255, 255, 1}}),
            (Bytes{0, 0, 0, 0, 1, 255, 255, 255}));
}

}  // namespace
}  // namespace tallow::platform
