// The input dialog through tallowmere-dialog, the program beside the tray that holds
// GTK: a prompt over a field with the hint as its placeholder, the accept button as
// the default and "Cancel". Enter in the field accepts; Escape and the close box cancel.

#include "platform/dialog.h"

#include "platform/posix/dialog/dialog_helper.h"
#include "platform/posix/dialog/dialog_protocol.h"

namespace tallow::platform {

std::optional<std::string> ask_text(std::string_view caption, std::string_view prompt,
                                    std::string_view hint, std::string_view accept_label) {
  const auto outcome = posix::run_dialog_helper(
      {std::string(posix::kAskMode), std::string(caption), std::string(prompt), std::string(hint), std::string(accept_label)});
  // Exit 0 is an accepted answer, the text exactly as typed; anything else is none.
  if (!outcome || outcome->exit_status != 0) return std::nullopt;
  return outcome->output;
}

}  // namespace tallow::platform
