// Opens the input dialog one or more times in a row and reports each answer, for the
// tests that drive the dialog with real input.
//
//   ask_text_probe DIR COUNT [CAPTION PROMPT HINT ACCEPT]
//
// Asks COUNT times (with the enrollment texts unless others are given) and after the
// n-th dialog writes DIR/answer-n: "none", or "text:" followed by the text's bytes.
// Each file appears whole (written beside and renamed), so a test may read it as soon
// as it exists. Exits 0 once every answer is written, 2 on bad arguments, 3 when an
// answer cannot be written.

#include <string>
#include <vector>

#include "platform/arguments.h"
#include "platform/dialog.h"
#include "platform/environment.h"
#include "platform/file.h"

int main(int argc, char** argv) {
  namespace platform = tallow::platform;
  const std::vector<std::string> arguments = platform::command_line_arguments(argc, argv);
  if (arguments.size() != 2 && arguments.size() != 6) return 2;
  const auto directory = platform::path_from_text(arguments[0]);
  const int count = std::stoi(arguments[1]);
  const bool own_texts = arguments.size() == 6;
  const std::string caption = own_texts ? arguments[2] : "Enroll this computer";
  const std::string prompt = own_texts ? arguments[3] : "Paste the command the hub's web UI shows, or just its code.";
  const std::string hint = own_texts ? arguments[4] : "tallowmered enroll \u2026 --hub=\u2026";
  const std::string accept = own_texts ? arguments[5] : "Enroll";

  for (int n = 1; n <= count; ++n) {
    const auto answer = platform::ask_text(caption, prompt, hint, accept);
    const std::string report = answer ? "text:" + *answer : "none";
    if (!platform::replace_file_atomically(directory / ("answer-" + std::to_string(n)), report)) return 3;
  }
  return 0;
}
