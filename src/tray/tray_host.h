#pragma once
// What the tray controller asks of the desktop (and, through agent/agent_control.h, of the
// agent side). The controller makes every decision; these interfaces only carry them out
// or answer questions, so tests drive the controller with fakes and each platform binds
// its own pieces.

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "common/result.h"
#include "agent/agent_status.h"
#include "agent/agent_control.h"
#include "platform/icon_image.h"
#include "platform/menu.h"

namespace tallow {

// Paints the tray icon for a status on a light or dark taskbar, or one not known to be
// either (none).
using IconPainter =
    std::function<platform::IconPicture(const AgentStatus& status, std::optional<bool> light_theme)>;

// Everything the tray icon shows for one snapshot.
struct TrayLook {
  platform::Menu menu;
  platform::IconPicture icon;
  std::string tooltip;
};

// The desktop, as the main thread's loop sees it: window messages, the tray icon and
// its menu, message boxes, the shell, the input dialog and the two per-user settings.
class TrayHost {
 public:
  virtual ~TrayHost() = default;

  // Dispatches every waiting window message; false once a quit message was taken. An
  // error says the notification area never took the icon and has been given up on.
  virtual Result<bool> drain_messages() = 0;
  // The oldest menu command not yet taken, or none when the queue is empty.
  virtual std::optional<std::string> next_command() = 0;
  // Whether the control window was asked to close; once true, it stays true.
  virtual bool close_requested() = 0;
  // Waits at most `limit` for an event to arrive.
  virtual void wait_for_input(std::chrono::milliseconds limit) = 0;

  // Shows `look` in the tray icon: its menu, image and tooltip. Each part is tried;
  // the error names the parts that were refused, which keep what they showed before.
  virtual Result<void> show(const TrayLook& look) = 0;

  // A topmost message box; returns when the user dismisses it.
  virtual void show_message(std::string_view caption, std::string_view text, bool is_error) = 0;
  // The shell's "open" on a path or URL; failures are silent.
  virtual void open_with_shell(std::string_view target) = 0;
  // The modal one-line dialog: the text entered, or none when cancelled.
  virtual std::optional<std::string> ask_text(std::string_view caption, std::string_view prompt,
                                              std::string_view hint, std::string_view accept_label) = 0;

  // Launch at Login: whether it is on, and switching it over.
  virtual bool launch_at_login() = 0;
  virtual Result<void> toggle_launch_at_login() = 0;
  // Whether the taskbar uses the light theme; none while the desktop has not said.
  virtual std::optional<bool> light_theme() = 0;
};

}  // namespace tallow
