#include "platform/single_instance.h"

#include <windows.h>

#include "platform/win32/scoped_handle.h"

namespace tallow::platform {

// The mutex is owned by the main thread and never released: the process's end does it.
struct SingleInstance::Guard {
  win32::ScopedHandle mutex;
};

SingleInstance::SingleInstance(Claim state, std::unique_ptr<Guard> guard)
    : state_(state), guard_(std::move(guard)) {}
SingleInstance::SingleInstance(SingleInstance&&) noexcept = default;
SingleInstance& SingleInstance::operator=(SingleInstance&&) noexcept = default;
SingleInstance::~SingleInstance() = default;

SingleInstance SingleInstance::claim() {
  // "Local\": one tray per logon session; other sessions have their own.
  HANDLE mutex = CreateMutexW(nullptr, TRUE, L"Local\\tallowmere-tray");
  const DWORD error = GetLastError();
  auto guard = std::make_unique<Guard>();
  guard->mutex.reset(mutex);
  if (!guard->mutex) return SingleInstance(Claim::unguarded, nullptr);
  if (error == ERROR_ALREADY_EXISTS) return SingleInstance(Claim::already_running, nullptr);
  return SingleInstance(Claim::claimed, std::move(guard));
}

}  // namespace tallow::platform
