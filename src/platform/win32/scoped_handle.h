#pragma once
// Move-only owners of the system's objects, each released with its own function when the
// owner goes away: kernel handles, and the window system's icons, menus, bitmaps, fonts
// and windows.

#include <windows.h>

#include <cstdint>

#include "platform/file.h"

namespace tallow::platform::win32 {

template <typename Traits>
class Scoped {
 public:
  using Handle = typename Traits::Handle;

  Scoped() = default;
  // Takes ownership; a kernel handle's other failure value, INVALID_HANDLE_VALUE, becomes
  // the empty state as null does, so callers need not know which one a function returns.
  explicit Scoped(Handle handle) : handle_(Traits::normalize(handle)) {}
  Scoped(Scoped&& other) noexcept : handle_(other.release()) {}
  Scoped& operator=(Scoped&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  Scoped(const Scoped&) = delete;
  Scoped& operator=(const Scoped&) = delete;
  ~Scoped() { reset(); }

  bool valid() const { return handle_ != nullptr; }
  explicit operator bool() const { return valid(); }
  Handle get() const { return handle_; }

  Handle release() {
    Handle handle = handle_;
    handle_ = nullptr;
    return handle;
  }

  // Releases the owned object and takes `handle` instead. The calling thread's last
  // error survives, so an error can still be read after clean-up on a failure path.
  void reset(Handle handle = nullptr) {
    handle = Traits::normalize(handle);
    if (handle_ != nullptr && handle_ != handle) {
      const DWORD saved = GetLastError();
      Traits::release(handle_);
      SetLastError(saved);
    }
    handle_ = handle;
  }

 private:
  Handle handle_ = nullptr;
};

struct KernelHandleTraits {
  using Handle = HANDLE;
  static HANDLE normalize(HANDLE handle) { return handle == INVALID_HANDLE_VALUE ? nullptr : handle; }
  static void release(HANDLE handle) { CloseHandle(handle); }
};

template <typename H, auto Release>
struct GuiObjectTraits {
  using Handle = H;
  static H normalize(H handle) { return handle; }
  static void release(H handle) { Release(handle); }
};

using ScopedHandle = Scoped<KernelHandleTraits>;
using ScopedIcon = Scoped<GuiObjectTraits<HICON, &DestroyIcon>>;
using ScopedMenu = Scoped<GuiObjectTraits<HMENU, &DestroyMenu>>;
using ScopedBitmap = Scoped<GuiObjectTraits<HBITMAP, &DeleteObject>>;
using ScopedFont = Scoped<GuiObjectTraits<HFONT, &DeleteObject>>;
// Destroying a window also destroys its child windows.
using ScopedWindow = Scoped<GuiObjectTraits<HWND, &DestroyWindow>>;

// The handle a File holds, or null for an invalid File. The File keeps ownership.
inline HANDLE handle_of(const File& file) {
  return file.valid() ? reinterpret_cast<HANDLE>(file.native()) : nullptr;
}

// Moves an owned handle into a File.
inline File to_file(ScopedHandle handle) {
  return handle ? File(reinterpret_cast<std::intptr_t>(handle.release())) : File();
}

}  // namespace tallow::platform::win32
