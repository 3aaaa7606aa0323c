#include "platform/posix/desktop_entry.h"

#include "common/text.h"
#include "platform/environment.h"

namespace tallow::platform::posix {
namespace {

// A string value holds no control character beyond those it has escapes for.
bool fits_desktop_entry(std::string_view text) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && c != '\n' && c != '\t' && c != '\r') || byte == 0x7F) return false;
  }
  return true;
}

}  // namespace

Result<std::string> desktop_entry_text(const std::filesystem::path& program) {
  auto text = program_path_text(program);
  if (!text) return text.error();
  if (!fits_desktop_entry(text.value())) {
    return Error{"The program's path holds a control character, which an autostart entry cannot hold."};
  }
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Version=1.5\n"
         "Name=tallowmered\n"
         "Comment=Shows the tallowmered agent in the notification area\n"
         "Exec=" + desktop_exec_value(text.value()) + "\n"
         "Icon=tallowmere-tray\n"
         "Terminal=false\n"
         "X-GNOME-Autostart-enabled=true\n";
}

std::string desktop_exec_value(std::string_view program) {
  // Inside the quotes ", `, $ and \ take a backslash, and the string value's own escaping
  // then doubles every backslash, so a literal "\" ends up as four.
  std::string value = "\"";
  for (const char c : program) {
    switch (c) {
      case '"':
      case '`':
      case '$': value += "\\\\" + std::string(1, c); break;
      case '\\': value += "\\\\\\\\"; break;
      case '%': value += "%%"; break;  // "%" starts a field code
      case '\n': value += "\\n"; break;
      case '\t': value += "\\t"; break;
      case '\r': value += "\\r"; break;
      default: value += c; break;
    }
  }
  return value + '"';
}

bool desktop_entry_is_hidden(std::string_view text) {
  bool in_main_group = false;
  bool hidden = false;
  while (!text.empty()) {
    const auto end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    line = trim_white_space(line);
    if (line.empty() || line.front() == '#') continue;
    if (line.front() == '[') {
      in_main_group = line == "[Desktop Entry]";
      continue;
    }
    const auto equals = line.find('=');
    if (!in_main_group || equals == std::string_view::npos) continue;
    // Blanks around "=" do not count; a later line of the same key wins.
    if (trim_white_space(line.substr(0, equals)) == "Hidden") {
      hidden = trim_white_space(line.substr(equals + 1)) == "true";
    }
  }
  return hidden;
}

}  // namespace tallow::platform::posix
