#include "platform/arguments.h"

#include <windows.h>
#include <shellapi.h>

#include "platform/win32/wide_text.h"

namespace tallow::platform {

std::vector<std::string> command_line_arguments(int, char**) {
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> arguments;
  if (wide == nullptr) return arguments;
  for (int i = 1; i < count; ++i) {
    arguments.push_back(win32::utf8_from_wide(wide[i]));
  }
  LocalFree(wide);
  return arguments;
}

}  // namespace tallow::platform
