// Message boxes through tallowmere-dialog, the program beside the tray that holds GTK;
// the shell's "open" through GIO's default handlers (the desktop's own, as xdg-open
// would choose).

#include "platform/desktop.h"

#include <gio/gio.h>

#include <cstdio>
#include <string>

#include "platform/posix/dialog/dialog_helper.h"
#include "platform/posix/glib_ptr.h"

namespace tallow::platform {
namespace {

// Without a display there is no box to show: the line goes to standard error, where a
// terminal or the session's journal keeps it.
void write_message_line(std::string_view caption, std::string_view text, bool is_error) {
  const std::string line =
      std::string(is_error ? "error: " : "") + std::string(caption) + ": " + std::string(text) + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

bool starts_with_ignoring_case(std::string_view text, std::string_view lower_prefix) {
  if (text.size() < lower_prefix.size()) return false;
  for (std::size_t i = 0; i < lower_prefix.size(); ++i) {
    if (g_ascii_tolower(text[i]) != lower_prefix[i]) return false;
  }
  return true;
}

}  // namespace

void show_message(std::string_view caption, std::string_view text, bool is_error) {
  const auto shown = posix::run_dialog_helper(
      {"message", is_error ? "error" : "information", std::string(caption), posix::cut_for_argument(text)});
  if (shown && shown->exit_status == 0) return;
  write_message_line(caption, text, is_error);
}

void open_with_shell(std::string_view target) {
  const std::string text(target);
  posix::GCharPtr uri;
  if (!text.empty() && text.front() == '/') {
    // A path is its own bytes here, whatever they are; the URI escapes them.
    uri.reset(g_filename_to_uri(text.c_str(), nullptr, nullptr));
  } else if (starts_with_ignoring_case(text, "http://") || starts_with_ignoring_case(text, "https://")) {
    uri.reset(g_strdup(text.c_str()));
  }
  // Anything else would be a scheme or a relative name some handler might run.
  if (!uri) return;
  g_app_info_launch_default_for_uri(uri.get(), nullptr, nullptr);
}

}  // namespace tallow::platform
