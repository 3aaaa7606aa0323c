#pragma once
// A menu as a plain value: the tray's menu model builds it, each notification area
// draws it as it is.

#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tallow::platform {

// One row of a menu.
struct MenuItem {
  enum class Kind { text, check, separator };

  Kind kind = Kind::separator;
  std::string text;                    // UTF-8, shown exactly as given ("&" is no mnemonic)
  bool enabled = false;
  bool checked = false;                // check items only
  std::optional<std::string> command;  // queued when picked; an item without one queues nothing

  // An enabled row that queues `command` when picked.
  static MenuItem item(std::string text, std::string_view command) {
    return {Kind::text, std::move(text), true, false, std::string(command)};
  }
  // A greyed row that only informs.
  static MenuItem information(std::string text) { return {Kind::text, std::move(text), false, false, {}}; }
  static MenuItem check(std::string text, bool checked, std::string_view command) {
    return {Kind::check, std::move(text), true, checked, std::string(command)};
  }
  static MenuItem separator() { return {}; }

  // The command a pick of this row queues, if any. A greyed row's clicks are not the
  // user's choice (some hosts still report them), and a separator is no choice at all.
  std::optional<std::string_view> picked_command() const {
    if (kind == Kind::separator || !enabled || !command) return std::nullopt;
    return *command;
  }

  bool operator==(const MenuItem&) const = default;
};

using Menu = std::vector<MenuItem>;

// The commands of the rows the user picked, oldest first, kept by the icon whose menu
// showed them until its owner takes them. Main thread only.
class PickedCommands {
 public:
  void add(std::string_view command) { commands_.emplace_back(command); }
  std::optional<std::string> take_oldest() {
    if (commands_.empty()) return std::nullopt;
    std::string oldest = std::move(commands_.front());
    commands_.pop_front();
    return oldest;
  }

 private:
  std::deque<std::string> commands_;
};

}  // namespace tallow::platform
