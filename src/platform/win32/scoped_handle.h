#pragma once
// A move-only owner of one kernel HANDLE, closed when the owner goes away.

#include <windows.h>

#include <cstdint>

#include "platform/file.h"

namespace tallow::platform::win32 {

class ScopedHandle {
 public:
  ScopedHandle() = default;
  // Takes ownership; both failure values of the API (null and INVALID_HANDLE_VALUE)
  // become the empty state, so callers need not know which one a function returns.
  explicit ScopedHandle(HANDLE handle) : handle_(normalize(handle)) {}
  ScopedHandle(ScopedHandle&& other) noexcept : handle_(other.release()) {}
  ScopedHandle& operator=(ScopedHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ~ScopedHandle() { reset(); }

  bool valid() const { return handle_ != nullptr; }
  explicit operator bool() const { return valid(); }
  HANDLE get() const { return handle_; }

  HANDLE release() {
    HANDLE handle = handle_;
    handle_ = nullptr;
    return handle;
  }

  // Closes the owned handle and takes `handle` instead. The calling thread's last
  // error survives, so an error can still be read after clean-up on a failure path.
  void reset(HANDLE handle = nullptr) {
    handle = normalize(handle);
    if (handle_ != nullptr && handle_ != handle) {
      const DWORD saved = GetLastError();
      CloseHandle(handle_);
      SetLastError(saved);
    }
    handle_ = handle;
  }

 private:
  static HANDLE normalize(HANDLE handle) {
    return handle == INVALID_HANDLE_VALUE ? nullptr : handle;
  }

  HANDLE handle_ = nullptr;
};

// The handle a File holds, or null for an invalid File. The File keeps ownership.
inline HANDLE handle_of(const File& file) {
  return file.valid() ? reinterpret_cast<HANDLE>(file.native()) : nullptr;
}

// Moves an owned handle into a File.
inline File to_file(ScopedHandle handle) {
  return handle ? File(reinterpret_cast<std::intptr_t>(handle.release())) : File();
}

}  // namespace tallow::platform::win32
