#pragma once
// The standard handles of a started child.

#include <windows.h>

#include "common/result.h"
#include "platform/file.h"
#include "platform/win32/scoped_handle.h"

namespace tallow::platform::win32 {

// The tray's own inheritable copies; they are closed once the child has its own.
struct ChildStdio {
  ScopedHandle input;
  ScopedHandle output;
  ScopedHandle error;
};

// The null device, opened inheritable with `access` (GENERIC_READ or GENERIC_WRITE).
Result<ScopedHandle> open_null_device(DWORD access);

// Input from the null device, output to a duplicate of `output`, error to `output`
// itself; all three inheritable. An invalid `output` sends both to the null device.
Result<ChildStdio> child_stdio(File output);

}  // namespace tallow::platform::win32
