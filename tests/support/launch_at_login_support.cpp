#include "support/launch_at_login_support.h"

namespace tallow::test {

std::vector<std::string> parse_desktop_exec(std::string_view value) {
  std::string unescaped;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 == value.size()) {
      unescaped += value[i];
      continue;
    }
    switch (value[++i]) {
      case 's': unescaped += ' '; break;
      case 'n': unescaped += '\n'; break;
      case 't': unescaped += '\t'; break;
      case 'r': unescaped += '\r'; break;
      case '\\': unescaped += '\\'; break;
      default: unescaped += '\\'; unescaped += value[i]; break;
    }
  }
  std::string command;
  for (std::size_t i = 0; i < unescaped.size(); ++i) {
    command += unescaped[i];
    if (unescaped[i] != '%') continue;
    // "%%" is a literal "%"; any other "%" starts a field code, which the tray never
    // writes, so a lone one means the writer forgot to double it.
    if (i + 1 == unescaped.size() || unescaped[i + 1] != '%') return {};
    ++i;
  }
  std::vector<std::string> arguments;
  std::size_t i = 0;
  while (i < command.size()) {
    if (command[i] == ' ') {
      ++i;
      continue;
    }
    std::string argument;
    if (command[i] == '"') {
      for (++i; i < command.size() && command[i] != '"'; ++i) {
        if (command[i] == '\\' && i + 1 < command.size() &&
            std::string_view("\"`$\\").find(command[i + 1]) != std::string_view::npos) {
          ++i;
        }
        argument += command[i];
      }
      ++i;  // the closing quote
    } else {
      for (; i < command.size() && command[i] != ' '; ++i) argument += command[i];
    }
    arguments.push_back(argument);
  }
  return arguments;
}

std::vector<std::string> desktop_entry_exec(std::string_view text) {
  bool in_main_group = false;
  while (!text.empty()) {
    const auto end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (line.starts_with('[')) in_main_group = line == "[Desktop Entry]";
    if (in_main_group && line.starts_with("Exec=")) return parse_desktop_exec(line.substr(5));
  }
  return {};
}

}  // namespace tallow::test
