#include "platform/theme.h"

#include <windows.h>

#include "platform/win32/kept_registry_key.h"

namespace tallow::platform {

bool is_light_theme() {
  // Read on every pass of the tray's loop.
  static win32::KeptRegistryKey personalize(L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize");
  DWORD value = 0;
  DWORD size = sizeof value;
  const LSTATUS status = personalize.get_value(L"SystemUsesLightTheme", RRF_RT_REG_DWORD, &value, &size);
  return status == ERROR_SUCCESS && value == 1;
}

bool is_theme_known() { return true; }

}  // namespace tallow::platform
