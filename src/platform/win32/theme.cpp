#include "platform/theme.h"

#include <windows.h>

namespace tallow::platform {

bool is_light_theme() {
  DWORD value = 0;
  DWORD size = sizeof value;
  const LSTATUS status = RegGetValueW(
      HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize",
      L"SystemUsesLightTheme", RRF_RT_REG_DWORD, nullptr, &value, &size);
  return status == ERROR_SUCCESS && value == 1;
}

}  // namespace tallow::platform
