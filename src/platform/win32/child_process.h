#pragma once
// A started child process known by its process handle.

#include <windows.h>

#include <memory>

#include "platform/process.h"
#include "platform/win32/scoped_handle.h"

namespace tallow::platform::win32 {

// Owns the process handle only: letting go of it never ends the child.
std::unique_ptr<ChildProcess> make_child_process(ScopedHandle process, DWORD pid);

}  // namespace tallow::platform::win32
