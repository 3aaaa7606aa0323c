#pragma once
// Windows icons made from RGBA pixels.

#include "common/result.h"
#include "platform/notification_icon.h"
#include "platform/win32/scoped_handle.h"

namespace tallow::platform::win32 {

// An icon with the pixels' size, colours and alpha: a 32-bit top-down colour bitmap
// and a monochrome mask for whatever ignores alpha.
Result<ScopedIcon> create_icon_from_rgba(const IconImage& pixels);

}  // namespace tallow::platform::win32
