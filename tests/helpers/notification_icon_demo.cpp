// A notification icon to look at and to drive from another process.
//
//   notification_icon_demo OUT [SECONDS]   shows the icon and appends each picked
//                                          command to OUT, one a line; "quit" ends it
//   notification_icon_demo --message       shows an error message box and ends
//
// Ends with 0 after "quit", 2 when SECONDS (default 120) pass first, 3 when the icon
// could not be added, 64 on bad arguments.

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "agent_side/agent_side.h"
#include "notification_icon_demo.h"
#include "platform/arguments.h"
#include "platform/desktop.h"
#include "platform/environment.h"
#include "platform/file.h"
#include "platform/main_loop.h"

namespace {

// A white disc with a soft edge, a half-transparent grey ring and an opaque amber
// square: on a screenshot the ring shows whether alpha was taken as straight (the
// panel shows through, darker than grey on white) or premultiplied (lighter).
std::vector<std::uint8_t> demo_pixels(int side) {
  std::vector<std::uint8_t> rgba(static_cast<std::size_t>(side * side * 4));
  const double centre = (side - 1) / 2.0, radius = side / 2.0 - 1;
  for (int y = 0; y < side; ++y) {
    for (int x = 0; x < side; ++x) {
      const double distance = std::hypot(x - centre, y - centre);
      const double coverage = std::fmin(1.0, std::fmax(0.0, radius - distance + 0.5));
      const bool square = y > side / 3 && y < side * 2 / 3 && x > side / 3 && x < side * 2 / 3;
      const bool ring = !square && distance > radius * 0.55 && distance < radius * 0.75;
      std::uint8_t* pixel = &rgba[static_cast<std::size_t>((y * side + x) * 4)];
      const std::uint8_t colour[3] = {static_cast<std::uint8_t>(square ? 245 : ring ? 128 : 255),
                                      static_cast<std::uint8_t>(square ? 158 : ring ? 128 : 255),
                                      static_cast<std::uint8_t>(square ? 11 : ring ? 128 : 255)};
      pixel[0] = colour[0];
      pixel[1] = colour[1];
      pixel[2] = colour[2];
      pixel[3] = static_cast<std::uint8_t>(ring ? 128 : coverage * 255);
    }
  }
  return rgba;
}

}  // namespace

int main(int argc, char** argv) {
  namespace platform = tallow::platform;
  const std::vector<std::string> args = platform::command_line_arguments(argc, argv);
  if (args.size() == 1 && args[0] == "--message") {
    platform::show_message("Enrollment failed", "No enrollment code in \u201Cabc & co\u201D.", true);
    return 0;
  }
  if (args.empty() || args.size() > 2) {
    std::fputs("usage: notification_icon_demo OUT [SECONDS] | --message\n", stderr);
    return 64;
  }
  const auto limit = std::chrono::seconds(args.size() == 2 ? std::stoi(args[1]) : 120);
  auto icon = platform::NotificationIcon::create(tallow::test::demo_menu(),
                                                 platform::IconPicture{"", {{36, 36, demo_pixels(36)}}},
                                                 "tallowmered: Running & connected");
  if (!icon) {
    std::fprintf(stderr, "notification_icon_demo: %s\n", icon.error().message.c_str());
    return 3;
  }
  const std::filesystem::path out = platform::path_from_text(args[0]);
  std::string picked;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (platform::dispatch_pending_events() == platform::PumpResult::quit) return 0;
    while (const auto command = icon->next_picked_command()) {
      picked += *command + "\n";
      // Whole each time, so a reader never sees half a line.
      (void)tallow::agent_side::replace_file_atomically(out, picked);
      if (*command == "quit") return 0;
    }
    if (const auto failure = icon->add_failure()) {
      std::fprintf(stderr, "failed to add the notification area icon: %s\n", failure->message.c_str());
      return 3;
    }
    platform::wait_for_events(std::chrono::milliseconds(200));
  }
  return 2;
}
