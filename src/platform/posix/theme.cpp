#include "platform/theme.h"

namespace tallow::platform {

// Dark panels are the common default; the desktop's own colour scheme comes later.
bool is_light_theme() { return false; }

}  // namespace tallow::platform
