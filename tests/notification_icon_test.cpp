// What every platform's notification icon shares: the tooltip cut, menu labels, the
// icon bitmaps made from RGBA pixels, the pixel check, the queue of picked commands,
// and an icon that keeps what it is given.

#include "platform/notification_icon.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/icon_bitmaps.h"
#include "platform/notification_text.h"
#include "support/test_support.h"

namespace tallow::platform {
namespace {

using Bytes = std::vector<std::uint8_t>;

const std::string kSmile = test::encode_utf8(0x1F600);  // two UTF-16 units
const std::string kEllipsis = test::encode_utf8(0x2026);

TEST(TooltipText, IsCutToTheBufferBetweenCharacters) {
  struct Case {
    const char* name;
    std::string text;
    std::size_t max_units;
    std::u16string expected;
  };
  const std::u16string a126(126, u'a');
  const std::vector<Case> cases = {
      {"short_text_whole", "tallowmered: Running", kTooltipUnits, u"tallowmered: Running"},
      {"empty", "", kTooltipUnits, u""},
      {"exactly_127_units", std::string(127, 'a'), kTooltipUnits, std::u16string(127, u'a')},
      {"128_units_lose_the_last", std::string(128, 'a'), kTooltipUnits, std::u16string(127, u'a')},
      {"pair_across_the_cut_goes_whole", std::string(126, 'a') + kSmile, kTooltipUnits, a126},
      {"pair_before_the_cut_stays", std::string(125, 'a') + kSmile + "b", kTooltipUnits,
       std::u16string(125, u'a') + u"\U0001F600"},
      {"ellipsis_is_one_unit", std::string(126, 'a') + kEllipsis + "x", kTooltipUnits, a126 + u"\u2026"},
      {"invalid_utf8_becomes_replacement", "a\xFF", kTooltipUnits, u"a\uFFFD"},
      {"room_for_half_a_pair_only", kSmile, 1, u""},
      {"no_room", "abc", 0, u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::u16string cut = tooltip_text(c.text, c.max_units);
    EXPECT_EQ(cut, c.expected);
    EXPECT_LE(cut.size(), c.max_units);
  }
}

TEST(MenuLabelText, ShowsEveryAmpersandAsWritten) {
  struct Case {
    const char* name;
    std::string text;
    std::u16string expected;
  };
  const std::vector<Case> cases = {
      {"plain", "Show Log", u"Show Log"},
      {"one", "Stop & go", u"Stop && go"},
      {"two_in_a_row", "R&&D", u"R&&&&D"},
      {"at_both_ends", "&x&", u"&&x&&"},
      {"only", "&", u"&&"},
      {"empty", "", u""},
      {"non_ascii_kept", "Enroll" + kEllipsis + " & " + kSmile, u"Enroll\u2026 && \U0001F600"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(menu_label_text(c.text), c.expected);
  }
}

TEST(RgbaPixels, MustFillTheirSizeExactly) {
  struct Case {
    const char* name;
    std::uint32_t width, height;
    std::size_t bytes;
    const char* error;  // null: accepted
  };
  const std::vector<Case> cases = {
      {"rook_square", 36, 36, 5184, nullptr},
      {"one_pixel", 1, 1, 4, nullptr},
      {"wide", 3, 1, 12, nullptr},
      {"one_byte_short", 36, 36, 5183, "36\u00D736 RGBA pixels take 5184 bytes, not 5183"},
      {"one_byte_over", 2, 2, 17, "2\u00D72 RGBA pixels take 16 bytes, not 17"},
      {"rows_swapped_still_fit", 2, 3, 24, nullptr},
      {"no_width", 0, 5, 0, "an icon needs at least one pixel, not 0\u00D75"},
      {"no_height", 5, 0, 0, "an icon needs at least one pixel, not 5\u00D70"},
      {"sides_whose_product_overflows_32_bits", 0x10000, 0x10000, 0,
       "65536\u00D765536 RGBA pixels take 17179869184 bytes, not 0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes bytes(c.bytes);
    const auto checked = check_rgba_pixels(RgbaPixels{c.width, c.height, bytes});
    EXPECT_EQ(checked.ok(), c.error == nullptr);
    if (c.error && !checked.ok()) {
      EXPECT_EQ(checked.error().message, c.error);
    }
  }
}

TEST(IconBitmaps, ColourIsBgraAndTheMaskMarksClearPixels) {
  struct Case {
    const char* name;
    std::uint32_t width, height;
    Bytes rgba;
    Bytes colour;
    Bytes mask;
  };
  const std::vector<Case> cases = {
      {"one_opaque_pixel", 1, 1, {1, 2, 3, 255}, {3, 2, 1, 255}, {0x00, 0x00}},
      {"one_clear_pixel_keeps_its_colour", 1, 1, {9, 8, 7, 0}, {7, 8, 9, 0}, {0x80, 0x00}},
      // Only alpha 0 is clear; any coverage at all keeps the pixel.
      {"row_of_three", 3, 1, {10, 20, 30, 0, 40, 50, 60, 1, 70, 80, 90, 0},
       {30, 20, 10, 0, 60, 50, 40, 1, 90, 80, 70, 0}, {0xA0, 0x00}},
      {"rows_top_first", 1, 2, {0, 0, 0, 255, 0, 0, 0, 0}, {0, 0, 0, 255, 0, 0, 0, 0},
       {0x00, 0x00, 0x80, 0x00}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const RgbaPixels pixels{c.width, c.height, c.rgba};
    EXPECT_EQ(icon_colour_bits(pixels), c.colour);
    EXPECT_EQ(icon_mask_bits(pixels), c.mask);
  }
}

TEST(IconBitmaps, MaskRowsArePaddedToWholeWords) {
  struct Case {
    std::uint32_t width;
    std::size_t stride;
  };
  for (const Case& c : std::vector<Case>{{1, 2}, {8, 2}, {16, 2}, {17, 4}, {36, 6}, {256, 32}}) {
    SCOPED_TRACE(c.width);
    EXPECT_EQ(icon_mask_stride(c.width), c.stride);
  }
  // 17 clear pixels in a row of 4 bytes: 8 + 8 + 1 bits set, the padding left clear;
  // the second row (opaque) starts on its own word.
  Bytes rgba(17 * 2 * 4, 255);
  for (std::size_t x = 0; x < 17; ++x) rgba[x * 4 + 3] = 0;
  EXPECT_EQ(icon_mask_bits(RgbaPixels{17, 2, rgba}), (Bytes{0xFF, 0xFF, 0x80, 0x00, 0, 0, 0, 0}));
}

TEST(PickedCommands, ComeOutOnceInTheOrderPicked) {
  (void)take_picked_commands();
  EXPECT_TRUE(take_picked_commands().empty());
  queue_picked_command("stop");
  queue_picked_command("start");
  queue_picked_command("stop");
  EXPECT_EQ(take_picked_commands(), (std::vector<std::string>{"stop", "start", "stop"}));
  EXPECT_TRUE(take_picked_commands().empty());

  // From several threads at once nothing is lost, and each thread's order holds.
  constexpr int kThreads = 4, kEach = 500;
  std::vector<std::thread> pickers;
  for (int t = 0; t < kThreads; ++t) {
    pickers.emplace_back([t] {
      for (int i = 0; i < kEach; ++i) queue_picked_command(std::to_string(t) + ":" + std::to_string(i));
    });
  }
  std::vector<std::string> taken;
  while (taken.size() < kThreads * kEach) {
    for (auto& command : take_picked_commands()) taken.push_back(std::move(command));
  }
  for (auto& picker : pickers) picker.join();
  EXPECT_TRUE(take_picked_commands().empty());
  std::vector<int> next(kThreads, 0);
  for (const std::string& command : taken) {
    const int thread = command[0] - '0';
    EXPECT_EQ(command.substr(2), std::to_string(next[thread]++));
  }
}

TEST(NotificationIcon, KeepsWhatItIsGivenAndRefusesBadPixels) {
  const Bytes pixels(4 * 4 * 4, 200);
  const NotificationMenu first = {{NotificationMenuItem::Kind::text, "Running", false, false, std::nullopt},
                                  {},
                                  {NotificationMenuItem::Kind::check, "Launch at Login", true, true, "login"}};
  auto made = NotificationIcon::create(first, RgbaPixels{4, 4, pixels}, "tallowmered: Running");
  ASSERT_TRUE(made.ok()) << made.error().message;
  NotificationIcon icon = std::move(made.value());
  EXPECT_EQ(icon.menu(), first);
  EXPECT_EQ(icon.tooltip(), "tallowmered: Running");
  EXPECT_EQ(icon.add_failure(), std::nullopt);

  const NotificationMenu second = {{NotificationMenuItem::Kind::text, "Quit", true, false, "quit"}};
  EXPECT_TRUE(icon.set_menu(second).ok());
  EXPECT_EQ(icon.menu(), second);
  EXPECT_TRUE(icon.set_tooltip("tallowmered: Stopped").ok());
  EXPECT_EQ(icon.tooltip(), "tallowmered: Stopped");
  EXPECT_TRUE(icon.set_image(RgbaPixels{4, 4, pixels}).ok());
  EXPECT_FALSE(icon.set_image(RgbaPixels{4, 5, pixels}).ok());
  icon.remove();
  EXPECT_FALSE(icon.is_added());

  EXPECT_FALSE(NotificationIcon::create(first, RgbaPixels{5, 4, pixels}, "t").ok());
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
  EXPECT_EQ(status_notifier_pixmap(RgbaPixels{3, 1, rgba}), (Bytes{4, 1, 2, 3, 255, 245, 158, 11, 0, 0, 0, 0}));
  EXPECT_EQ(status_notifier_pixmap(RgbaPixels{1, 1, Bytes{9, 8, 7, 89}}), (Bytes{89, 9, 8, 7}));
}

}  // namespace
}  // namespace tallow::platform
