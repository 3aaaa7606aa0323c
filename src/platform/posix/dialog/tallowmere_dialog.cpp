// The tray's windows on Linux, in a process of their own: GTK takes some twenty
// megabytes that the tray would otherwise keep for the rest of its life after the first
// dialog. The tray starts this program beside itself for each message box, input dialog
// and popup menu (the arguments in dialog_protocol.h), and goes on serving its
// notification item meanwhile. A message box exits 0 once dismissed; the input dialog,
// accepted, writes the field's text exactly as typed and exits 0, and cancelled exits 1;
// the menu writes the picked row's index (kPopupPicked), or exits kPopupClosed or
// kPopupNotShown. Exit 2: bad arguments; 3: no display to open; 4: no answer written.

#include <gtk/gtk.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/notification_text.h"
#include "platform/posix/dialog/dialog_protocol.h"

namespace {

namespace posix = tallow::platform::posix;

constexpr int kDialogWidth = 460;
constexpr int kMargin = 16;
// Where an entry's own text starts, so the hint sits where the text will.
constexpr int kHintIndent = 9;

void settle() {
  for (int i = 0; i < 100 && gtk_events_pending(); ++i) gtk_main_iteration_do(FALSE);
}

void keep_in_front(GtkWindow* window, const char* caption) {
  gtk_window_set_title(window, caption);
  gtk_window_set_keep_above(window, TRUE);
  gtk_window_set_position(window, GTK_WIN_POS_CENTER);
  gtk_window_set_icon_name(window, "tallowmere-tray");
}

// `answer` is the tray's pipe: GLib and GTK log to standard output, which goes to
// standard error instead, so nothing but the answer ever reaches the tray.
int write_answer(std::FILE* answer, const std::string& text) {
  return std::fwrite(text.data(), 1, text.size(), answer) == text.size() && std::fflush(answer) == 0 ? 0 : 4;
}

int show_message(const char* kind, const char* caption, const char* text) {
  const bool is_error = kind == posix::kErrorKind;
  // "%s": the text is shown as it is, never read as a format.
  GtkWidget* box = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, is_error ? GTK_MESSAGE_ERROR : GTK_MESSAGE_INFO,
                                          GTK_BUTTONS_OK, "%s", text);
  // GTK 3 draws no icon of its own for the message type.
  G_GNUC_BEGIN_IGNORE_DEPRECATIONS
  GtkWidget* icon = gtk_image_new_from_icon_name(is_error ? "dialog-error" : "dialog-information", GTK_ICON_SIZE_DIALOG);
  gtk_widget_show(icon);
  gtk_message_dialog_set_image(GTK_MESSAGE_DIALOG(box), icon);
  G_GNUC_END_IGNORE_DEPRECATIONS
  keep_in_front(GTK_WINDOW(box), caption);
  gtk_window_present(GTK_WINDOW(box));
  gtk_dialog_run(GTK_DIALOG(box));
  gtk_widget_destroy(box);
  settle();
  return 0;
}

int ask(const char* caption, const char* prompt, const char* hint, const char* accept_label, std::FILE* answer) {
  GtkWidget* dialog = gtk_dialog_new();
  GtkWindow* window = GTK_WINDOW(dialog);
  keep_in_front(window, caption);
  gtk_window_set_default_size(window, kDialogWidth, -1);
  gtk_window_set_resizable(window, FALSE);
  // Button labels take "_" as the access-key marker; the accept label shows as written.
  const std::string accept = tallow::platform::underscore_label_text(accept_label);
  gtk_dialog_add_button(GTK_DIALOG(dialog), "_Cancel", GTK_RESPONSE_CANCEL);
  gtk_dialog_add_button(GTK_DIALOG(dialog), accept.c_str(), GTK_RESPONSE_ACCEPT);
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);

  GtkWidget* content = gtk_dialog_get_content_area(GTK_DIALOG(dialog));
  gtk_box_set_spacing(GTK_BOX(content), 10);
  g_object_set(content, "margin", kMargin, nullptr);

  GtkWidget* label = gtk_label_new(prompt);
  gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
  gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
  gtk_container_add(GTK_CONTAINER(content), label);

  // GTK 3 hides an entry's placeholder while the entry has the focus, and the field has
  // it from the start; the hint is a dimmed label over the field instead, shown while
  // the field is empty, focused or not.
  GtkWidget* entry = gtk_entry_new();
  gtk_entry_set_activates_default(GTK_ENTRY(entry), TRUE);  // Enter presses the default button
  GtkWidget* overlay = gtk_overlay_new();
  gtk_container_add(GTK_CONTAINER(overlay), entry);
  GtkWidget* hint_label = gtk_label_new(hint);
  gtk_style_context_add_class(gtk_widget_get_style_context(hint_label), "dim-label");
  gtk_widget_set_halign(hint_label, GTK_ALIGN_START);
  gtk_widget_set_margin_start(hint_label, kHintIndent);
  gtk_overlay_add_overlay(GTK_OVERLAY(overlay), hint_label);
  gtk_overlay_set_overlay_pass_through(GTK_OVERLAY(overlay), hint_label, TRUE);
  g_signal_connect(entry, "changed", G_CALLBACK(+[](GtkEditable* field, gpointer label) {
                     gtk_widget_set_visible(GTK_WIDGET(label), gtk_entry_get_text_length(GTK_ENTRY(field)) == 0);
                   }),
                   hint_label);
  gtk_container_add(GTK_CONTAINER(content), overlay);

  gtk_widget_show_all(dialog);
  gtk_widget_grab_focus(entry);
  gtk_window_present(window);

  // Escape and the close box end the run with another response than "accept".
  const bool accepted = gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT;
  std::string text;
  if (accepted) text = gtk_entry_get_text(GTK_ENTRY(entry));
  gtk_widget_destroy(dialog);
  settle();
  return accepted ? write_answer(answer, text) : 1;
}

// A menu asks for the pointer and the keyboard; when another program holds either (its
// own menu is open, a virtual machine has the keyboard, a drag is under way), GTK shows
// nothing and would wait for ever for the menu's end. As menus do, the grab is tried a
// few times over a moment, and then the popup gives up, saying so.
constexpr int kGrabTries = 6;
constexpr gulong kGrabRetryMicroseconds = 50000;

int popup_menu(const std::vector<std::string>& arguments, std::FILE* answer) {
  using tallow::platform::MenuItem;
  const auto rows = posix::popup_rows_from_arguments(arguments);
  if (!rows) return 2;
  GtkWidget* menu = gtk_menu_new();
  int picked = -1;
  for (std::size_t index = 0; index < rows->size(); ++index) {
    const MenuItem& row = (*rows)[index];
    GtkWidget* item = nullptr;
    // Labels take no access-key marker here: the text shows as written.
    switch (row.kind) {
      case MenuItem::Kind::separator: item = gtk_separator_menu_item_new(); break;
      case MenuItem::Kind::check:
        item = gtk_check_menu_item_new_with_label(row.text.c_str());
        gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(item), row.checked);
        break;
      case MenuItem::Kind::text: item = gtk_menu_item_new_with_label(row.text.c_str()); break;
    }
    gtk_widget_set_sensitive(item, row.kind == MenuItem::Kind::separator || row.enabled);
    g_object_set_data(G_OBJECT(item), "row", GINT_TO_POINTER(static_cast<int>(index)));
    g_signal_connect(item, "activate", G_CALLBACK(+[](GtkMenuItem* activated, gpointer result) {
                       *static_cast<int*>(result) = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(activated), "row"));
                     }),
                     &picked);
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
  }
  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  g_signal_connect_swapped(menu, "deactivate", G_CALLBACK(g_main_loop_quit), loop);
  gtk_widget_show_all(menu);
  // At the pointer, where the icon was just clicked; the click is over, so the menu
  // takes the next one.
  for (int tries = 1;; ++tries) {
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    gtk_menu_popup(GTK_MENU(menu), nullptr, nullptr, nullptr, nullptr, 0, GDK_CURRENT_TIME);
    G_GNUC_END_IGNORE_DEPRECATIONS
    if (gtk_widget_get_visible(menu)) break;
    if (tries == kGrabTries) {
      gtk_widget_destroy(menu);
      g_main_loop_unref(loop);
      std::fprintf(stderr, "tallowmere-dialog: the menu cannot be shown: another program holds the pointer or the keyboard\n");
      return posix::kPopupNotShown;
    }
    g_usleep(kGrabRetryMicroseconds);
    settle();
  }
  g_main_loop_run(loop);
  g_main_loop_unref(loop);
  // "activate" follows "deactivate" in the same dispatch; let it arrive.
  settle();
  gtk_widget_destroy(menu);
  if (picked < 0) return posix::kPopupClosed;
  return write_answer(answer, posix::popup_pick_text(static_cast<std::size_t>(picked)));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string mode = argv[1];
  if (!(mode == posix::kMessageMode && argc == 5) && !(mode == posix::kAskMode && argc == 6) &&
      !(mode == posix::kPopupMode && argc >= 3)) {
    return 2;
  }
  const int answer_fd = ::dup(STDOUT_FILENO);
  std::FILE* answer = answer_fd < 0 ? nullptr : ::fdopen(answer_fd, "wb");
  if (!answer || ::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) return 4;
  if (!gtk_init_check(nullptr, nullptr)) {
    const char* display = g_getenv("DISPLAY");
    std::fprintf(stderr, "tallowmere-dialog: cannot open the display %s\n", display ? display : "(none)");
    return 3;
  }
  if (mode == posix::kMessageMode) return show_message(argv[2], argv[3], argv[4]);
  if (mode == posix::kPopupMode) return popup_menu({argv + 2, argv + argc}, answer);
  return ask(argv[2], argv[3], argv[4], argv[5], answer);
}
