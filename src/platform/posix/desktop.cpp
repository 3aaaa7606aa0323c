// Message boxes with GTK, loaded for the first one; the shell's "open" through GIO's
// default handlers (the desktop's own, as xdg-open would choose).

#include "platform/desktop.h"

#include <cstdio>
#include <string>

#include "platform/posix/glib_ptr.h"
#include "platform/posix/gtk_library.h"

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
  const posix::GtkFunctions* gtk = posix::gtk();
  if (!gtk) {
    write_message_line(caption, text, is_error);
    return;
  }
  const std::string caption_text(caption);
  const std::string body(text);
  // "%s": the text is shown as it is, never read as a format.
  GtkWidget* box = gtk->gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL,
                                               is_error ? GTK_MESSAGE_ERROR : GTK_MESSAGE_INFO,
                                               GTK_BUTTONS_OK, "%s", body.c_str());
  // GTK 3 draws no icon of its own for the message type.
  GtkWidget* icon = gtk->gtk_image_new_from_icon_name(is_error ? "dialog-error" : "dialog-information",
                                                      GTK_ICON_SIZE_DIALOG);
  gtk->gtk_widget_show(icon);
  gtk->gtk_message_dialog_set_image(posix::gtk_cast<GtkMessageDialog>(box), icon);
  gtk->gtk_window_set_title(posix::gtk_cast<GtkWindow>(box), caption_text.c_str());
  gtk->gtk_window_set_keep_above(posix::gtk_cast<GtkWindow>(box), TRUE);
  gtk->gtk_window_set_position(posix::gtk_cast<GtkWindow>(box), GTK_WIN_POS_CENTER);
  gtk->gtk_window_set_icon_name(posix::gtk_cast<GtkWindow>(box), "tallowmere-tray");
  gtk->gtk_window_present(posix::gtk_cast<GtkWindow>(box));
  gtk->gtk_dialog_run(posix::gtk_cast<GtkDialog>(box));
  gtk->gtk_widget_destroy(box);
  posix::settle_gtk(*gtk);
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
