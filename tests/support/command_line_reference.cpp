#include "support/command_line_reference.h"

namespace tallow::test {
namespace {

bool is_blank(char16_t c) { return c == u' ' || c == u'\t'; }

}  // namespace

std::vector<std::u16string> split_command_line(std::u16string_view line) {
  std::vector<std::u16string> argv(1);
  std::size_t i = 0;
  if (i < line.size() && line[i] == u'"') {
    for (++i; i < line.size() && line[i] != u'"'; ++i) argv[0] += line[i];
    if (i < line.size()) ++i;
  } else {
    for (; i < line.size() && !is_blank(line[i]); ++i) argv[0] += line[i];
  }
  for (;;) {
    while (i < line.size() && is_blank(line[i])) ++i;
    if (i == line.size()) return argv;
    std::u16string& argument = argv.emplace_back();
    bool quoted = false;
    while (i < line.size() && (quoted || !is_blank(line[i]))) {
      if (line[i] == u'\\') {
        std::size_t run = 0;
        for (; i < line.size() && line[i] == u'\\'; ++i) ++run;
        const bool before_quote = i < line.size() && line[i] == u'"';
        argument.append(before_quote ? run / 2 : run, u'\\');
        if (before_quote && run % 2 == 1) {
          argument += u'"';
          ++i;
        }
      } else if (line[i] == u'"') {
        if (quoted && i + 1 < line.size() && line[i + 1] == u'"') {
          argument += u'"';
          quoted = false;
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else {
        argument += line[i++];
      }
    }
  }
}

}  // namespace tallow::test
