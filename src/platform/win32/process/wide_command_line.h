#pragma once
// A program and its UTF-8 arguments as the wide command line CreateProcessW takes.

#include <filesystem>
#include <string>
#include <vector>

#include "platform/command_line.h"
#include "platform/win32/wide_text.h"

namespace tallow::platform::win32 {

inline std::wstring wide_command_line(const std::filesystem::path& program,
                                      const std::vector<std::string>& arguments) {
  std::vector<std::u16string> wide_arguments;
  wide_arguments.reserve(arguments.size());
  for (const auto& argument : arguments) wide_arguments.push_back(utf8_to_utf16(argument));
  return to_wide(build_command_line(to_u16(program.native()), wide_arguments));
}

}  // namespace tallow::platform::win32
