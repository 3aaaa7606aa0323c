#include "platform/win32/process/child_stdio.h"

#include <windows.h>

#include "platform/os_error.h"

namespace tallow::platform::win32 {

Result<ScopedHandle> open_null_device(DWORD access) {
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  ScopedHandle device(CreateFileW(L"NUL", access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                  OPEN_EXISTING, 0, nullptr));
  if (!device) return last_os_error();
  return device;
}

namespace {

Result<ScopedHandle> inheritable_duplicate(HANDLE handle) {
  HANDLE duplicate = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &duplicate, 0, TRUE,
                       DUPLICATE_SAME_ACCESS)) {
    return last_os_error();
  }
  return ScopedHandle(duplicate);
}

}  // namespace

Result<ChildStdio> child_stdio(File output) {
  ChildStdio stdio;
  auto input = open_null_device(GENERIC_READ);
  if (!input) return input.error();
  stdio.input = std::move(input.value());

  if (output.valid()) {
    stdio.error = ScopedHandle(reinterpret_cast<HANDLE>(output.release()));
    if (!SetHandleInformation(stdio.error.get(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT)) {
      return last_os_error();
    }
  } else {
    auto sink = open_null_device(GENERIC_WRITE);
    if (!sink) return sink.error();
    stdio.error = std::move(sink.value());
  }

  // Two handles rather than one shared: the inheritance list must name distinct handles.
  auto duplicate = inheritable_duplicate(stdio.error.get());
  if (!duplicate) return duplicate.error();
  stdio.output = std::move(duplicate.value());
  return stdio;
}

}  // namespace tallow::platform::win32
