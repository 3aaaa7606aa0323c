// The input dialog with GTK, loaded for the first one: a prompt over an entry with the
// hint as its placeholder, the accept button as the default and "Cancel". Enter in the
// entry accepts; Escape and the close box cancel.

#include "platform/dialog.h"

#include "platform/notification_text.h"
#include "platform/posix/gtk_library.h"

namespace tallow::platform {
namespace {

// The dialog's width at the toolkit's scale; its height follows its contents.
constexpr int kDialogWidth = 460;
constexpr int kMargin = 16;

}  // namespace

std::optional<std::string> ask_text(std::string_view caption, std::string_view prompt,
                                    std::string_view hint, std::string_view accept_label) {
  const posix::GtkFunctions* gtk = posix::gtk();
  if (!gtk) return std::nullopt;  // no display: nobody could answer

  const std::string caption_text(caption);
  const std::string prompt_text(prompt);
  const std::string hint_text(hint);
  // Button labels take "_" as the access-key marker; these show as written.
  const std::string accept_text = underscore_label_text(accept_label);

  GtkWidget* dialog = gtk->gtk_dialog_new();
  GtkWindow* window = posix::gtk_cast<GtkWindow>(dialog);
  gtk->gtk_window_set_title(window, caption_text.c_str());
  gtk->gtk_window_set_keep_above(window, TRUE);
  gtk->gtk_window_set_position(window, GTK_WIN_POS_CENTER);
  gtk->gtk_window_set_default_size(window, kDialogWidth, -1);
  gtk->gtk_window_set_resizable(window, FALSE);
  gtk->gtk_window_set_icon_name(window, "tallowmere-tray");
  gtk->gtk_dialog_add_button(posix::gtk_cast<GtkDialog>(dialog), "_Cancel", GTK_RESPONSE_CANCEL);
  gtk->gtk_dialog_add_button(posix::gtk_cast<GtkDialog>(dialog), accept_text.c_str(), GTK_RESPONSE_ACCEPT);
  gtk->gtk_dialog_set_default_response(posix::gtk_cast<GtkDialog>(dialog), GTK_RESPONSE_ACCEPT);

  GtkWidget* content = gtk->gtk_dialog_get_content_area(posix::gtk_cast<GtkDialog>(dialog));
  gtk->gtk_box_set_spacing(posix::gtk_cast<GtkBox>(content), 10);
  gtk->gtk_widget_set_margin_start(content, kMargin);
  gtk->gtk_widget_set_margin_end(content, kMargin);
  gtk->gtk_widget_set_margin_top(content, kMargin);
  gtk->gtk_widget_set_margin_bottom(content, kMargin);

  GtkWidget* label = gtk->gtk_label_new(prompt_text.c_str());
  gtk->gtk_label_set_xalign(posix::gtk_cast<GtkLabel>(label), 0.0f);
  gtk->gtk_label_set_line_wrap(posix::gtk_cast<GtkLabel>(label), TRUE);
  gtk->gtk_container_add(posix::gtk_cast<GtkContainer>(content), label);

  GtkWidget* entry = gtk->gtk_entry_new();
  gtk->gtk_entry_set_placeholder_text(posix::gtk_cast<GtkEntry>(entry), hint_text.c_str());
  gtk->gtk_entry_set_activates_default(posix::gtk_cast<GtkEntry>(entry), TRUE);
  gtk->gtk_container_add(posix::gtk_cast<GtkContainer>(content), entry);

  gtk->gtk_widget_show_all(dialog);
  gtk->gtk_widget_grab_focus(entry);
  gtk->gtk_window_present(window);

  std::optional<std::string> answer;
  // The run keeps the main context turning: the bus, the icon and the signals are
  // served while the dialog is open, and picked commands wait in their queue.
  if (gtk->gtk_dialog_run(posix::gtk_cast<GtkDialog>(dialog)) == GTK_RESPONSE_ACCEPT) {
    answer = gtk->gtk_entry_get_text(posix::gtk_cast<GtkEntry>(entry));
  }
  gtk->gtk_widget_destroy(dialog);
  posix::settle_gtk(*gtk);
  return answer;
}

}  // namespace tallow::platform
