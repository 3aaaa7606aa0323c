#pragma once
// Move-only owners of the window system's objects: icons, menus, bitmaps, fonts and windows,
// each released with its own function when the owner goes away.

#include <windows.h>

namespace tallow::platform::win32 {

template <typename Traits>
class ScopedGuiObject {
 public:
  using Handle = typename Traits::Handle;

  ScopedGuiObject() = default;
  explicit ScopedGuiObject(Handle handle) : handle_(handle) {}
  ScopedGuiObject(ScopedGuiObject&& other) noexcept : handle_(other.release()) {}
  ScopedGuiObject& operator=(ScopedGuiObject&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ScopedGuiObject(const ScopedGuiObject&) = delete;
  ScopedGuiObject& operator=(const ScopedGuiObject&) = delete;
  ~ScopedGuiObject() { reset(); }

  explicit operator bool() const { return handle_ != nullptr; }
  Handle get() const { return handle_; }

  Handle release() {
    Handle handle = handle_;
    handle_ = nullptr;
    return handle;
  }

  // Releases the owned object and takes `handle` instead, keeping the thread's last
  // error, so an error can still be read after clean-up on a failure path.
  void reset(Handle handle = nullptr) {
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

struct IconTraits {
  using Handle = HICON;
  static void release(HICON icon) { DestroyIcon(icon); }
};

struct MenuTraits {
  using Handle = HMENU;
  static void release(HMENU menu) { DestroyMenu(menu); }
};

struct BitmapTraits {
  using Handle = HBITMAP;
  static void release(HBITMAP bitmap) { DeleteObject(bitmap); }
};

struct FontTraits {
  using Handle = HFONT;
  static void release(HFONT font) { DeleteObject(font); }
};

// Destroying a window also destroys its child windows.
struct WindowTraits {
  using Handle = HWND;
  static void release(HWND window) { DestroyWindow(window); }
};

using ScopedIcon = ScopedGuiObject<IconTraits>;
using ScopedMenu = ScopedGuiObject<MenuTraits>;
using ScopedBitmap = ScopedGuiObject<BitmapTraits>;
using ScopedFont = ScopedGuiObject<FontTraits>;
using ScopedWindow = ScopedGuiObject<WindowTraits>;

}  // namespace tallow::platform::win32
