#pragma once
// Running tallowmere-dialog, the program beside the tray that shows its GTK windows.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "platform/posix/glib_ptr.h"

namespace tallow::platform::posix {

struct HelperOutcome {
  int exit_status = -1;  // -1 when it did not end normally
  std::string output;    // its standard output, whole
};

// Runs the dialog program with `arguments` and waits for it. On the main thread the
// main context keeps turning meanwhile (the notification item is served and picked
// commands queue up), as around any modal window; elsewhere the thread just waits.
// None when there is no display, or the program is missing or cannot be started.
// An open dialog is closed (killed, and so cancelled) once the loop has been told to quit
// or the tray to close.
std::optional<HelperOutcome> run_dialog_helper(const std::vector<std::string>& arguments);

// The dialog program running beside the tray's loop, for a window the loop must not wait
// on (a popup menu opened from inside a bus call). Destroying it ends a program still
// running, and its outcome is then never delivered.
class HelperRun {
 public:
  // Starts the dialog program with `arguments` and returns at once; `on_done` runs on
  // the main context with the outcome. Fails when there is nobody to answer (no display,
  // or the tray is closing) or the program cannot be started.
  static Result<std::unique_ptr<HelperRun>> start(const std::vector<std::string>& arguments,
                                                  std::function<void(const HelperOutcome&)> on_done);
  ~HelperRun();
  HelperRun(const HelperRun&) = delete;
  HelperRun& operator=(const HelperRun&) = delete;

  // Ends the program; its outcome (a killed program's) is still delivered.
  void end();

 private:
  explicit HelperRun(GObjectPtr<GSubprocess> process) : process_(std::move(process)) {}
  GObjectPtr<GSubprocess> process_;
  GObjectPtr<GCancellable> cancellable_{g_cancellable_new()};
  std::function<void(const HelperOutcome&)> on_done_;
  bool delivered_ = false;
};

// The tray has been asked to close: a dialog or message box open now closes, as
// cancelled, and none opens any more. Nothing may hold up a tray the session wants gone.
void close_dialogs_for_good();

// Linux refuses to start a program with one argument longer than 128 KiB, and a message
// that long is more than any screen shows: longer text is cut at a character's start,
// within `most_bytes`, and ends with "…".
std::string cut_for_argument(std::string_view text, std::size_t most_bytes = 64 * 1024);

}  // namespace tallow::platform::posix
