#pragma once
// The message box's style, apart so that tests can check it.

#include <windows.h>

namespace tallow::platform::win32 {

// MB_OK, MB_SETFOREGROUND and MB_TOPMOST with the error or the information icon.
UINT message_box_style(bool is_error);

}  // namespace tallow::platform::win32
