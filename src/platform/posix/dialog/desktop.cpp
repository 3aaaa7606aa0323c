// Message boxes through tallowmere-dialog, the program beside the tray that holds GTK;
// the shell's "open" through GIO's default handlers (the desktop's own, as xdg-open
// would choose).

#include "platform/desktop.h"

#include <gio/gio.h>

#include <cstdio>
#include <string>

#include "common/text.h"
#include "platform/posix/dialog/dialog_helper.h"
#include "platform/posix/dialog/dialog_protocol.h"
#include "platform/posix/glib_ptr.h"

namespace tallow::platform {

void show_message(std::string_view caption, std::string_view text, bool is_error) {
  const auto shown = posix::run_dialog_helper(
      {std::string(posix::kMessageMode), std::string(is_error ? posix::kErrorKind : posix::kInformationKind),
       std::string(caption), posix::cut_for_argument(text)});
  if (shown && shown->exit_status == 0) return;
  // Without a display there is no box to show: the line goes to standard error, where a
  // terminal or the session's journal keeps it.
  const std::string line =
      std::string(is_error ? "error: " : "") + std::string(caption) + ": " + std::string(text) + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

void open_with_shell(std::string_view target) {
  const std::string text(target);
  posix::GCharPtr uri;
  if (!text.empty() && text.front() == '/') {
    // A path is its own bytes here, whatever they are; the URI escapes them.
    uri.reset(g_filename_to_uri(text.c_str(), nullptr, nullptr));
  } else if (is_web_url(text)) {
    uri.reset(g_strdup(text.c_str()));
  }
  // Anything else would be a scheme or a relative name some handler might run.
  if (!uri) return;
  g_app_info_launch_default_for_uri(uri.get(), nullptr, nullptr);
}

}  // namespace tallow::platform
