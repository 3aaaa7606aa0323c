#pragma once
// Registry tests against a scratch copy of HKEY_CURRENT_USER, so that they never
// touch the user's own Run key or theme setting.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>


namespace tallow::test {

// Maps this process's HKEY_CURRENT_USER onto a fresh empty key while it lives, and
// deletes that key afterwards. Every registry call of the process, the code under
// test's included, then lands in the scratch key.
class ScratchCurrentUser {
 public:
  ScratchCurrentUser() {
    static unsigned counter = 0;
    name_ = L"Software\\tallowmere-tests\\" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(counter++);
    EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, name_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key_, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegOverridePredefKey(HKEY_CURRENT_USER, key_), ERROR_SUCCESS);
  }
  // Keys the code under test keeps open lead into this one, which goes: their next read
  // finds it deleted and opens the key afresh, wherever HKEY_CURRENT_USER leads then.
  ~ScratchCurrentUser() {
    RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    RegCloseKey(key_);
    RegDeleteTreeW(HKEY_CURRENT_USER, name_.c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\tallowmere-tests");  // only when empty
  }
  ScratchCurrentUser(const ScratchCurrentUser&) = delete;
  ScratchCurrentUser& operator=(const ScratchCurrentUser&) = delete;

 private:
  std::wstring name_;
  HKEY key_ = nullptr;
};

struct RegistryValue {
  DWORD type = REG_NONE;
  std::vector<std::uint8_t> data;
};

// A value under HKEY_CURRENT_USER, read whatever its type; none when missing.
inline std::optional<RegistryValue> read_value(const wchar_t* subkey, const wchar_t* name) {
  DWORD size = 0;
  RegistryValue value;
  if (RegGetValueW(HKEY_CURRENT_USER, subkey, name, RRF_RT_ANY | RRF_NOEXPAND, &value.type,
                   nullptr, &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  value.data.resize(size);
  if (RegGetValueW(HKEY_CURRENT_USER, subkey, name, RRF_RT_ANY | RRF_NOEXPAND, &value.type,
                   value.data.data(), &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  value.data.resize(size);
  return value;
}

inline void write_value(const wchar_t* subkey, const wchar_t* name, DWORD type,
                        const void* data, DWORD size) {
  ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, subkey, name, type, data, size), ERROR_SUCCESS);
}

inline void write_string(const wchar_t* subkey, const wchar_t* name, const std::wstring& text) {
  write_value(subkey, name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

inline void write_dword(const wchar_t* subkey, const wchar_t* name, DWORD number) {
  write_value(subkey, name, REG_DWORD, &number, sizeof number);
}

inline bool key_exists(const wchar_t* subkey) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, subkey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

}  // namespace tallow::test
