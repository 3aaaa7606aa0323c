#pragma once
// Running tallowmere-dialog, the program beside the tray that shows its GTK windows.

#include <optional>
#include <string>
#include <vector>

namespace tallow::platform::posix {

struct HelperOutcome {
  int exit_status = -1;  // -1 when it did not end normally
  std::string output;    // its standard output, whole
};

// Runs the dialog program with `arguments` and waits for it. On the main thread the
// main context keeps turning meanwhile (the notification item is served and picked
// commands queue up), as around any modal window; elsewhere the thread just waits.
// None when the program is missing or cannot be started.
std::optional<HelperOutcome> run_dialog_helper(const std::vector<std::string>& arguments);

}  // namespace tallow::platform::posix
