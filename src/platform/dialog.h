#pragma once
// The modal one-line text dialog.

#include <optional>
#include <string>
#include <string_view>

namespace tallow::platform {

// Asks the user for one line of text: a window titled `caption` with `prompt` above an
// edit field that shows `hint` while empty, a default button labelled `accept_label`
// and "Cancel". Runs the dialog on the calling thread, which must be allowed to own
// windows, and returns once it is gone: the field's text exactly as typed (possibly
// empty) when accepted, none when cancelled, closed or when no choice could be made.
// Windows of the calling thread keep receiving their messages meanwhile. One dialog per
// thread at a time. Where there is no dialog yet (Linux before the desktop port), none.
std::optional<std::string> ask_text(std::string_view caption, std::string_view prompt,
                                    std::string_view hint, std::string_view accept_label);

}  // namespace tallow::platform
