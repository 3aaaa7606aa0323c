#pragma once
// What the user sees outside the tray: message boxes and the shell's "open".

#include <string_view>

namespace tallow::platform {

// Shows a topmost message box with an OK button and the error or the information icon,
// and returns when the user dismisses it. Texts are UTF-8.
void show_message(std::string_view caption, std::string_view text, bool is_error);

// Opens a path or a URL (UTF-8) the way the desktop's shell does. Failures are silent.
void open_with_shell(std::string_view target);

}  // namespace tallow::platform
