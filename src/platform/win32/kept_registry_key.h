#pragma once
// A key under HKEY_CURRENT_USER opened once and kept open for reading: the tray reads
// two values on every pass of its loop, and a query on an open key is one round trip
// to the registry where a read by path is three (open, query, close). A missing key is
// looked for again on every read; one deleted while open is opened anew.

#include <windows.h>

#include <mutex>
#include <string>

namespace tallow::platform::win32 {

class KeptRegistryKey {
 public:
  explicit KeptRegistryKey(std::wstring subkey) : subkey_(std::move(subkey)) {}
  ~KeptRegistryKey() { forget(); }
  KeptRegistryKey(const KeptRegistryKey&) = delete;
  KeptRegistryKey& operator=(const KeptRegistryKey&) = delete;

  // RegGetValueW of the value `name` of the key, as if read by the key's path.
  LSTATUS get_value(const wchar_t* name, DWORD flags, void* data, DWORD* size);

  // Closes the key; the next read opens it again.
  void forget();

 private:
  std::mutex mutex_;
  std::wstring subkey_;
  HKEY key_ = nullptr;
};

}  // namespace tallow::platform::win32
