#include "platform/win32/kept_registry_key.h"

namespace tallow::platform::win32 {

LSTATUS KeptRegistryKey::get_value(const wchar_t* name, DWORD flags, void* data, DWORD* size) {
  const std::lock_guard lock(mutex_);
  const DWORD capacity = size != nullptr ? *size : 0;
  // Twice at most: a key deleted (and perhaps made again) since it was opened is
  // opened anew once.
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (key_ == nullptr) {
      const LSTATUS opened = RegOpenKeyExW(HKEY_CURRENT_USER, subkey_.c_str(), 0, KEY_QUERY_VALUE, &key_);
      if (opened != ERROR_SUCCESS) {
        key_ = nullptr;
        return opened;
      }
    }
    if (size != nullptr) *size = capacity;
    const LSTATUS status = RegGetValueW(key_, nullptr, name, flags, nullptr, data, size);
    if (status != ERROR_KEY_DELETED) return status;
    RegCloseKey(key_);
    key_ = nullptr;
  }
  return ERROR_KEY_DELETED;
}

void KeptRegistryKey::forget() {
  const std::lock_guard lock(mutex_);
  if (key_ != nullptr) RegCloseKey(key_);
  key_ = nullptr;
}

}  // namespace tallow::platform::win32
