#include "platform/command_line.h"

namespace tallow::platform {
namespace {

bool needs_quotes(std::u16string_view argument) {
  if (argument.empty()) return true;
  return argument.find_first_of(u" \t\n\v\"") != std::u16string_view::npos;
}

}  // namespace

std::u16string quote_argument(std::u16string_view argument) {
  if (!needs_quotes(argument)) return std::u16string(argument);

  // Backslashes are literal except in a run that ends at a quote: there the parser
  // halves the run, and an odd count makes the quote literal. So a run is doubled
  // only before a quote of the argument (plus one to escape that quote) and before
  // the closing quote we add.
  std::u16string quoted;
  quoted.reserve(argument.size() + 2);
  quoted += u'"';
  std::size_t backslashes = 0;
  for (const char16_t c : argument) {
    if (c == u'\\') {
      ++backslashes;
      continue;
    }
    if (c == u'"') {
      quoted.append(backslashes * 2 + 1, u'\\');
    } else {
      quoted.append(backslashes, u'\\');
    }
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, u'\\');
  quoted += u'"';
  return quoted;
}

std::u16string build_command_line(std::u16string_view program,
                                  const std::vector<std::u16string>& arguments) {
  // argv[0] is read up to the next quote with no escapes at all, and a Windows path
  // cannot hold a quote, so plain quotes around it are always exact.
  std::u16string line;
  line += u'"';
  line += program;
  line += u'"';
  for (const auto& argument : arguments) {
    line += u' ';
    line += quote_argument(argument);
  }
  return line;
}

}  // namespace tallow::platform
