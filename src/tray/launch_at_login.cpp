#include "tray/launch_at_login.h"

#include "platform/environment.h"

namespace tallow {
namespace {

std::string_view trim_blanks(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// A string value holds no control character beyond those it has escapes for.
bool fits_desktop_entry(std::string_view text) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && c != '\n' && c != '\t' && c != '\r') || byte == 0x7F) return false;
  }
  return true;
}

std::string desktop_entry(const std::string& program) {
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Version=1.5\n"
         "Name=tallowmered\n"
         "Comment=Shows the tallowmered agent in the notification area\n"
         "Exec=" + desktop_exec_value(program) + "\n"
         "Icon=tallowmere-tray\n"
         "Terminal=false\n"
         "X-GNOME-Autostart-enabled=true\n";
}

Result<void> write_entry_for(const std::filesystem::path& program) {
  auto entry = autostart_entry_text(platform::autostart_format(), program);
  if (!entry) return entry.error();
  return platform::write_autostart_entry(entry.value());
}

}  // namespace

bool autostart_entry_counts(platform::AutostartFormat format,
                            const std::optional<std::string>& entry) {
  if (!entry) return false;
  return format == platform::AutostartFormat::command_line || !desktop_entry_is_hidden(*entry);
}

bool is_launch_at_login_enabled() {
  return autostart_entry_counts(platform::autostart_format(), platform::read_autostart_entry());
}

Result<std::string> autostart_entry_text(platform::AutostartFormat format,
                                         const std::filesystem::path& program) {
  // A path that does not survive as text would start some other file, or none.
  const std::string text = platform::path_text(program);
  if (platform::path_from_text(text).native() != program.native()) {
    return Error{"The program's path is not valid Unicode: " + text};
  }
  if (format == platform::AutostartFormat::command_line) return "\"" + text + "\"";
  if (!fits_desktop_entry(text)) {
    return Error{"The program's path holds a control character, which an autostart entry cannot hold."};
  }
  return desktop_entry(text);
}

Result<void> toggle_launch_at_login(const std::filesystem::path& program) {
  if (is_launch_at_login_enabled()) return platform::remove_autostart_entry();
  return write_entry_for(program);
}

Result<void> toggle_launch_at_login() {
  // Switching off needs no path, so it works even when the path cannot be told.
  if (is_launch_at_login_enabled()) return platform::remove_autostart_entry();
  auto program = platform::executable_path_or_error();
  if (!program) return program.error();
  return write_entry_for(program.value());
}

std::string desktop_exec_value(std::string_view program) {
  std::string value = "\"";
  for (const char c : program) {
    switch (c) {
      // Inside the quotes these four take a backslash; the string escaping below
      // then doubles every backslash, so a literal "\" ends up as four.
      case '"':
      case '`':
      case '$':
      case '\\':
        value += '\\';
        value += c;
        break;
      case '%': value += "%%"; break;  // "%" starts a field code
      default: value += c; break;
    }
  }
  value += '"';
  std::string escaped;
  for (const char c : value) {
    switch (c) {
      case '\\': escaped += "\\\\"; break;
      case '\n': escaped += "\\n"; break;
      case '\t': escaped += "\\t"; break;
      case '\r': escaped += "\\r"; break;
      default: escaped += c; break;
    }
  }
  return escaped;
}

bool desktop_entry_is_hidden(std::string_view text) {
  bool in_main_group = false;
  bool hidden = false;
  while (!text.empty()) {
    const auto end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    line = trim_blanks(line);
    if (line.empty() || line.front() == '#') continue;
    if (line.front() == '[') {
      in_main_group = line == "[Desktop Entry]";
      continue;
    }
    const auto equals = line.find('=');
    if (!in_main_group || equals == std::string_view::npos) continue;
    // Blanks around "=" do not count; a later line of the same key wins.
    if (trim_blanks(line.substr(0, equals)) == "Hidden") {
      hidden = trim_blanks(line.substr(equals + 1)) == "true";
    }
  }
  return hidden;
}

}  // namespace tallow
