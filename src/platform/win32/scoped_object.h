#pragma once
// Move-only owners of USER and GDI objects (windows, fonts), released when the owner
// goes away.

#include <windows.h>

namespace tallow::platform::win32 {

template <typename Handle, typename Traits>
class ScopedObject {
 public:
  ScopedObject() = default;
  explicit ScopedObject(Handle handle) : handle_(handle) {}
  ScopedObject(ScopedObject&& other) noexcept : handle_(other.release()) {}
  ScopedObject& operator=(ScopedObject&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ScopedObject(const ScopedObject&) = delete;
  ScopedObject& operator=(const ScopedObject&) = delete;
  ~ScopedObject() { reset(); }

  explicit operator bool() const { return handle_ != nullptr; }
  Handle get() const { return handle_; }

  Handle release() {
    Handle handle = handle_;
    handle_ = nullptr;
    return handle;
  }

  // Releases the owned object and takes `handle` instead, keeping the thread's last error.
  void reset(Handle handle = nullptr) {
    if (handle_ != nullptr && handle_ != handle) {
      const DWORD saved = GetLastError();
      Traits::close(handle_);
      SetLastError(saved);
    }
    handle_ = handle;
  }

 private:
  Handle handle_ = nullptr;
};

struct FontTraits {
  static void close(HFONT font) { DeleteObject(font); }
};

// Destroying a window also destroys its child windows.
struct WindowTraits {
  static void close(HWND window) { DestroyWindow(window); }
};

using ScopedFont = ScopedObject<HFONT, FontTraits>;
using ScopedWindow = ScopedObject<HWND, WindowTraits>;

}  // namespace tallow::platform::win32
