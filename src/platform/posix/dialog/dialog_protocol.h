#pragma once
// How the tray speaks to tallowmere-dialog, the program that shows its GTK windows:
// written by the tray and read by the dialog program, defined here once. The program's
// first argument says what it shows:
//   message KIND CAPTION TEXT            a message box; KIND is kErrorKind or kInformationKind
//   ask CAPTION PROMPT HINT ACCEPT       the one-line dialog; the text on standard output
//   menu ROW...                          the tray's own popup menu at the pointer

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/menu.h"

namespace tallow::platform::posix {

inline constexpr std::string_view kMessageMode = "message";
inline constexpr std::string_view kAskMode = "ask";
inline constexpr std::string_view kPopupMode = "menu";
inline constexpr std::string_view kErrorKind = "error";
inline constexpr std::string_view kInformationKind = "information";

// How the popup ends: a row picked (its index on standard output), closed without a
// pick, or never shown because another program holds the pointer or the keyboard.
inline constexpr int kPopupPicked = 0;
inline constexpr int kPopupClosed = 1;
inline constexpr int kPopupNotShown = 5;

// One argument a row: its kind ("t" text, "c" check, "s" separator), "1" or "0" for
// enabled, "1" or "0" for checked, then its label as written.
std::vector<std::string> popup_row_arguments(const Menu& menu);

// The rows those arguments stand for, without commands; none when one is malformed.
std::optional<Menu> popup_rows_from_arguments(std::span<const std::string> arguments);

// The pick as the program writes it, and as the tray reads it back: none unless it is
// the index of one of `rows` rows.
std::string popup_pick_text(std::size_t row);
std::optional<std::size_t> popup_pick_from_text(std::string_view text, std::size_t rows);

}  // namespace tallow::platform::posix
