#pragma once
// Reading another process's open menu and message box from inside it. Under Wine 8 a
// menu handle means nothing outside its process, and icon handles differ between
// processes, so the test starts a thread in the other process that runs a reader from
// a small DLL (helpers/win32/window_probe.cpp) and writes what it saw to a file.
// The other process must be one the test may debug (its own child, same user).

#include <windows.h>

#include <chrono>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "support/win32/notification_icon_driver.h"

namespace tallow::test::win32 {

// The items of the popup menu that `process_id` shows now; none when it shows none.
// `highlighted` tells which item the keyboard is on.
struct ProbedMenuItem {
  ShownMenuItem item;
  bool highlighted = false;
};
std::optional<std::vector<ProbedMenuItem>> probe_open_menu(DWORD process_id);

// The message box that `process_id` shows now.
struct ShownMessageBox {
  std::string icon;  // "error", "information", "none" or "other"
  std::string caption;
  std::string text;
  bool operator==(const ShownMessageBox&) const = default;
};
std::optional<ShownMessageBox> probe_message_box(DWORD process_id);

// One item a line when a comparison fails.
inline void PrintTo(const ShownMenuItem& item, std::ostream* out) {
  if (item.separator) {
    *out << "\n  ----";
    return;
  }
  *out << "\n  \"" << item.label << "\"" << (item.grayed ? " grayed" : "") << (item.checked ? " checked" : "");
}
inline void PrintTo(const ShownMessageBox& box, std::ostream* out) {
  *out << "[" << box.icon << "] \"" << box.caption << "\": \"" << box.text << "\"";
}

// Parsers of the reader's output, apart for tests.
std::vector<ProbedMenuItem> parse_probed_menu(const std::string& lines);
ShownMessageBox parse_probed_message_box(const std::string& text);

}  // namespace tallow::test::win32
