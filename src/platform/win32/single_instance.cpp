#include "platform/single_instance.h"

#include <windows.h>

#include "platform/win32/scoped_handle.h"

namespace tallow::platform {

SingleInstance SingleInstance::claim() {
  // "Local\": one tray per logon session; other sessions have their own. Owned by the
  // main thread and never released: the process's end does it.
  win32::ScopedHandle mutex(CreateMutexW(nullptr, TRUE, L"Local\\tallowmere-tray"));
  const DWORD error = GetLastError();
  if (!mutex) return SingleInstance(Claim::unguarded, {});
  if (error == ERROR_ALREADY_EXISTS) return SingleInstance(Claim::already_running, {});
  return SingleInstance(Claim::claimed, win32::to_file(std::move(mutex)));
}

}  // namespace tallow::platform
