// Opens the input dialog one or more times in a row and reports each answer, for the
// tests that drive the dialog with real input.
//
//   ask_text_probe DIR COUNT
//
// Asks COUNT times with the enrollment texts, and after the n-th dialog writes
// DIR/answer-n: "none", or "text:" followed by the text's bytes. Each file appears whole
// (written beside and renamed). Exits 0 once every answer is written, 2 on bad
// arguments, 3 when an answer cannot be written.

#include <string>
#include <vector>

#include "agent_side/agent_side.h"
#include "platform/arguments.h"
#include "platform/dialog.h"
#include "platform/environment.h"
#include "platform/file.h"

int main(int argc, char** argv) {
  namespace platform = tallow::platform;
  const std::vector<std::string> arguments = platform::command_line_arguments(argc, argv);
  if (arguments.size() != 2) return 2;
  const auto directory = platform::path_from_text(arguments[0]);
  const int count = std::stoi(arguments[1]);
  for (int n = 1; n <= count; ++n) {
    const auto answer =
        platform::ask_text("Enroll this computer",
                           "Paste the command the hub's web UI shows, or just its code.",
                           "tallowmered enroll \u2026 --hub=\u2026", "Enroll");
    const auto path = directory / ("answer-" + std::to_string(n));
    if (!tallow::agent_side::replace_file_atomically(path, answer ? "text:" + *answer : "none")) return 3;
  }
  return 0;
}
